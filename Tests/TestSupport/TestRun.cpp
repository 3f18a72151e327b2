#include "TestSupport/TestRun.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace quorvane {

int runAllTests()
{
    const int result = RUN_ALL_TESTS();
    if (result != 0 || testing::UnitTest::GetInstance()->successful_test_count() > 0)
        return result;
    std::printf("No test ran: each was skipped, or none was selected.\n");
    return skippedRunExitCode;
}

} // namespace quorvane

#include "ConcurrencyTestSupport.h"

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Yield.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

Task<void> noteAroundYields(Journal& journal, std::string name)
{
    journal.note(name + "1");
    co_await yield();
    journal.note(name + "2");
    co_await yield();
    journal.note(name + "3");
}

TEST(YieldTest, ResumesBehindWorkAlreadyQueued)
{
    ManualExecutor executor;
    Journal journal(executor);
    spawn(noteAroundYields(journal, "a"));
    spawn(noteAroundYields(journal, "b"));
    executor.post([&] { journal.note("posted"); });
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries,
        (std::vector<std::string>{"a1 at 0 ms", "b1 at 0 ms", "posted at 0 ms", "a2 at 0 ms",
            "b2 at 0 ms", "a3 at 0 ms", "b3 at 0 ms"}));
}

} // namespace
} // namespace quorvane

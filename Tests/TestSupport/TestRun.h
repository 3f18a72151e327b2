// How a test program ends, so that CTest tells a run that tested nothing from one that passed.
#pragma once

namespace quorvane {

/// The exit status CTest counts as skipped (each test's SKIP_RETURN_CODE).
inline constexpr int skippedRunExitCode = QUORVANE_SKIP_EXIT_CODE;

/// RUN_ALL_TESTS(), except that a run in which no test passed and none failed (every test
/// skipped, or none selected) says so and ends with skippedRunExitCode.
[[nodiscard]] int runAllTests();

} // namespace quorvane

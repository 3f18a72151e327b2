// ManualExecutor.h: an executor on virtual time that moves only when a test says so.
#pragma once

#include "Concurrency/Executor.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// Runs work only inside advance() and runUntilIdle(), so a test decides exactly when every
/// piece runs and what time it sees. The continuous clock starts at its epoch, the calendar
/// clock at `wallStart`, and both move together. Work it runs must not call advance() or
/// runUntilIdle() itself.
///
/// Work run elsewhere (Executor::runElsewhere) runs as posted work on this executor, unless it
/// is made with a worker thread: then it runs there, as in the application, and advance() and
/// runUntilIdle() wait for it whenever nothing else is due.
///
/// An error other than cancellation that ends a spawned task is kept; a test that expects one
/// takes it with takeEscapedErrors(). Those still kept when the executor is destroyed go to the
/// handler set with setUnexpectedErrorHandler() (TestSupport makes them fail the running test),
/// or without one abort the program.
class ManualExecutor final : public Executor {
public:
    using UnexpectedErrorHandler = void (*)(std::string_view text);

    static constexpr std::chrono::system_clock::time_point defaultWallStart
        = std::chrono::sys_days(std::chrono::year(2025) / 1 / 1);

    /// Where work given to run elsewhere runs.
    enum class Elsewhere { onExecutor, onWorkerThread };

    explicit ManualExecutor(std::chrono::system_clock::time_point wallStart = defaultWallStart);
    explicit ManualExecutor(
        Elsewhere elsewhere, std::chrono::system_clock::time_point wallStart = defaultWallStart);
    ~ManualExecutor() override;

    /// Moves time forward by `duration`, running everything due on the way in time order (work
    /// for the same time in posting order), including work posted meanwhile, and stops at the
    /// target time with the work due after it still queued. Each piece runs with the clocks at
    /// its own due time. Saturates at the end of the clock.
    void advance(ContinuousClock::duration duration);
    /// Runs everything due now, including work posted meanwhile, without moving time. Does not
    /// return while tasks keep yielding to each other.
    void runUntilIdle();
    /// Sets the calendar clock forward or back by `offset`, as a user or a time server would; the
    /// continuous clock and the work queued on it are not touched.
    void shiftWallClock(std::chrono::system_clock::duration offset);

    /// The texts of the errors that ended spawned tasks since the last call, oldest first.
    [[nodiscard]] std::vector<std::string> takeEscapedErrors();

    static void setUnexpectedErrorHandler(UnexpectedErrorHandler handler) noexcept;

private:
    class VirtualHost;

    VirtualHost& virtualHost() const noexcept;
    void runDueBy(ContinuousClock::time_point limit);
};

} // namespace quorvane

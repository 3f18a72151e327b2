// ManualExecutor.h: an executor on virtual time that moves only when a test says so.
#pragma once

#include "Concurrency/Executor.h"

#include <chrono>
#include <compare>
#include <cstdint>
#include <map>

namespace quorvane {

/// Runs work only inside advance() and runUntilIdle(), so a test decides exactly when every
/// piece runs and what time it sees. The continuous clock starts at its epoch, the calendar
/// clock at `wallStart`, and both move together. Work it runs must not call advance() or
/// runUntilIdle() itself.
class ManualExecutor final : public Executor {
public:
    static constexpr std::chrono::system_clock::time_point defaultWallStart
        = std::chrono::sys_days(std::chrono::year(2025) / 1 / 1);

    explicit ManualExecutor(std::chrono::system_clock::time_point wallStart = defaultWallStart);
    ~ManualExecutor() override;

    [[nodiscard]] ContinuousClock::time_point now() const override { return m_now; }
    [[nodiscard]] std::chrono::system_clock::time_point wallNow() const override;

    /// Moves time forward by `duration`, running everything due on the way in time order (work
    /// for the same time in posting order), including work posted meanwhile, and stops at the
    /// target time with the work due after it still queued. Each piece runs with the clocks at
    /// its own due time.
    void advance(ContinuousClock::duration duration);
    /// Runs everything due now, including work posted meanwhile, without moving time. Does not
    /// return while tasks keep yielding to each other.
    void runUntilIdle();

private:
    struct QueuePosition {
        ContinuousClock::time_point time;
        std::uint64_t sequence;
        auto operator<=>(const QueuePosition&) const = default;
    };

    void enqueue(Work work) override;
    void enqueueAt(ContinuousClock::time_point time, Work work) override;
    /// Runs the earliest queued work when it is due by `limit`; false when none is.
    bool runNextDueBy(ContinuousClock::time_point limit);

    std::map<QueuePosition, Work> m_queue;
    std::uint64_t m_nextSequence = 0;
    ContinuousClock::time_point m_now;
    std::chrono::system_clock::time_point m_wallStart;
    bool m_isRunning = false;
};

} // namespace quorvane

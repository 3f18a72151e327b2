// Executor.h: where tasks run and what time it is. The application runs everything on one
// executor, one piece of work at a time, and reads the time only from it.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

namespace quorvane {

namespace detail {
class SpawnedTask;
}

/// A monotonic clock that keeps counting while the system sleeps (CLOCK_BOOTTIME), with
/// nanosecond ticks. Its time points are what Executor::now() returns; only a real-time executor
/// reads the clock itself.
struct ContinuousClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<ContinuousClock>;
    static constexpr bool is_steady = true;

    [[nodiscard]] static time_point now() noexcept;
};

/// Runs posted work one piece at a time, never inline, from one ordered queue: by due time, and
/// work due at the same time in posting order. Owns the frames of the tasks spawned onto it
/// (Spawn.h).
///
/// A kind of executor differs only in its Host: the clocks, and how it gets woken to run the
/// queue's next work (virtual time in tests, an event loop's posted event and timer in the
/// application). The executor owns its host, so the clocks outlive every frame it destroys.
///
/// Constructing an executor makes it the current one for spawn(Task) outside running tasks until
/// it is destroyed (then the one constructed before it is current again). Destroying it destroys
/// the frames of its unfinished tasks without running them; work they post meanwhile is dropped.
class Executor {
public:
    using Work = std::function<void()>;

    /// What a kind of executor supplies.
    class Host {
    public:
        virtual ~Host() = default;

        /// The continuous clock.
        [[nodiscard]] virtual ContinuousClock::time_point now() const = 0;
        /// Calendar time, for dates that are stored or shown.
        [[nodiscard]] virtual std::chrono::system_clock::time_point wallNow() const = 0;
        /// Asks to have Executor::runNextDue() called once the continuous clock reaches
        /// `deadline` (at once when it has); replaces the deadline asked for before. Never
        /// runs work itself.
        virtual void wakeAt(ContinuousClock::time_point deadline) = 0;
        /// An error other than cancellation ended a spawned task: a bug. Writes its text to
        /// standard error unless the host knows better.
        virtual void reportEscapedError(std::string_view text);
        /// Runs `work` on a thread of the host's own (WorkerThread.h), then posts `done` onto
        /// `executor` unless it is gone by then. Without such a thread (the default) both run on
        /// the executor, in turn, as posted work.
        virtual void runElsewhere(Executor& executor, Work work, Work done);
    };

    explicit Executor(std::unique_ptr<Host> host);
    virtual ~Executor();

    // Tasks and queued work refer to their executor by address.
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    /// Queues work to run after everything already queued for now. Never runs it inline.
    void post(Work work);
    /// Queues work to run once the continuous clock reaches `time`; a time already past runs as
    /// soon as posted work would.
    void postAt(ContinuousClock::time_point time, Work work);

    /// Runs `work` away from the executor's thread, where the host has a worker thread, then
    /// posts `done`; see Host::runElsewhere. Work given here runs in the order given.
    void runElsewhere(Work work, Work done);

    /// The continuous clock.
    [[nodiscard]] ContinuousClock::time_point now() const { return m_host->now(); }
    /// Calendar time, for dates that are stored or shown.
    [[nodiscard]] std::chrono::system_clock::time_point wallNow() const
    {
        return m_host->wallNow();
    }

    /// Inside a running task, its executor; otherwise the most recently constructed executor
    /// still alive; null when there is none.
    [[nodiscard]] static Executor* current() noexcept;

protected:
    /// Runs the earliest queued work if the continuous clock has reached its time; false when
    /// nothing was due. Asks the host to be woken for the work queued after it, if any. The work
    /// may destroy the executor.
    bool runNextDue();

    [[nodiscard]] Host& host() const noexcept { return *m_host; }

private:
    friend class detail::SpawnedTask; // registers itself while its frame lives

    struct QueuePosition {
        ContinuousClock::time_point time;
        std::uint64_t sequence;
        auto operator<=>(const QueuePosition&) const = default;
    };

    /// Takes a new task into this executor's care; false once the executor is being destroyed.
    [[nodiscard]] bool adopt(std::shared_ptr<detail::SpawnedTask> task);
    void forget(const detail::SpawnedTask& task) noexcept;
    /// Reports an error that ended a task, unless it is a cancellation.
    void reportIfEscaped(const std::exception_ptr& error) noexcept;

    std::unique_ptr<Host> m_host;
    Executor* m_installedBefore;
    std::map<QueuePosition, Work> m_queue;
    std::uint64_t m_nextSequence = 0;
    /// By spawn number, so that they are destroyed oldest first.
    std::map<std::uint64_t, std::shared_ptr<detail::SpawnedTask>> m_liveTasks;
    bool m_isShuttingDown = false;
};

} // namespace quorvane

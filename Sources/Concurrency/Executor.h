// Executor.h: where tasks run and what time it is. The application runs everything on one
// executor, one piece of work at a time, and reads the time only from it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

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

/// Runs posted work one piece at a time, in order, never inline, and owns the frames of the
/// tasks spawned onto it (Spawn.h).
///
/// An implementation overrides enqueue() and enqueueAt(), which post() and postAt() call unless
/// the executor is being destroyed, and the two clocks: a test executor on virtual time
/// (ManualExecutor), the application's event-loop executor with real timers. Work posted for the
/// same time must run in posting order.
///
/// Constructing an executor makes it the current one for spawn(Task) outside running tasks until
/// it is destroyed (then the one constructed before it is current again). Destroying it destroys
/// the frames of its unfinished tasks without running them; work they post meanwhile is dropped.
class Executor {
public:
    using Work = std::function<void()>;

    Executor();
    virtual ~Executor();

    // Tasks and queued work refer to their executor by address.
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    /// Queues work to run after everything already queued for now. Never runs it inline.
    void post(Work work);
    /// Queues work to run once the continuous clock reaches `time`; a time already past runs as
    /// soon as posted work would.
    void postAt(ContinuousClock::time_point time, Work work);

    /// The continuous clock.
    [[nodiscard]] virtual ContinuousClock::time_point now() const = 0;
    /// Calendar time, for dates that are stored or shown.
    [[nodiscard]] virtual std::chrono::system_clock::time_point wallNow() const = 0;

    /// Inside a running task, its executor; otherwise the most recently constructed executor
    /// still alive; null when there is none.
    [[nodiscard]] static Executor* current() noexcept;

protected:
    /// Destroys the frames of all unfinished tasks without running them and drops everything
    /// posted from then on. The base destructor does it too; an implementation calls it first
    /// in its own destructor so that the frames' destructors still find a working executor.
    void destroySuspendedTasks() noexcept;

private:
    friend class detail::SpawnedTask; // registers itself while its frame lives

    virtual void enqueue(Work work) = 0;
    virtual void enqueueAt(ContinuousClock::time_point time, Work work) = 0;

    /// Takes a new task into this executor's care; false once the executor is being destroyed.
    [[nodiscard]] bool adopt(std::shared_ptr<detail::SpawnedTask> task);
    void forget(const detail::SpawnedTask& task) noexcept;

    Executor* m_installedBefore;
    /// By spawn number, so that they are destroyed oldest first.
    std::map<std::uint64_t, std::shared_ptr<detail::SpawnedTask>> m_liveTasks;
    bool m_isShuttingDown = false;
};

} // namespace quorvane

// Spawn.h: starting a task on an executor, and the handle that cancels it or waits for its end.
#pragma once

#include "Concurrency/Executor.h"
#include "Concurrency/Suspension.h"
#include "Concurrency/Task.h"

#include <cassert>
#include <coroutine>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

namespace quorvane {

class TaskHandle;

namespace detail {
TaskHandle spawnFrame(
    Executor& executor, std::coroutine_handle<> frame, const TaskPromiseBase& promise);
}

/// A spawned task, seen from outside. Handles compare equal when they refer to the same task,
/// and are cheap to copy.
///
/// Dropping every handle neither cancels nor frees the task: it runs to its end, and then its
/// executor frees its frame.
class TaskHandle final {
public:
    /// Waits until the task has finished, whatever its outcome: a value, an error or
    /// cancellation. Suspends unless the task has already finished; the task's end resumes the
    /// waiter through the waiter's executor. Any number of waiters may wait. Never throws: the
    /// task's error stays with the task, and cancelling the waiting task does not end the wait
    /// (check for cancellation after it when that matters).
    class Awaiter final {
    public:
        explicit Awaiter(std::shared_ptr<detail::SpawnedTask> task) noexcept;
        ~Awaiter();

        // The task keeps the address of a suspended awaiter.
        Awaiter(const Awaiter&) = delete;
        Awaiter& operator=(const Awaiter&) = delete;

        [[nodiscard]] bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> handle);
        void await_resume() const noexcept { }

    private:
        friend class detail::SpawnedTask;

        /// Called once by the task when it finishes.
        void taskDidFinish();

        std::shared_ptr<detail::SpawnedTask> m_task;
        std::optional<detail::Suspension> m_waiter;
    };

    /// Asks the task to stop: its stop token is signalled, a sleep in progress ends at once with
    /// CancellationError, and its checks for cancellation throw. The task decides when it ends;
    /// one that has not started yet still starts. Nothing happens once it has finished.
    void cancel() const noexcept;

    /// True once the task's body has ended (returned, thrown or been destroyed with its
    /// executor).
    [[nodiscard]] bool isFinished() const noexcept;

    [[nodiscard]] Awaiter operator co_await() const noexcept { return Awaiter(m_task); }

    bool operator==(const TaskHandle&) const = default;

private:
    friend TaskHandle detail::spawnFrame(
        Executor& executor, std::coroutine_handle<> frame, const detail::TaskPromiseBase& promise);

    explicit TaskHandle(std::shared_ptr<detail::SpawnedTask> task) noexcept;

    std::shared_ptr<detail::SpawnedTask> m_task;
};

/// Starts `task` on `executor` as a task of its own: queued behind the work already posted,
/// never run inline. The task gets its own stop source, so cancelling the task that spawns it
/// does not cancel it (this is how work that must finish is shielded from its caller's
/// cancellation: spawn it and await its handle). A value the task returns is dropped. An error
/// other than cancellation that ends it is a bug: its executor reports it (Executor::Host), and
/// its handle's waiters resume as usual. So a task catches what it must show.
///
/// Never spawn a lambda coroutine that captures: the closure dies at the end of the statement,
/// before the task runs. Spawn a named function and pass what it needs as parameters.
template <typename T> TaskHandle spawn(Executor& executor, Task<T> task)
{
    const auto frame = detail::TaskAccess::releaseFrame(std::move(task));
    return detail::spawnFrame(executor, frame, frame.promise());
}

/// spawn() on Executor::current(): the running task's executor, or outside tasks the most
/// recently constructed live executor. Asserts that there is one.
template <typename T> TaskHandle spawn(Task<T> task)
{
    Executor* const executor = Executor::current();
    assert(executor && "spawn() without an executor; construct one first");
    return spawn(*executor, std::move(task));
}

} // namespace quorvane

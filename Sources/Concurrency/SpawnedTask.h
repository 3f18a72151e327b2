// SpawnedTask.h: the state of one spawned task, shared by its executor, its handles and the
// awaitables it waits on. Internal to the runtime.
#pragma once

#include "Concurrency/Spawn.h"

#include <coroutine>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <vector>

namespace quorvane {

class Executor;

namespace detail {

/// Owns the frame of the task's outermost coroutine; the frames it awaits are owned through it.
/// Every resumption from outside goes through resume(), which marks the task as the running one
/// (for cancellation checks, Executor::current() and the awaitables), runs the loop that passes
/// control between the task's coroutines, and frees the frame once the body has ended.
class SpawnedTask final : public std::enable_shared_from_this<SpawnedTask> {
public:
    /// `promise` is the promise of `frame`, which keeps what the body threw.
    SpawnedTask(
        Executor& executor, std::coroutine_handle<> frame, const TaskPromiseBase& promise) noexcept;
    ~SpawnedTask();

    SpawnedTask(const SpawnedTask&) = delete;
    SpawnedTask& operator=(const SpawnedTask&) = delete;

    /// The task whose coroutine is executing now; null between pieces of work.
    [[nodiscard]] static SpawnedTask* running() noexcept;

    [[nodiscard]] Executor& executor() const noexcept { return m_executor; }
    /// Counts spawns in this process: a later task has a higher number.
    [[nodiscard]] std::uint64_t spawnNumber() const noexcept { return m_spawnNumber; }
    [[nodiscard]] std::stop_token stopToken() const noexcept { return m_stopSource.get_token(); }
    void requestStop() noexcept { m_stopSource.request_stop(); }
    [[nodiscard]] bool isFinished() const noexcept { return !m_frame; }

    /// Hands the task to its executor and posts its first resumption.
    void start();
    /// Resumes `handle`, a coroutine of this task, as the running task. Does nothing once the
    /// frame is gone. When the body ends, reports an error that ended it and frees the frame.
    void resume(std::coroutine_handle<> handle);
    /// Destroys the frame without running it any further; for the executor's destruction. A
    /// task abandoned while it runs loses its frame as soon as its running coroutine suspends.
    void abandon() noexcept;

    void addWaiter(TaskHandle::Awaiter& waiter);
    void removeWaiter(const TaskHandle::Awaiter& waiter) noexcept;

private:
    friend void resumeNextInRunningTask(std::coroutine_handle<> next) noexcept;

    void destroyFrameAndWakeWaiters() noexcept;

    Executor& m_executor;
    const TaskPromiseBase& m_promise;
    std::uint64_t m_spawnNumber;
    std::stop_source m_stopSource;
    std::coroutine_handle<> m_frame;
    /// The coroutine the run loop resumes next: one being awaited, or one whose task ended.
    std::coroutine_handle<> m_next;
    std::vector<TaskHandle::Awaiter*> m_waiters;
    bool m_isAbandoned = false;
};

} // namespace detail
} // namespace quorvane

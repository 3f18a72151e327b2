// Suspension.h: a coroutine suspended inside a spawned task, and the ways to resume it. The
// runtime's awaitables keep one while they wait; not meant for code outside the runtime.
#pragma once

#include <coroutine>
#include <memory>

namespace quorvane::detail {

class SpawnedTask;

struct Suspension {
    /// The coroutine about to suspend in the task that is running now. Asserts that a spawned
    /// task is running: the runtime's awaitables work only inside spawned tasks.
    [[nodiscard]] static Suspension ofRunningTask(std::coroutine_handle<> handle);

    /// Resumes the coroutine at once, as part of its task. Only from work the executor runs.
    void resume() const;
    /// Posts the resumption onto the task's executor.
    void resumeSoon() const;

    std::shared_ptr<SpawnedTask> task;
    std::coroutine_handle<> handle;
};

} // namespace quorvane::detail

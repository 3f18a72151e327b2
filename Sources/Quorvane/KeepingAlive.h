// Running an operation of an object that its caller may let go of before the operation ends.
#pragma once

#include "Concurrency/Task.h"

#include <memory>
#include <utility>

namespace quorvane {

/// Awaits `operation`, a coroutine of `owner`'s object made by the caller, and keeps the object
/// alive until the operation has ended, whether or not anyone else still holds it. Nothing runs
/// before the returned task is awaited.
template <typename Owner, typename T>
[[nodiscard]] Task<T> keepingAlive(std::shared_ptr<Owner> owner, Task<T> operation)
{
    // Locals, so that the operation's frame is destroyed before the object it runs on.
    const std::shared_ptr<Owner> kept = std::move(owner);
    Task<T> running = std::move(operation);
    co_return co_await std::move(running);
}

} // namespace quorvane

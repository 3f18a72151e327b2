// Yield.h: letting the other work that is due run first.
#pragma once

#include <coroutine>

namespace quorvane {

/// Suspends the running task and posts its resumption onto its executor, so it resumes behind
/// everything already queued for now. Cancellation plays no part: it neither throws nor ends
/// the wait early.
class [[nodiscard]] YieldAwaiter final {
public:
    [[nodiscard]] bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept { }
};

/// `co_await yield();` See YieldAwaiter.
[[nodiscard]] inline YieldAwaiter yield() noexcept { return {}; }

} // namespace quorvane

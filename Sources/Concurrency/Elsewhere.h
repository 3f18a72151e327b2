// Elsewhere.h: slow work (reading or writing a file) run away from the executor's thread.
#pragma once

#include "Concurrency/Executor.h"
#include "Concurrency/Task.h"

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvane {

namespace detail {

/// Hands its work to the running task's executor to run elsewhere, and resumes the task from
/// the executor once the work has run. Not cancellable: the work, once given, runs to its end.
class [[nodiscard]] ElsewhereAwaiter final {
public:
    explicit ElsewhereAwaiter(std::function<void()> work) noexcept
        : m_work(std::move(work))
    {
    }

    [[nodiscard]] bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle);
    void await_resume() const noexcept { }

private:
    std::function<void()> m_work;
};

} // namespace detail

/// `co_await runElsewhere(work)`: what `work()` returns, or throws what it threw. It runs on the
/// executor host's worker thread when there is one (Executor::runElsewhere), so it must touch
/// nothing but its own copies; the task goes on on its executor, never on that thread.
template <typename Work> [[nodiscard]] Task<std::invoke_result_t<Work&>> runElsewhere(Work work)
{
    using Result = std::invoke_result_t<Work&>;
    static_assert(!std::is_void_v<Result>, "work run elsewhere returns what it made");
    // Written on the worker thread, read here once the executor resumes the task: the hand-over
    // through the worker's queue and the executor's orders the two.
    const auto outcome
        = std::make_shared<std::variant<std::monostate, Result, std::exception_ptr>>();
    auto run = [outcome, work = std::move(work)]() mutable {
        try {
            outcome->template emplace<1>(work());
        } catch (...) {
            outcome->template emplace<2>(std::current_exception());
        }
    };
    // Named: g++ 12 destroys a temporary of a co_await expression twice.
    detail::ElsewhereAwaiter elsewhere(std::move(run));
    co_await elsewhere;
    if (const auto* error = std::get_if<2>(outcome.get()))
        std::rethrow_exception(*error);
    co_return std::move(std::get<1>(*outcome));
}

} // namespace quorvane

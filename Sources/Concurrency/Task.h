// Task.h: Task<T>, the lazy coroutine that every asynchronous operation returns.
#pragma once

#include <cassert>
#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace quorvane {

template <typename T> class Task;

namespace detail {

struct TaskAccess;

/// Has the running spawned task's run loop resume `next` as soon as the coroutine that is
/// suspending now has returned to it. Asserts that a spawned task is running.
void resumeNextInRunningTask(std::coroutine_handle<> next) noexcept;

class TaskPromiseBase {
public:
    struct FinalAwaiter {
        bool await_ready() const noexcept { return false; }

        template <typename Promise>
        void await_suspend(std::coroutine_handle<Promise> finished) const noexcept
        {
            // The awaiting coroutine is resumed by the running task's run loop once this one has
            // returned to it, not from here and not by returning its handle (symmetric
            // transfer). resume() from here would nest one call per finished task, and so does
            // symmetric transfer unless the compiler makes it a tail call, which g++ 12 doesn't
            // at -O0 nor with AddressSanitizer at any level: a loop of tasks that finish without
            // suspending overflowed the stack (tried here). The loop keeps the stack flat
            // whatever the compiler does. A spawned task's outermost coroutine has nothing to
            // pass control to; its executor is then done with it.
            if (const std::coroutine_handle<> continuation = finished.promise().m_continuation)
                resumeNextInRunningTask(continuation);
        }

        void await_resume() const noexcept { }
    };

    std::suspend_always initial_suspend() const noexcept { return {}; }
    FinalAwaiter final_suspend() const noexcept { return {}; }
    void unhandled_exception() noexcept { m_exception = std::current_exception(); }
    void setContinuation(std::coroutine_handle<> continuation) noexcept
    {
        m_continuation = continuation;
    }
    /// What left the body, once it has ended by throwing; null otherwise.
    [[nodiscard]] const std::exception_ptr& exception() const noexcept { return m_exception; }

protected:
    void rethrowIfFailed() const
    {
        if (m_exception)
            std::rethrow_exception(m_exception);
    }

private:
    std::coroutine_handle<> m_continuation;
    std::exception_ptr m_exception;
};

template <typename T> class TaskPromise final : public TaskPromiseBase {
public:
    Task<T> get_return_object() noexcept;
    void return_value(T value) { m_value.emplace(std::move(value)); }

    T takeResult()
    {
        rethrowIfFailed();
        assert(m_value && "a task finished without a value");
        return std::move(*m_value);
    }

private:
    std::optional<T> m_value;
};

template <> class TaskPromise<void> final : public TaskPromiseBase {
public:
    Task<void> get_return_object() noexcept;
    void return_void() const noexcept { }
    void takeResult() const { rethrowIfFailed(); }
};

} // namespace detail

/// An asynchronous operation producing a T (or nothing, for Task<void>), written as a coroutine.
///
/// The body does not run when the function is called: it starts when the task is awaited with
/// `co_await std::move(task)` (or `co_await operation()`), or when it is spawned (Spawn.h). The
/// awaiting coroutine suspends, and the task's end resumes it; control passes between them
/// through the spawned task's run loop, so long chains of awaits do not grow the stack. An
/// exception that leaves the body is rethrown by the `co_await`. An awaited task runs as part of
/// its awaiter's spawned task: it shares its cancellation (Cancellation.h) and its executor.
///
/// The task owns its coroutine frame: move-only, and destroying it destroys the frame, also one
/// that never ran. A task is awaited at most once.
template <typename T> class [[nodiscard]] Task final {
public:
    using promise_type = detail::TaskPromise<T>;

    class Awaiter final {
    public:
        explicit Awaiter(std::coroutine_handle<promise_type> frame) noexcept
            : m_frame(frame)
        {
        }

        /// Always suspends: the body has not started yet.
        bool await_ready() const noexcept { return false; }

        void await_suspend(std::coroutine_handle<> awaiting) const noexcept
        {
            m_frame.promise().setContinuation(awaiting);
            detail::resumeNextInRunningTask(m_frame);
        }

        /// The body's result, or its exception rethrown.
        T await_resume() const { return m_frame.promise().takeResult(); }

    private:
        std::coroutine_handle<promise_type> m_frame;
    };

    Task(Task&& other) noexcept
        : m_frame(std::exchange(other.m_frame, {}))
    {
    }

    Task& operator=(Task&& other) noexcept
    {
        if (this != &other) {
            destroyFrame();
            m_frame = std::exchange(other.m_frame, {});
        }
        return *this;
    }

    // Copying would let two owners destroy, or run, the same frame.
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    ~Task() { destroyFrame(); }

    Awaiter operator co_await() && noexcept
    {
        assert(m_frame && "awaited a task that was moved from");
        return Awaiter(m_frame);
    }

    // Awaiting a named task must say `co_await std::move(task)`: a task runs once only.
    void operator co_await() const& = delete;

private:
    friend promise_type;
    friend struct detail::TaskAccess;

    explicit Task(std::coroutine_handle<promise_type> frame) noexcept
        : m_frame(frame)
    {
    }

    void destroyFrame() noexcept
    {
        if (m_frame)
            std::exchange(m_frame, {}).destroy();
    }

    std::coroutine_handle<promise_type> m_frame;
};

namespace detail {

template <typename T> Task<T> TaskPromise<T>::get_return_object() noexcept
{
    return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}

inline Task<void> TaskPromise<void>::get_return_object() noexcept
{
    return Task<void>(std::coroutine_handle<TaskPromise<void>>::from_promise(*this));
}

/// How spawn() takes the frame out of a task; not for other callers.
struct TaskAccess {
    template <typename T>
    static std::coroutine_handle<TaskPromise<T>> releaseFrame(Task<T>&& task) noexcept
    {
        assert(task.m_frame && "spawned a task that was moved from");
        return std::exchange(task.m_frame, {});
    }
};

} // namespace detail

} // namespace quorvane

// Running a task to its end on virtual time, and recording how it ended: the one helper every
// test of asynchronous code shares. Including it also makes an error that escapes a spawned task
// on a ManualExecutor fail the running test, unless the test took it (takeEscapedErrors()).
#pragma once

#include "Concurrency/Cancellation.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"

#include <gtest/gtest.h>

#include <cassert>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvane {

/// What a Task<T> gives: T, or std::monostate for Task<void>.
template <typename T> using TaskValue = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

/// How a task ended; all empty while it runs.
template <typename T> struct TaskOutcome {
    std::optional<TaskValue<T>> value;
    /// The text of the error it threw, cancellation aside.
    std::optional<std::string> error;
    bool isCancelled = false;
    /// When it ended, on its executor's continuous clock.
    std::optional<ContinuousClock::time_point> endedAt;
    /// What it threw, cancellation included, for runToEnd() to rethrow.
    std::exception_ptr exception;

    [[nodiscard]] bool hasEnded() const { return endedAt.has_value(); }
    /// "done", "cancelled", the error's text, or "running".
    [[nodiscard]] std::string summary() const
    {
        if (!hasEnded())
            return "running";
        if (isCancelled)
            return "cancelled";
        return error ? *error : "done";
    }
};

// A named coroutine, not a capturing lambda: a lambda's closure would be gone before the task
// runs.
/// Awaits `task` and records its outcome; spawn it. `outcome` must outlive the task.
template <typename T> Task<void> recordOutcome(Task<T> task, TaskOutcome<T>& outcome)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome.value.emplace();
        } else {
            outcome.value.emplace(co_await std::move(task));
        }
    } catch (const CancellationError&) {
        outcome.isCancelled = true;
        outcome.exception = std::current_exception();
    } catch (const std::exception& error) {
        outcome.error = error.what();
        outcome.exception = std::current_exception();
    }
    outcome.endedAt = Executor::current()->now();
}

/// Runs `task` on an executor of its own until nothing is left to do; how it ended.
template <typename T> TaskOutcome<T> outcomeOf(Task<T> task)
{
    ManualExecutor executor;
    TaskOutcome<T> outcome;
    spawn(executor, recordOutcome(std::move(task), outcome));
    executor.runUntilIdle();
    return outcome;
}

/// Runs `task` on an executor of its own until nothing is left to do; returns what it returns
/// and rethrows what it throws. Asserts that it ended.
template <typename T> T runToEnd(Task<T> task)
{
    TaskOutcome<T> outcome = outcomeOf(std::move(task));
    assert(outcome.hasEnded() && "the task is still waiting");
    if (outcome.exception)
        std::rethrow_exception(outcome.exception);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome.value);
}

namespace detail {

inline void failTheRunningTest(std::string_view text)
{
    ADD_FAILURE() << "A spawned task ended with an error no test expected: " << text;
}

inline const bool escapedErrorsFailTests
    = (ManualExecutor::setUnexpectedErrorHandler(failTheRunningTest), true);

} // namespace detail

} // namespace quorvane

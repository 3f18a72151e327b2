// Running the settings store's tasks to their end, and throw-away folders for its files; shared
// by the store's tests and the conformance runner.
#pragma once

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"

#include <cassert>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvane {

/// What a finished Task<T> gave: its value, or std::monostate for Task<void>.
template <typename T> using TaskOutcome = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

// A named coroutine, not a capturing lambda: a lambda's closure would be gone before the task
// runs. The error is kept, to be rethrown outside the executor by runToEnd().
template <typename T>
Task<void> keepOutcome(
    Task<T> task, std::optional<TaskOutcome<T>>& value, std::exception_ptr& error)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            value.emplace();
        } else {
            value.emplace(co_await std::move(task));
        }
    } catch (...) {
        error = std::current_exception();
    }
}

/// Runs `task` on an executor of its own until nothing is left to do; returns what it returns
/// and rethrows what it throws.
template <typename T> T runToEnd(Task<T> task)
{
    ManualExecutor executor;
    std::optional<TaskOutcome<T>> value;
    std::exception_ptr error;
    spawn(executor, keepOutcome(std::move(task), value, error));
    executor.runUntilIdle();
    if (error)
        std::rethrow_exception(error);
    assert(value && "the task is still waiting");
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

/// A new empty folder in the system's temporary folder, removed with all it holds on
/// destruction.
class TemporaryFolder final {
public:
    TemporaryFolder()
        : m_path((std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string())
    {
        if (!::mkdtemp(m_path.data()))
            throw std::runtime_error("Could not create a temporary folder.");
    }
    ~TemporaryFolder()
    {
        std::error_code ignored; // Leftovers in the temporary folder harm nobody.
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    [[nodiscard]] std::filesystem::path path() const { return m_path; }

private:
    std::string m_path; // mkdtemp() fills in its pattern
};

} // namespace quorvane

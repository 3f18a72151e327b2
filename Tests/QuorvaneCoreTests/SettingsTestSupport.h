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

namespace quorvane {

// Named coroutines, not capturing lambdas: a lambda's closure would be gone before the task runs.
// Every error is kept, to be rethrown outside the executor by runToEnd().
template <typename T>
Task<void> keepOutcome(Task<T> task, std::optional<T>& value, std::exception_ptr& error)
{
    try {
        value.emplace(co_await std::move(task));
    } catch (...) {
        error = std::current_exception();
    }
}

inline Task<void> keepOutcome(Task<void> task, bool& finished, std::exception_ptr& error)
{
    try {
        co_await std::move(task);
        finished = true;
    } catch (...) {
        error = std::current_exception();
    }
}

/// Runs `task` on an executor of its own until nothing is left to do; returns what it returns
/// and rethrows what it throws.
template <typename T> T runToEnd(Task<T> task)
{
    ManualExecutor executor;
    std::exception_ptr error;
    if constexpr (std::is_void_v<T>) {
        bool finished = false;
        spawn(executor, keepOutcome(std::move(task), finished, error));
        executor.runUntilIdle();
        if (error)
            std::rethrow_exception(error);
        assert(finished && "the task is still waiting");
    } else {
        std::optional<T> value;
        spawn(executor, keepOutcome(std::move(task), value, error));
        executor.runUntilIdle();
        if (error)
            std::rethrow_exception(error);
        assert(value && "the task is still waiting");
        return std::move(*value);
    }
}

/// A new empty folder in the system's temporary folder, removed with all it holds on
/// destruction.
class TemporaryFolder final {
public:
    TemporaryFolder()
    {
        std::string pattern
            = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("Could not create a temporary folder.");
        m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored; // Leftovers in the temporary folder harm nobody.
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace quorvane

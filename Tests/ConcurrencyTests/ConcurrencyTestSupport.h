// A journal and named coroutines shared by the runtime's tests. Named functions, not capturing
// lambdas: a lambda's closure would be gone before the task runs.
#pragma once

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"
#include "TestSupport/RunToEnd.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// What happened, each entry with the virtual time since the journal was opened.
class Journal final {
public:
    explicit Journal(const Executor& executor)
        : m_executor(executor)
        , m_start(executor.now())
    {
    }

    void note(std::string_view what)
    {
        const auto elapsed
            = std::chrono::duration_cast<std::chrono::milliseconds>(m_executor.now() - m_start);
        entries.push_back(std::string(what) + " at " + std::to_string(elapsed.count()) + " ms");
    }

    std::vector<std::string> entries;

private:
    const Executor& m_executor;
    ContinuousClock::time_point m_start;
};

/// Takes `duration` of virtual time.
inline Task<void> pause(ContinuousClock::duration duration) { co_await sleep(duration); }

/// Notes "<name> resumed" once the task of `handle` has ended.
inline Task<void> waitFor(TaskHandle handle, Journal& journal, std::string name)
{
    co_await handle;
    journal.note(name + " resumed");
}

enum class Ending { value, error, cancellation, foreignThrow };

/// Ends as `ending` says after `duration`.
inline Task<int> endAfter(Ending ending, ContinuousClock::duration duration)
{
    co_await sleep(duration);
    if (ending == Ending::error)
        throw Error("No answer.");
    if (ending == Ending::cancellation)
        throw CancellationError();
    if (ending == Ending::foreignThrow)
        throw 42;
    co_return 1;
}

/// Notes `name` after `pause`, or "<name> cancelled" when the sleep is cancelled.
inline Task<void> noteAfter(Journal& journal, std::string name, ContinuousClock::duration pause)
{
    try {
        co_await sleep(pause);
        journal.note(name);
    } catch (const CancellationError&) {
        journal.note(name + " cancelled");
    }
}

} // namespace quorvane

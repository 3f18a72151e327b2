#include "Concurrency/Executor.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/SpawnedTask.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

namespace quorvane {

namespace {

// The most recently constructed live executor; each one links to the one installed before it.
Executor* s_installedExecutor = nullptr;

/// The text of what a task threw; none for a cancellation.
std::optional<std::string> escapedErrorText(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return std::nullopt;
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

} // namespace

ContinuousClock::time_point ContinuousClock::now() noexcept
{
    timespec time{};
    clock_gettime(CLOCK_BOOTTIME, &time);
    return time_point(std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec));
}

void Executor::Host::reportEscapedError(std::string_view text)
{
    const std::string line = "A task ended with an error: " + std::string(text) + "\n";
    std::fputs(line.c_str(), stderr);
}

void Executor::Host::runElsewhere(Executor& executor, Work work, Work done)
{
    executor.post([work = std::move(work), done = std::move(done)] {
        work();
        done();
    });
}

Executor::Executor(std::unique_ptr<Host> host)
    : m_host(std::move(host))
    , m_installedBefore(std::exchange(s_installedExecutor, this))
{
    assert(m_host && "an executor without a host");
}

Executor::~Executor()
{
    m_isShuttingDown = true;
    for (auto& [spawnNumber, task] : std::exchange(m_liveTasks, {}))
        task->abandon();
    // Executors may die in any order: unlink this one wherever it sits in the chain.
    Executor** link = &s_installedExecutor;
    while (*link != this)
        link = &(*link)->m_installedBefore;
    *link = m_installedBefore;
}

void Executor::post(Work work) { postAt(now(), std::move(work)); }

void Executor::postAt(ContinuousClock::time_point time, Work work)
{
    if (m_isShuttingDown)
        return;
    // A time already past counts as now, so it queues behind what was posted before it.
    const QueuePosition position{.time = std::max(time, now()), .sequence = m_nextSequence++};
    const auto queued = m_queue.emplace(position, std::move(work)).first;
    if (queued == m_queue.begin())
        m_host->wakeAt(position.time);
}

void Executor::runElsewhere(Work work, Work done)
{
    if (!m_isShuttingDown)
        m_host->runElsewhere(*this, std::move(work), std::move(done));
}

bool Executor::runNextDue()
{
    if (m_queue.empty())
        return false;
    if (m_queue.begin()->first.time > now()) {
        m_host->wakeAt(m_queue.begin()->first.time);
        return false;
    }
    const Work work = std::move(m_queue.extract(m_queue.begin()).mapped());
    if (!m_queue.empty())
        m_host->wakeAt(m_queue.begin()->first.time);
    // Nothing of the executor is touched once the work has run: the work may have destroyed it.
    work();
    return true;
}

Executor* Executor::current() noexcept
{
    if (const detail::SpawnedTask* const task = detail::SpawnedTask::running())
        return &task->executor();
    return s_installedExecutor;
}

bool Executor::adopt(std::shared_ptr<detail::SpawnedTask> task)
{
    if (m_isShuttingDown)
        return false;
    const std::uint64_t spawnNumber = task->spawnNumber();
    m_liveTasks.emplace(spawnNumber, std::move(task));
    return true;
}

void Executor::forget(const detail::SpawnedTask& task) noexcept
{
    m_liveTasks.erase(task.spawnNumber());
}

void Executor::reportIfEscaped(const std::exception_ptr& error) noexcept
{
    if (!error)
        return;
    if (const std::optional<std::string> text = escapedErrorText(error))
        m_host->reportEscapedError(*text);
}

} // namespace quorvane

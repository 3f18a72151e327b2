#include "Concurrency/Executor.h"

#include "Concurrency/SpawnedTask.h"

#include <cassert>
#include <ctime>
#include <utility>

namespace quorvane {

namespace {

// The most recently constructed live executor; each one links to the one installed before it.
Executor* s_installedExecutor = nullptr;

} // namespace

ContinuousClock::time_point ContinuousClock::now() noexcept
{
    timespec time{};
    clock_gettime(CLOCK_BOOTTIME, &time);
    return time_point(std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec));
}

Executor::Executor()
    : m_installedBefore(std::exchange(s_installedExecutor, this))
{
}

Executor::~Executor()
{
    destroySuspendedTasks();
    // Executors may die in any order: unlink this one wherever it sits in the chain.
    Executor** link = &s_installedExecutor;
    while (*link != this)
        link = &(*link)->m_installedBefore;
    *link = m_installedBefore;
}

void Executor::post(Work work)
{
    if (!m_isShuttingDown)
        enqueue(std::move(work));
}

void Executor::postAt(ContinuousClock::time_point time, Work work)
{
    if (!m_isShuttingDown)
        enqueueAt(time, std::move(work));
}

Executor* Executor::current() noexcept
{
    if (const detail::SpawnedTask* const task = detail::SpawnedTask::running())
        return &task->executor();
    return s_installedExecutor;
}

void Executor::destroySuspendedTasks() noexcept
{
    m_isShuttingDown = true;
    for (auto& [spawnNumber, task] : std::exchange(m_liveTasks, {}))
        task->abandon();
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

} // namespace quorvane

#include "Concurrency/Spawn.h"

#include "Concurrency/SpawnedTask.h"

#include <cassert>
#include <utility>

namespace quorvane {

TaskHandle::Awaiter::Awaiter(std::shared_ptr<detail::SpawnedTask> task) noexcept
    : m_task(std::move(task))
{
}

TaskHandle::Awaiter::~Awaiter()
{
    // Only when the waiting frame is destroyed with its executor before the task ends.
    if (m_waiter)
        m_task->removeWaiter(*this);
}

bool TaskHandle::Awaiter::await_ready() const noexcept { return m_task->isFinished(); }

void TaskHandle::Awaiter::await_suspend(std::coroutine_handle<> handle)
{
    assert(detail::SpawnedTask::running() != m_task.get() && "a task awaited its own handle");
    m_waiter = detail::Suspension::ofRunningTask(handle);
    m_task->addWaiter(*this);
}

void TaskHandle::Awaiter::taskDidFinish() { std::exchange(m_waiter, std::nullopt)->resumeSoon(); }

TaskHandle::TaskHandle(std::shared_ptr<detail::SpawnedTask> task) noexcept
    : m_task(std::move(task))
{
}

void TaskHandle::cancel() const noexcept { m_task->requestStop(); }

bool TaskHandle::isFinished() const noexcept { return m_task->isFinished(); }

TaskHandle detail::spawnFrame(
    Executor& executor, std::coroutine_handle<> frame, const TaskPromiseBase& promise)
{
    auto task = std::make_shared<SpawnedTask>(executor, frame, promise);
    task->start();
    return TaskHandle(std::move(task));
}

} // namespace quorvane

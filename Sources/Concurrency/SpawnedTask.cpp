#include "Concurrency/SpawnedTask.h"

#include "Concurrency/Executor.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace quorvane::detail {

namespace {

SpawnedTask* s_runningTask = nullptr;
std::uint64_t s_spawnCount = 0;

} // namespace

SpawnedTask::SpawnedTask(
    Executor& executor, std::coroutine_handle<> frame, const TaskPromiseBase& promise) noexcept
    : m_executor(executor)
    , m_promise(promise)
    , m_spawnNumber(++s_spawnCount)
    , m_frame(frame)
{
}

SpawnedTask::~SpawnedTask() { assert(!m_frame && "a task's state died before its frame"); }

SpawnedTask* SpawnedTask::running() noexcept { return s_runningTask; }

void SpawnedTask::start()
{
    if (!m_executor.adopt(shared_from_this())) {
        abandon();
        return;
    }
    m_executor.post([task = shared_from_this()] { task->resume(task->m_frame); });
}

void SpawnedTask::resume(std::coroutine_handle<> handle)
{
    if (!m_frame)
        return;
    // The executor may let go of this task while it runs.
    const std::shared_ptr<SpawnedTask> keepAlive = shared_from_this();
    SpawnedTask* const outer = std::exchange(s_runningTask, this);
    for (std::coroutine_handle<> next = handle; next && !m_isAbandoned;
         next = std::exchange(m_next, {}))
        next.resume();
    s_runningTask = outer;
    if (m_isAbandoned) {
        // Its executor is being destroyed, or is gone: touch nothing of it.
        m_next = {};
        destroyFrameAndWakeWaiters();
        return;
    }
    if (!m_frame.done())
        return;
    m_executor.reportIfEscaped(m_promise.exception());
    destroyFrameAndWakeWaiters();
    m_executor.forget(*this);
}

void SpawnedTask::abandon() noexcept
{
    if (!m_frame)
        return;
    m_isAbandoned = true;
    // A running coroutine's frame cannot go yet: the run loop destroys it once it suspends.
    if (s_runningTask != this)
        destroyFrameAndWakeWaiters();
}

void SpawnedTask::addWaiter(TaskHandle::Awaiter& waiter) { m_waiters.push_back(&waiter); }

void SpawnedTask::removeWaiter(const TaskHandle::Awaiter& waiter) noexcept
{
    std::erase(m_waiters, &waiter);
}

void SpawnedTask::destroyFrameAndWakeWaiters() noexcept
{
    std::exchange(m_frame, {}).destroy();
    for (TaskHandle::Awaiter* const waiter : std::exchange(m_waiters, {}))
        waiter->taskDidFinish();
}

void resumeNextInRunningTask(std::coroutine_handle<> next) noexcept
{
    assert(s_runningTask && "awaited a task outside a spawned task");
    assert(!s_runningTask->m_next && "two coroutines of one task are ready at once");
    s_runningTask->m_next = next;
}

Suspension Suspension::ofRunningTask(std::coroutine_handle<> handle)
{
    SpawnedTask* const task = SpawnedTask::running();
    assert(task && "awaited a runtime awaitable outside a spawned task");
    return Suspension{.task = task->shared_from_this(), .handle = handle};
}

void Suspension::resume() const { task->resume(handle); }

void Suspension::resumeSoon() const
{
    task->executor().post([suspension = *this] { suspension.resume(); });
}

} // namespace quorvane::detail

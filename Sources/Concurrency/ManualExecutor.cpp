#include "Concurrency/ManualExecutor.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace quorvane {

namespace {

/// Marks the executor as running work, also when the work throws.
class RunningScope final {
public:
    explicit RunningScope(bool& isRunning) noexcept
        : m_isRunning(isRunning)
    {
        m_isRunning = true;
    }
    ~RunningScope() { m_isRunning = false; }

    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    bool& m_isRunning;
};

} // namespace

ManualExecutor::ManualExecutor(std::chrono::system_clock::time_point wallStart)
    : m_wallStart(wallStart)
{
}

ManualExecutor::~ManualExecutor()
{
    // Before the queue goes, so that frames destroyed now still see this executor's clocks.
    destroySuspendedTasks();
}

std::chrono::system_clock::time_point ManualExecutor::wallNow() const
{
    return m_wallStart
        + std::chrono::duration_cast<std::chrono::system_clock::duration>(m_now.time_since_epoch());
}

void ManualExecutor::advance(ContinuousClock::duration duration)
{
    assert(duration.count() >= 0 && "time does not go back");
    const ContinuousClock::time_point target = m_now + duration;
    while (runNextDueBy(target)) { }
    m_now = target;
}

void ManualExecutor::runUntilIdle()
{
    while (runNextDueBy(m_now)) { }
}

void ManualExecutor::enqueue(Work work) { enqueueAt(m_now, std::move(work)); }

void ManualExecutor::enqueueAt(ContinuousClock::time_point time, Work work)
{
    // A time already past counts as now, so it queues behind what was posted before it.
    m_queue.emplace(QueuePosition{.time = std::max(time, m_now), .sequence = m_nextSequence++},
        std::move(work));
}

bool ManualExecutor::runNextDueBy(ContinuousClock::time_point limit)
{
    assert(!m_isRunning && "advance() or runUntilIdle() called from work the executor runs");
    if (m_queue.empty() || m_queue.begin()->first.time > limit)
        return false;
    auto next = m_queue.extract(m_queue.begin());
    m_now = next.key().time;
    const RunningScope running(m_isRunning);
    next.mapped()();
    return true;
}

} // namespace quorvane

#include "QuorvaneCore/ContextRefreshScheduler.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Saturating.h"
#include "Concurrency/Sleep.h"

#include <cassert>
#include <chrono>
#include <utility>

namespace quorvane {

namespace {

Task<void> sleepOnContinuousClock(ContinuousClock::duration duration) { co_await sleep(duration); }

} // namespace

/// What a waiting run needs to decide whether it is still wanted. Shared, so that it outlives a
/// scheduler destroyed while the run waits.
struct ContextRefreshScheduler::SharedState {
    Sleep sleep;
    /// Unsigned: wraps around instead of overflowing.
    std::uint64_t revision = 0;
    bool isWaiting = false;
};

ContextRefreshScheduler::ContextRefreshScheduler(Sleep sleep)
    : m_state(std::make_shared<SharedState>(SharedState{.sleep = std::move(sleep)}))
{
    assert(m_state->sleep && "a scheduler without a way to wait");
}

ContextRefreshScheduler::~ContextRefreshScheduler() { dropPendingRun(); }

ContextRefreshScheduler::Sleep ContextRefreshScheduler::defaultSleep()
{
    return sleepOnContinuousClock;
}

bool ContextRefreshScheduler::schedule(
    RuntimeContext context, std::int64_t delayMilliseconds, bool force, Operation operation)
{
    assert(operation && "scheduled nothing to run");
    if (!force && m_lastContext == context)
        return false;
    m_lastContext = std::move(context);
    if (m_pendingTask)
        m_pendingTask->cancel();
    const std::uint64_t revision = ++m_state->revision;
    m_state->isWaiting = true;
    m_pendingTask
        = spawn(runAfterDelay(m_state, revision, delayMilliseconds, std::move(operation)));
    return true;
}

void ContextRefreshScheduler::acknowledge(RuntimeContext context)
{
    dropPendingRun();
    m_lastContext = std::move(context);
}

void ContextRefreshScheduler::cancel()
{
    dropPendingRun();
    m_lastContext.reset();
}

bool ContextRefreshScheduler::isWaiting() const { return m_state->isWaiting; }

void ContextRefreshScheduler::dropPendingRun()
{
    ++m_state->revision;
    m_state->isWaiting = false;
    if (m_pendingTask)
        std::exchange(m_pendingTask, std::nullopt)->cancel();
}

Task<void> ContextRefreshScheduler::runAfterDelay(std::shared_ptr<SharedState> state,
    std::uint64_t revision, std::int64_t delayMilliseconds, Operation operation)
{
    // A sleep that throws ends the run here, unseen.
    if (delayMilliseconds >= 1)
        co_await state->sleep(saturatingDuration(std::chrono::milliseconds(delayMilliseconds)));
    // The revision, not cancellation alone: a superseded run may already be past its sleep.
    if (isCancelled() || state->revision != revision)
        co_return;
    // A run that ends early leaves the flag alone: whoever superseded it has set it already.
    state->isWaiting = false;
    co_await operation();
}

} // namespace quorvane

#include "Concurrency/Sleep.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Saturating.h"
#include "Concurrency/SpawnedTask.h"
#include "Concurrency/Suspension.h"

#include <optional>
#include <stop_token>
#include <utility>

namespace quorvane {

/// Shared by the suspended awaiter, its timer and its stop callback; whichever comes first
/// decides how the sleep ends, and the others then do nothing. It outlives the awaiter when the
/// timer is still queued.
struct SleepAwaiter::Wakeup {
    enum class State { sleeping, timerFired, cancelled, abandoned };

    struct OnCancel {
        Wakeup* wakeup;
        void operator()() const { wakeup->end(State::cancelled); }
    };

    void end(State reason)
    {
        if (state != State::sleeping)
            return;
        state = reason;
        // Let go of the task at once: a cancelled sleep's timer may stay queued for long.
        const detail::Suspension sleeper = std::exchange(suspension, {});
        // The timer already runs as the executor's work; a cancellation comes from whoever
        // cancelled, whose code must go on before this task does.
        if (reason == State::timerFired)
            sleeper.resume();
        else
            sleeper.resumeSoon();
    }

    detail::Suspension suspension;
    State state = State::sleeping;
    std::optional<std::stop_callback<OnCancel>> onCancel;
};

SleepAwaiter::SleepAwaiter(ContinuousClock::duration duration) noexcept
    : m_duration(duration)
{
}

SleepAwaiter::~SleepAwaiter()
{
    if (!m_wakeup)
        return;
    m_wakeup->onCancel.reset();
    // Reached while still sleeping only when the frame is destroyed with its executor.
    if (m_wakeup->state == Wakeup::State::sleeping)
        m_wakeup->state = Wakeup::State::abandoned;
}

bool SleepAwaiter::await_ready() const noexcept { return isCancelled(); }

void SleepAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_wakeup = std::make_shared<Wakeup>();
    m_wakeup->suspension = detail::Suspension::ofRunningTask(handle);
    Executor& executor = m_wakeup->suspension.task->executor();
    executor.postAt(saturatingAdd(executor.now(), m_duration),
        [wakeup = m_wakeup] { wakeup->end(Wakeup::State::timerFired); });
    m_wakeup->onCancel.emplace(
        m_wakeup->suspension.task->stopToken(), Wakeup::OnCancel{m_wakeup.get()});
}

void SleepAwaiter::await_resume() const
{
    // Without a wake-up the task was cancelled before it could sleep.
    if (!m_wakeup || m_wakeup->state == Wakeup::State::cancelled)
        throw CancellationError();
}

} // namespace quorvane

// Sleep.h: waiting for a while on the executor's continuous clock.
#pragma once

#include "Concurrency/Executor.h"

#include <coroutine>
#include <memory>

namespace quorvane {

/// Suspends the running task until its executor's continuous clock has moved on by the
/// duration; the executor resumes it then. A zero or negative duration resumes on the next turn,
/// behind the work already due. Cancellation ends the sleep at once: a task cancelled while it
/// sleeps is resumed on the next turn with CancellationError, and its timer later does nothing;
/// a task already cancelled throws CancellationError without suspending.
class [[nodiscard]] SleepAwaiter final {
public:
    explicit SleepAwaiter(ContinuousClock::duration duration) noexcept;
    ~SleepAwaiter();

    // The timer and the stop callback keep the address of a suspended awaiter's wake-up.
    SleepAwaiter(const SleepAwaiter&) = delete;
    SleepAwaiter& operator=(const SleepAwaiter&) = delete;

    [[nodiscard]] bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> handle);
    void await_resume() const;

private:
    struct Wakeup;

    ContinuousClock::duration m_duration;
    std::shared_ptr<Wakeup> m_wakeup;
};

/// `co_await sleep(100ms);` See SleepAwaiter.
[[nodiscard]] inline SleepAwaiter sleep(ContinuousClock::duration duration) noexcept
{
    return SleepAwaiter(duration);
}

} // namespace quorvane

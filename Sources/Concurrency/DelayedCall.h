// DelayedCall.h: one call due a while from now on an executor's clock, which a view can take
// back; tests run it on virtual time, where a Qt timer would run in real time.
#pragma once

#include "Concurrency/Executor.h"

#include <chrono>
#include <functional>
#include <memory>

namespace quorvane {

/// At most one call pending at a time. Starting it again replaces the pending call; cancelling
/// or destroying it drops the pending call, which then never runs.
class DelayedCall final {
public:
    DelayedCall() = default;
    ~DelayedCall() = default;
    // The queued call finds its owner by address.
    DelayedCall(const DelayedCall&) = delete;
    DelayedCall& operator=(const DelayedCall&) = delete;

    /// Runs `call` on `executor` once its clock has moved on by `delay`. The call is no longer
    /// pending when it runs, so it may start this again.
    void start(Executor& executor, std::chrono::nanoseconds delay, std::function<void()> call);
    void cancel() { m_pending.reset(); }
    [[nodiscard]] bool isPending() const { return m_pending != nullptr; }

private:
    /// Alive while the call queued last is to run: the queue holds it only weakly.
    std::shared_ptr<int> m_pending;
};

} // namespace quorvane

#include "Concurrency/DelayedCall.h"

#include <utility>

namespace quorvane {

void DelayedCall::start(
    Executor& executor, std::chrono::nanoseconds delay, std::function<void()> call)
{
    m_pending = std::make_shared<int>(0);
    executor.postAt(executor.now() + delay,
        [this, pending = std::weak_ptr<int>(m_pending), call = std::move(call)] {
            if (pending.expired())
                return;
            m_pending.reset();
            call();
        });
}

} // namespace quorvane

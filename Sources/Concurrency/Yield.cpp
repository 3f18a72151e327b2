#include "Concurrency/Yield.h"

#include "Concurrency/Suspension.h"

namespace quorvane {

void YieldAwaiter::await_suspend(std::coroutine_handle<> handle) const
{
    detail::Suspension::ofRunningTask(handle).resumeSoon();
}

} // namespace quorvane

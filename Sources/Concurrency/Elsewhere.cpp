#include "Concurrency/Elsewhere.h"

#include "Concurrency/SpawnedTask.h"
#include "Concurrency/Suspension.h"

namespace quorvane::detail {

void ElsewhereAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    const Suspension suspension = Suspension::ofRunningTask(handle);
    suspension.task->executor().runElsewhere(
        std::move(m_work), [suspension] { suspension.resume(); });
}

} // namespace quorvane::detail

#include "Concurrency/Cancellation.h"

#include "Concurrency/SpawnedTask.h"

namespace quorvane {

CancellationError::CancellationError()
    : Error("The operation was cancelled.")
{
}

std::stop_token currentStopToken() noexcept
{
    const detail::SpawnedTask* const task = detail::SpawnedTask::running();
    return task ? task->stopToken() : std::stop_token();
}

bool isCancelled() noexcept { return currentStopToken().stop_requested(); }

void checkCancellation()
{
    if (isCancelled())
        throw CancellationError();
}

} // namespace quorvane

// Cancellation.h: the error a cancelled task ends with, and the running task's cancellation
// state. Every spawned task has a stop source; the tasks it awaits share it.
#pragma once

#include "Foundation/Error.h"

#include <stop_token>

namespace quorvane {

/// Thrown where a cancelled task notices its cancellation. Silent: catch it first and rethrow
/// it, before handling Error.
class CancellationError final : public Error {
public:
    CancellationError();
};

/// The stop token of the spawned task running now; a token that never stops outside tasks.
/// For waits of one's own that must end when the task is cancelled (std::stop_callback).
[[nodiscard]] std::stop_token currentStopToken() noexcept;

/// Whether the running task has been asked to stop; false outside tasks.
[[nodiscard]] bool isCancelled() noexcept;

/// Throws CancellationError when the running task has been asked to stop.
void checkCancellation();

} // namespace quorvane

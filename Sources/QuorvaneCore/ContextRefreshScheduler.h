// Debounces context changes: a quick run of new contexts becomes at most one re-evaluation.
#pragma once

#include "Concurrency/Executor.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quorvane {

/// Remembers the last context it was given, ignores an equal one, and runs the caller's
/// operation after a delay unless a newer context, an acknowledgement or a cancellation arrives
/// first. Used from the main executor only; its runs are spawned there too.
///
/// A run's task shares only a small state block with the scheduler (revision, waiting flag,
/// sleep), never the scheduler itself, so the scheduler may be destroyed at any time: its
/// destructor drops a waiting run and cancels a running operation's task, as cancel() does. The
/// task owns its copy of the operation until it ends, so the coroutine the operation returns may
/// refer to the operation's own captures.
class ContextRefreshScheduler final {
public:
    /// Waits for the duration; throws (CancellationError, for one) to drop the run.
    using Sleep = std::function<Task<void>(ContinuousClock::duration)>;
    /// The re-evaluation. Its task is cancelled, not awaited, by a later schedule, acknowledge or
    /// cancel, which it may notice through its cancellation checks. An error it throws is lost.
    using Operation = std::function<Task<void>()>;

    /// `sleep` defaults to the runtime's sleep on the executor's continuous clock.
    explicit ContextRefreshScheduler(Sleep sleep = defaultSleep());
    ~ContextRefreshScheduler();

    // A copy would share the first one's waiting run.
    ContextRefreshScheduler(const ContextRefreshScheduler&) = delete;
    ContextRefreshScheduler& operator=(const ContextRefreshScheduler&) = delete;

    /// Ignores `context` and returns false when it equals the last one and `force` is false; a
    /// run already waiting then keeps waiting. Otherwise restarts the wait with `context` and
    /// returns true: `operation` runs after `delayMilliseconds` (zero or less: on the executor's
    /// next turn, without calling the sleep) unless something newer arrives meanwhile.
    bool schedule(
        RuntimeContext context, std::int64_t delayMilliseconds, bool force, Operation operation);

    /// Records `context` as handled now and drops any waiting run; an equal context scheduled
    /// later without `force` is ignored.
    void acknowledge(RuntimeContext context);

    /// Drops any waiting run and forgets the last context, so the next schedule always runs.
    void cancel();

    /// A scheduled operation is waiting for its delay to pass.
    [[nodiscard]] bool isWaiting() const;

    [[nodiscard]] static Sleep defaultSleep();

private:
    struct SharedState;

    static Task<void> runAfterDelay(std::shared_ptr<SharedState> state, std::uint64_t revision,
        std::int64_t delayMilliseconds, Operation operation);

    /// Raises the revision, clears the waiting flag and cancels the pending task.
    void dropPendingRun();

    std::shared_ptr<SharedState> m_state;
    std::optional<RuntimeContext> m_lastContext;
    std::optional<TaskHandle> m_pendingTask;
};

} // namespace quorvane

// QtExecutor.h: the application's executor, run by the Qt event loop of the main thread.
#pragma once

#include "Concurrency/Executor.h"

namespace quorvane {

/// Keeps the runtime's own ordered queue and asks Qt only to wake it: one posted event for work
/// due now, one precise single-shot timer for the earliest later deadline. It never polls. Each
/// wake-up runs one piece of work, because a modal exec() re-enters the event loop and must not
/// find the executor in the middle of a batch.
///
/// The continuous clock is CLOCK_BOOTTIME, re-read whenever the timer fires (Qt's timers do not
/// count across system sleep, so a timer may fire early or late; the queue re-arms it). Calendar
/// time is the system clock. An escaped error goes to standard error. Work run elsewhere runs on
/// one worker thread of the executor's own, in the order given.
///
/// Construct it on the main thread after the QCoreApplication, and destroy it before.
class QtExecutor final : public Executor {
public:
    QtExecutor();
    ~QtExecutor() override;

private:
    class EventLoopHost;

    EventLoopHost& eventLoopHost() const noexcept;
};

} // namespace quorvane

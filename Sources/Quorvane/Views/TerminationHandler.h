// TerminationHandler.h: the answer to every request to end the application, so that each one
// (the Quit command, the popover's Quit, the session ending, a signal) goes through the model's
// orderly quit.
#pragma once

#include "Quorvane/Observable.h"

#include <functional>
#include <memory>
#include <optional>

namespace quorvane {

class AppModel;

/// How a termination request is answered.
enum class TerminationReply {
    /// The application ends now.
    now,
    /// The model is quitting; the application ends once its quit is prepared.
    later,
};

/// Holds the model weakly. A request is deferred, never refused: refusing would abort the
/// session's log-out, so the handler confirms it itself once the quit is prepared.
class TerminationHandler final {
public:
    /// `terminate` ends the application; it is called at most once.
    explicit TerminationHandler(std::function<void()> terminate);

    // The model's subscription calls back into this object.
    TerminationHandler(const TerminationHandler&) = delete;
    TerminationHandler& operator=(const TerminationHandler&) = delete;

    /// Given when the application starts, before any window appears, so that a request that
    /// comes early still quits in order.
    void setModel(const std::shared_ptr<AppModel>& model);

    /// Without a model, or once the quit is prepared, terminates now. Otherwise starts the
    /// model's quit (which runs once, however often it is asked) and defers the answer: the
    /// application then ends when the model's terminationPrepared becomes true.
    TerminationReply requestTermination();

private:
    void terminateOnce();
    void confirmIfPrepared();

    std::function<void()> m_terminate;
    std::weak_ptr<AppModel> m_model;
    bool m_isDeferred = false;
    bool m_hasTerminated = false;
    Subscription m_preparedSubscription;
};

/// From now on SIGTERM, SIGINT and SIGHUP no longer end the process: each one puts a byte into a
/// pipe, kept there until the application reads the returned descriptor and quits in order.
/// Called first thing in main, before anything that can take time, so that a signal sent while
/// the application starts is not lost. Later calls return the same descriptor. Absent when no
/// pipe can be made; the signals then keep their default action.
[[nodiscard]] std::optional<int> catchTerminationSignals();

/// Gives the termination signals their default action back and closes the pipe.
void releaseTerminationSignals();

} // namespace quorvane

#include "Quorvane/Views/TerminationHandler.h"

#include "Quorvane/AppModel.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <utility>

namespace quorvane {
namespace {

constexpr std::array terminationSignals{SIGTERM, SIGINT, SIGHUP};

// Written by the signal handler, read on the main thread: the only async-signal-safe hand-over.
int s_signalPipe[2] = {-1, -1};

extern "C" void forwardSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_signalPipe[1], &byte, 1);
}

} // namespace

std::optional<int> catchTerminationSignals()
{
    if (s_signalPipe[0] >= 0)
        return s_signalPipe[0];
    if (::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return std::nullopt;
    for (const int signal : terminationSignals)
        std::signal(signal, forwardSignal);
    return s_signalPipe[0];
}

void releaseTerminationSignals()
{
    if (s_signalPipe[0] < 0)
        return;
    for (const int signal : terminationSignals)
        std::signal(signal, SIG_DFL);
    ::close(s_signalPipe[0]);
    ::close(s_signalPipe[1]);
    s_signalPipe[0] = s_signalPipe[1] = -1;
}

TerminationHandler::TerminationHandler(std::function<void()> terminate)
    : m_terminate(std::move(terminate))
{
}

void TerminationHandler::setModel(const std::shared_ptr<AppModel>& model)
{
    m_model = model;
    m_preparedSubscription = model->terminationPrepared.observe([this] { confirmIfPrepared(); });
}

TerminationReply TerminationHandler::requestTermination()
{
    const std::shared_ptr<AppModel> model = m_model.lock();
    if (m_hasTerminated || !model || *model->terminationPrepared) {
        terminateOnce();
        return TerminationReply::now;
    }
    m_isDeferred = true;
    model->quit();
    return TerminationReply::later;
}

void TerminationHandler::confirmIfPrepared()
{
    const std::shared_ptr<AppModel> model = m_model.lock();
    if (m_isDeferred && model && *model->terminationPrepared)
        terminateOnce();
}

void TerminationHandler::terminateOnce()
{
    if (std::exchange(m_hasTerminated, true))
        return;
    m_terminate();
}

} // namespace quorvane

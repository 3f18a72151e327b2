#include "Quorvane/Views/TerminationHandler.h"

#include "Quorvane/AppModel.h"

#include <utility>

namespace quorvane {

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

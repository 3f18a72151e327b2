#include "Quorvane/Views/Design/ViewRefresh.h"

#include "Concurrency/Executor.h"

namespace quorvane {

ViewRefresh::ViewRefresh(Executor& executor, std::function<void()> refresh)
    : m_executor(executor)
    , m_state(std::make_shared<State>(State{.isQueued = false, .refresh = std::move(refresh)}))
{
}

ViewRefresh::~ViewRefresh() { m_subscriptions.clear(); }

void ViewRefresh::schedule()
{
    if (m_state->isQueued)
        return;
    m_state->isQueued = true;
    m_executor.post([weakState = std::weak_ptr<State>(m_state)] {
        // The refresh may destroy the view, and this object with it; the state outlives the call.
        const std::shared_ptr<State> state = weakState.lock();
        if (!state)
            return;
        state->isQueued = false;
        state->refresh();
    });
}

} // namespace quorvane

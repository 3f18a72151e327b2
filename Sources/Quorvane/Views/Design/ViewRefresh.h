// How a view follows the model: the fields it shows notify, and the view re-reads them once per
// turn of the executor, however many of them changed in that turn.
#pragma once

#include "Quorvane/Observable.h"

#include <functional>
#include <memory>
#include <vector>

namespace quorvane {

class Executor;

/// Coalesces the change notifications of the watched fields into one call of `refresh`, run by
/// the executor after the work that made the changes. Never calls `refresh` inline, so a view
/// never redraws in the middle of a model operation. Destroying it drops a refresh still queued.
class ViewRefresh final {
public:
    /// `executor` must outlive this object.
    ViewRefresh(Executor& executor, std::function<void()> refresh);
    ~ViewRefresh();

    // The queued refresh and the subscriptions refer to this one object.
    ViewRefresh(const ViewRefresh&) = delete;
    ViewRefresh& operator=(const ViewRefresh&) = delete;

    /// Schedules a refresh after every notifying write of each field.
    template <typename... Fields> void watch(const Fields&... fields)
    {
        (m_subscriptions.push_back(fields.observe([this] { schedule(); })), ...);
    }

    /// Queues one refresh; nothing more while one is already queued.
    void schedule();

private:
    struct State {
        bool isQueued = false;
        std::function<void()> refresh;
    };

    Executor& m_executor;
    std::shared_ptr<State> m_state;
    std::vector<Subscription> m_subscriptions;
};

} // namespace quorvane

// Keeps AppModel::pendingDefaultCaptureSaves raised while a save of newly captured Default values
// runs, so that nothing is applied automatically from values that are not yet on disk.
#pragma once

#include "Quorvane/AppModel.h"

namespace quorvane {

/// Raises the count for its own lifetime and lowers it however the wait ends, cancellation and
/// errors included: a count left raised would stop automatic application for good.
class PendingCaptureSave final {
public:
    explicit PendingCaptureSave(AppModel& model)
        : m_model(model)
    {
        m_model.pendingDefaultCaptureSaves.set(m_model.pendingDefaultCaptureSaves.get() + 1);
    }
    ~PendingCaptureSave()
    {
        m_model.pendingDefaultCaptureSaves.set(m_model.pendingDefaultCaptureSaves.get() - 1);
    }
    PendingCaptureSave(const PendingCaptureSave&) = delete;
    PendingCaptureSave& operator=(const PendingCaptureSave&) = delete;

private:
    AppModel& m_model;
};

} // namespace quorvane

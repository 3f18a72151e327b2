// QtApplicationShell.h: the running application as the model sees it, over Qt.
#pragma once

#include "MacPlatform/ApplicationShell.h"

namespace quorvane {

class TerminationHandler;

/// This desktop has no Dock, so the activation policy is only remembered: the main window sets it
/// regular while it is open and accessory once it closes. terminate() goes through the
/// termination handler, which ends the event loop when the quit allows it.
class QtApplicationShell final : public ApplicationShell {
public:
    /// `handler` must outlive the shell.
    explicit QtApplicationShell(TerminationHandler& handler);

    [[nodiscard]] ActivationPolicy activationPolicy() override { return m_policy; }
    void setActivationPolicy(ActivationPolicy policy) override { m_policy = policy; }
    void terminate() override;

private:
    TerminationHandler& m_handler;
    ActivationPolicy m_policy = ActivationPolicy::accessory;
};

} // namespace quorvane

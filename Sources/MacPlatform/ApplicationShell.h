// ApplicationShell.h: the running application as the system sees it (NSApplication): its
// activation policy and its termination.
#pragma once

#include "MacPlatform/Workspace.h"

namespace quorvane {

/// Stands for NSApplication.shared. Main thread only.
class ApplicationShell {
public:
    virtual ~ApplicationShell() = default;

    [[nodiscard]] virtual ActivationPolicy activationPolicy() = 0;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    /// Asks the application to terminate; the termination handler answers the request.
    virtual void terminate() = 0;
};

} // namespace quorvane

// LoginItems.h: the application's own login item (SMAppService.mainApp).
#pragma once

#include "Foundation/Error.h"

namespace quorvane {

/// SMAppService.Status.
enum class LoginItemStatus {
    notRegistered,
    enabled,
    requiresApproval,
    notFound,
};

/// A refused register or unregister; what() is the system's description.
class LoginItemError final : public Error {
public:
    using Error::Error;
};

/// Stands for SMAppService.mainApp.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    /// The login item's status now.
    [[nodiscard]] virtual LoginItemStatus status() = 0;
    /// register(); throws LoginItemError when the system refuses.
    virtual void registerItem() = 0;
    /// unregister(); throws LoginItemError when the system refuses.
    virtual void unregisterItem() = 0;
};

} // namespace quorvane

// LoginItems.h: the application's own login item (SMAppService.mainApp).
#pragma once

namespace quorvane {

/// SMAppService.Status.
enum class LoginItemStatus {
    notRegistered,
    enabled,
    requiresApproval,
    notFound,
};

/// Stands for SMAppService.mainApp.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    /// The login item's status now.
    [[nodiscard]] virtual LoginItemStatus status() = 0;
};

} // namespace quorvane

#include "Quorvane/AppModel.h"

#include "Foundation/Text.h"
#include "MacPlatform/LoginItems.h"

#include <algorithm>

namespace quorvane {

void AppModel::renameDisplay(std::string displayID, std::string name)
{
    const std::string trimmedName(trimmed(name));
    if (!isLoaded.get() || settingsError.get() || trimmedName.empty())
        return;
    const auto hasID = [&](const auto& screen) { return screen.id == displayID; };
    if (!std::ranges::any_of(displays.get(), hasID) && !std::ranges::any_of(knownScreens(), hasID))
        return;

    configuration.modify([&](Configuration& document) {
        if (!document.displayNames)
            document.displayNames.emplace();
        document.displayNames->insert_or_assign(displayID, trimmedName);
        for (DisplayReference& known : document.knownDisplays) {
            if (known.id == displayID)
                known.name = trimmedName;
        }
        for (Profile& profile : document.profiles) {
            for (std::size_t index = 0; index < profile.rules.size(); ++index) {
                const std::optional<DisplayReference>& screen
                    = profile.rules[index].conditions.screen;
                if (screen && screen->id == displayID)
                    profile.rules.edit(index).conditions.screen->name = trimmedName;
            }
        }
    });
    displays.modify([&](std::vector<DisplayDevice>& devices) {
        for (DisplayDevice& device : devices) {
            if (device.id == displayID)
                device.name = trimmedName;
        }
    });
    persist();
}

void AppModel::setLogin(bool enabled)
{
    try {
        if (enabled)
            m_loginItems.registerItem();
        else
            m_loginItems.unregisterItem();
        loginError.set(std::nullopt);
    } catch (const LoginItemError& error) {
        loginError.set(error.what());
    }
    const LoginItemStatus status = m_loginItems.status();
    loginEnabled.set(status == LoginItemStatus::enabled);
    loginNeedsApproval.set(status == LoginItemStatus::requiresApproval);
}

} // namespace quorvane

#include "Quorvane/AppModel.h"

#include "Foundation/Format.h"
#include "Foundation/Text.h"
#include "MacPlatform/LoginItems.h"

#include <algorithm>

namespace quorvane {
namespace {

/// `screen`'s name, followed by its number among the screens of that name in `listed` where
/// another one has it.
std::string numberedLabel(
    const DisplayReference& screen, const std::vector<DisplayReference>& listed)
{
    std::vector<std::string_view> namesakes;
    for (const DisplayReference& other : listed) {
        if (other.name == screen.name)
            namesakes.push_back(other.id);
    }
    const auto own = std::ranges::find(namesakes, screen.id);
    if (namesakes.empty() || (namesakes.size() == 1 && own != namesakes.end()))
        return screen.name;
    // Numbered in the order the screens were first seen, so a screen keeps its number in
    // every list.
    return screen.name + " "
        + formatInteger(static_cast<std::int64_t>(own - namesakes.begin()) + 1);
}

} // namespace

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
        for (std::size_t profile = 0; profile < document.profiles.size(); ++profile) {
            for (std::size_t rule = 0; rule < document.profiles[profile].rules.size(); ++rule) {
                // Looked up afresh for each rule: an edit replaces a profile another document
                // shares, and that one may go as soon as nothing else holds it.
                const std::optional<DisplayReference>& screen
                    = document.profiles[profile].rules[rule].conditions.screen;
                if (screen && screen->id == displayID)
                    document.profiles.edit(profile).rules.edit(rule).conditions.screen->name
                        = trimmedName;
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

std::string AppModel::spaceLabel(const Desktop& space, const std::vector<Desktop>& listed) const
{
    const bool isNameRepeated = std::ranges::any_of(listed,
        [&](const Desktop& other) { return other.name == space.name && other.id != space.id; });
    if (!isNameRepeated)
        return space.name;
    if (space.isShared)
        return space.name + " (all screens)";
    const std::vector<DisplayReference> screens = knownScreens();
    const auto screen = std::ranges::find(screens, space.displayID, &DisplayReference::id);
    if (screen == screens.end())
        return space.name;
    return space.name + " (" + screenLabel(*screen) + ")";
}

std::string AppModel::screenLabel(const DisplayReference& screen) const
{
    // The known screens, then the forgotten ones in the order the rules name them: every screen
    // of a name is numbered among all of them, so that no two read alike.
    std::vector<DisplayReference> screens = knownScreens();
    const auto isListed = [&](const std::string& id) {
        return std::ranges::find(screens, id, &DisplayReference::id) != screens.end();
    };
    for (const Profile& profile : configuration->profiles) {
        for (const Rule& rule : profile.rules) {
            const std::optional<DisplayReference>& named = rule.conditions.screen;
            if (named && named->name == screen.name && !isListed(named->id))
                screens.push_back(*named);
        }
    }
    if (!isListed(screen.id))
        screens.push_back(screen);
    return numberedLabel(screen, screens);
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

#include "Quorvane/AppModel.h"

#include "MacPlatform/ApplicationCatalog.h"
#include "MacPlatform/OpenPanel.h"
#include "MacPlatform/Workspace.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

namespace quorvane {
namespace {

// Used when the main bundle reports no identifier of its own.
constexpr std::string_view ownBundleIdentifier = "com.quorvane.Quorvane";

/// The folders scanned for applications, the home folder's last.
std::array<std::filesystem::path, 4> applicationFolders(const std::filesystem::path& home)
{
    return {"/Applications", "/System/Applications", "/System/Applications/Utilities",
        home / "Applications"};
}

struct CollatorCloser {
    void operator()(UCollator* collator) const noexcept { ucol_close(collator); }
};
using Collator = std::unique_ptr<UCollator, CollatorCloser>;

/// The user's collation, comparing letters and accents but not case. The C locale names no
/// language, and its collation would order every capital before every small letter, so it gets
/// the root order. Absent when the collation data cannot be loaded.
Collator caseInsensitiveCollator()
{
    UErrorCode status = U_ZERO_ERROR;
    // ICU names the C and POSIX locales so.
    const bool isPOSIX = std::string_view(uloc_getDefault()) == "en_US_POSIX";
    Collator collator(ucol_open(isPOSIX ? "" : nullptr, &status));
    if (U_FAILURE(status))
        return nullptr;
    ucol_setStrength(collator.get(), UCOL_SECONDARY);
    return collator;
}

/// A localized, case-insensitive order by name; byte order when no collation is available.
void sortByName(std::vector<AppChoice>& choices)
{
    const Collator collator = caseInsensitiveCollator();
    const auto comesBefore = [&collator](const AppChoice& a, const AppChoice& b) {
        if (!collator)
            return a.name < b.name;
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult order = ucol_strcollUTF8(collator.get(), a.name.data(),
            static_cast<std::int32_t>(a.name.size()), b.name.data(),
            static_cast<std::int32_t>(b.name.size()), &status);
        return U_SUCCESS(status) && order == UCOL_LESS;
    };
    std::ranges::stable_sort(choices, comesBefore);
}

/// The bundle's file name without its extension, also for a folder path that ends in a separator.
std::string bundleStem(const std::filesystem::path& location)
{
    std::string text = location.string();
    while (!text.empty() && text.back() == '/')
        text.pop_back();
    return std::filesystem::path(text).stem().string();
}

/// The Info dictionary's text under `key`; absent when the key is missing or holds no text.
std::optional<std::string> infoText(const ApplicationBundle& bundle, const std::string& key)
{
    const auto found = bundle.info.find(key);
    if (found == bundle.info.end() || !found->second.textValue())
        return std::nullopt;
    return *found->second.textValue();
}

} // namespace

std::optional<AppChoice> AppModel::appChoice(const std::filesystem::path& location) const
{
    const std::optional<ApplicationBundle> bundle = m_applicationCatalog.bundle(location);
    if (!bundle || !bundle->bundleIdentifier)
        return std::nullopt;
    std::optional<std::string> name = infoText(*bundle, "CFBundleDisplayName");
    if (!name)
        name = infoText(*bundle, "CFBundleName");
    return AppChoice{.id = *bundle->bundleIdentifier,
        .name = name.value_or(bundleStem(location)),
        .url = location};
}

void AppModel::refreshApps()
{
    std::map<std::string, AppChoice> found;
    for (const std::filesystem::path& folder :
        applicationFolders(m_applicationCatalog.homeDirectory())) {
        const auto entries = m_applicationCatalog.contentsOfDirectory(folder, true);
        if (!entries)
            continue;
        for (const std::filesystem::path& entry : *entries) {
            if (entry.extension() != ".app")
                continue;
            if (std::optional<AppChoice> choice = appChoice(entry))
                found.insert_or_assign(choice->id, std::move(*choice));
        }
    }
    for (const RunningApplication& running : m_workspace.runningApplications()) {
        if (running.activationPolicy != ActivationPolicy::regular || !running.bundleIdentifier)
            continue;
        const std::string& id = *running.bundleIdentifier;
        std::optional<std::filesystem::path> url;
        if (running.bundlePath)
            url = *running.bundlePath;
        found.insert_or_assign(id,
            AppChoice{.id = id, .name = running.localizedName.value_or(id), .url = std::move(url)});
    }
    for (const Profile& profile : configuration->profiles) {
        for (const Rule& rule : profile.rules) {
            for (const ApplicationReference& app : rule.conditions.apps)
                found.try_emplace(app.id, AppChoice{.id = app.id, .name = app.name});
        }
    }
    found.erase(m_workspace.mainBundleIdentifier().value_or(std::string(ownBundleIdentifier)));

    std::vector<AppChoice> sorted;
    sorted.reserve(found.size());
    for (auto& entry : found)
        sorted.push_back(std::move(entry.second));
    sortByName(sorted);
    apps.set(std::move(sorted));
}

std::vector<AppChoice> AppModel::chooseApplications()
{
    const OpenPanelAnswer answer = m_openPanel.runModal({
        .title = "Choose applications",
        .directory = "/Applications",
        .canChooseDirectories = false,
        .allowedContentTypes = {ContentType::applicationBundle},
        .allowsMultipleSelection = true,
    });
    if (answer.response != ModalResponse::ok)
        return {};
    std::vector<AppChoice> chosen;
    for (const std::filesystem::path& location : answer.selection) {
        if (std::optional<AppChoice> choice = appChoice(location))
            chosen.push_back(std::move(*choice));
    }
    std::vector<AppChoice> updated = apps.get();
    for (const AppChoice& choice : chosen) {
        const bool listed = std::ranges::any_of(
            updated, [&](const AppChoice& app) { return app.id == choice.id; });
        if (!listed)
            updated.push_back(choice);
    }
    sortByName(updated);
    apps.set(std::move(updated));
    return chosen;
}

} // namespace quorvane

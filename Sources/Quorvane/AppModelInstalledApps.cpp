#include "Quorvane/AppModel.h"

#include "MacPlatform/ApplicationCatalog.h"
#include "MacPlatform/OpenPanel.h"
#include "MacPlatform/Workspace.h"

#include <algorithm>
#include <array>
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

/// Lower case for ASCII and the Latin-1 letters.
char32_t folded(char32_t point)
{
    const bool upperLatin1 = point >= 0xC0 && point <= 0xDE && point != 0xD7;
    if ((point >= 'A' && point <= 'Z') || upperLatin1)
        return point + 0x20;
    return point;
}

/// The base letter of a lower-case Latin-1 letter, so that accents weigh less than letters.
char32_t withoutAccent(char32_t point)
{
    // From U+00E0 to U+00FF; '\0' keeps the letter as it is. The length is given: the text
    // holds zeros.
    constexpr std::u32string_view bases(U"aaaaaa\0ceeeeiiii\0nooooo\0ouuuuy\0y", 32);
    if (point < 0xE0 || point > 0xFF || bases[point - 0xE0] == U'\0')
        return point;
    return bases[point - 0xE0];
}

/// U+0000 to U+00FF as UTF-8.
void appendLatin1(std::string& text, char32_t point)
{
    if (point < 0x80) {
        text.push_back(static_cast<char>(point));
        return;
    }
    text.push_back(static_cast<char>(0xC0 | (point >> 6)));
    text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
}

/// Byte strings that compare like the names: UTF-8 orders as its code points do, so only the
/// letters of ASCII and Latin-1 (U+00C0 to U+00FF, lead byte 0xC3) need rewriting, and bytes
/// that are not valid UTF-8 simply stay as they are.
struct CollationKey {
    std::string letters;
    std::string accented;
};

CollationKey collationKey(std::string_view text)
{
    CollationKey key;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        const bool latin1 = byte == 0xC3 && index + 1 < text.size()
            && (static_cast<unsigned char>(text[index + 1]) & 0xC0) == 0x80;
        if (!latin1 && byte >= 0x80) {
            key.letters.push_back(text[index]);
            key.accented.push_back(text[index]);
            continue;
        }
        char32_t point = byte;
        if (latin1)
            point = 0xC0 + (static_cast<unsigned char>(text[++index]) & 0x3F);
        point = folded(point);
        appendLatin1(key.letters, withoutAccent(point));
        appendLatin1(key.accented, point);
    }
    return key;
}

/// A localized, case-insensitive order: letters first, accents only between equal letters, and
/// names that differ only in case are equal.
bool comesBefore(const std::string& first, const std::string& second)
{
    const CollationKey a = collationKey(first);
    const CollationKey b = collationKey(second);
    if (a.letters != b.letters)
        return a.letters < b.letters;
    return a.accented < b.accented;
}

void sortByName(std::vector<AppChoice>& choices)
{
    std::ranges::stable_sort(choices,
        [](const AppChoice& a, const AppChoice& b) { return comesBefore(a.name, b.name); });
}

std::string infoText(const ApplicationBundle& bundle, const std::string& key)
{
    const auto found = bundle.info.find(key);
    if (found == bundle.info.end() || !found->second.textValue())
        return {};
    return *found->second.textValue();
}

bool hasInfoText(const ApplicationBundle& bundle, const std::string& key)
{
    const auto found = bundle.info.find(key);
    return found != bundle.info.end() && found->second.textValue();
}

} // namespace

std::optional<AppChoice> AppModel::appChoice(const std::filesystem::path& location) const
{
    const std::optional<ApplicationBundle> bundle = m_applicationCatalog.bundle(location);
    if (!bundle || !bundle->bundleIdentifier)
        return std::nullopt;
    std::string name = location.stem().string();
    if (hasInfoText(*bundle, "CFBundleDisplayName"))
        name = infoText(*bundle, "CFBundleDisplayName");
    else if (hasInfoText(*bundle, "CFBundleName"))
        name = infoText(*bundle, "CFBundleName");
    return AppChoice{.id = *bundle->bundleIdentifier, .name = std::move(name), .url = location};
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

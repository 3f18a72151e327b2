#include "SimulatedMac/SimulatedApplicationCatalog.h"

#include <utility>

namespace quorvane {
namespace {

bool isHidden(const std::filesystem::path& entry)
{
    return entry.filename().string().starts_with('.');
}

} // namespace

void SimulatedApplicationCatalog::addFolder(const std::filesystem::path& folder)
{
    for (std::filesystem::path part = folder; !part.empty() && part != part.root_path();
         part = part.parent_path())
        m_entries.try_emplace(part, std::nullopt);
}

void SimulatedApplicationCatalog::addBundle(
    const std::filesystem::path& location, ApplicationBundle bundle)
{
    addFolder(location.parent_path());
    m_entries.insert_or_assign(location, std::move(bundle));
}

void SimulatedApplicationCatalog::addApplication(const std::filesystem::path& location,
    std::string bundleIdentifier, std::optional<std::string> bundleName)
{
    ApplicationBundle bundle{.bundleIdentifier = std::move(bundleIdentifier)};
    if (bundleName)
        bundle.info.emplace("CFBundleName", PlatformValue::text(std::move(*bundleName)));
    addBundle(location, std::move(bundle));
}

std::optional<std::vector<std::filesystem::path>> SimulatedApplicationCatalog::contentsOfDirectory(
    const std::filesystem::path& folder, bool skipsHiddenFiles)
{
    // The root is always there, whether or not anything was added under it.
    const bool isRoot = folder.has_root_path() && folder == folder.root_path();
    if ((!isRoot && !m_entries.contains(folder)) || unreadableFolders.contains(folder))
        return std::nullopt;
    std::vector<std::filesystem::path> contents;
    for (const auto& [entry, bundle] : m_entries) {
        if (entry.parent_path() != folder || (skipsHiddenFiles && isHidden(entry)))
            continue;
        contents.push_back(entry);
    }
    return contents;
}

std::optional<ApplicationBundle> SimulatedApplicationCatalog::bundle(
    const std::filesystem::path& location)
{
    const auto found = m_entries.find(location);
    if (found == m_entries.end())
        return std::nullopt;
    return found->second;
}

void installApplicationDefaults(SimulatedApplicationCatalog& catalog)
{
    // The two that run in the default world, and one in a folder of its own.
    catalog.addApplication("/Applications/Writer.app", "com.example.Writer", "Writer");
    catalog.addApplication("/Applications/Viewer.app", "com.example.Viewer", "Viewer");
    catalog.addApplication(
        "/Applications/Graphics/Sketcher.app", "com.example.Sketcher", "Sketcher");
    catalog.addFolder("/System/Applications/Utilities");
    catalog.addFolder(catalog.home / "Applications");
}

} // namespace quorvane

// SimulatedApplicationCatalog.h: the simulated Mac's folders of application bundles, and the
// open panel whose answer a test sets.
#pragma once

#include "MacPlatform/ApplicationCatalog.h"
#include "MacPlatform/OpenPanel.h"

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace quorvane {

/// A folder tree: every folder and bundle by its full path. A bundle is a folder whose bundle
/// facts are known; a plain folder opens as no bundle. Names that start with a dot are hidden.
class SimulatedApplicationCatalog final : public ApplicationCatalog {
public:
    std::filesystem::path home = "/Users/user";
    /// Folders that exist but cannot be listed.
    std::set<std::filesystem::path> unreadableFolders;

    /// Adds a folder and every folder above it.
    void addFolder(const std::filesystem::path& folder);
    /// Adds a bundle (and the folders above it); replaces one at the same place.
    void addBundle(const std::filesystem::path& location, ApplicationBundle bundle);
    /// Adds an application bundle with that identifier and, when given, a CFBundleName.
    void addApplication(const std::filesystem::path& location, std::string bundleIdentifier,
        std::optional<std::string> bundleName = std::nullopt);

    std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(
        const std::filesystem::path& folder, bool skipsHiddenFiles) override;
    std::filesystem::path homeDirectory() override { return home; }
    std::optional<ApplicationBundle> bundle(const std::filesystem::path& location) override;

private:
    /// Absent for a plain folder.
    std::map<std::filesystem::path, std::optional<ApplicationBundle>> m_entries;
};

/// The applications the application's simulated Mac has installed: a few in "/Applications",
/// and one in a folder inside it, which the list of installed applications does not reach.
void installApplicationDefaults(SimulatedApplicationCatalog& catalog);

/// Answers every run with `answer` and keeps each request it was run with.
class SimulatedOpenPanel final : public OpenPanel {
public:
    OpenPanelAnswer answer;
    std::vector<OpenPanelRequest> requests;

    OpenPanelAnswer runModal(const OpenPanelRequest& request) override
    {
        requests.push_back(request);
        return answer;
    }
};

} // namespace quorvane

// SimulatedWorkspace.h: the simulated Mac's running applications and the URLs it was asked to
// open.
#pragma once

#include "MacPlatform/Workspace.h"

namespace quorvane {

class SimulatedMac;

class SimulatedWorkspace final : public Workspace {
public:
    /// In launch order; the frontmost is named by its process identifier.
    std::vector<RunningApplication> applications;
    std::optional<std::int32_t> frontmostProcess;
    std::int32_t ownProcess = 100;
    std::optional<std::string> ownBundleIdentifier = "com.quorvane.Quorvane";
    std::vector<std::string> openedURLs;

    std::optional<RunningApplication> frontmostApplication() override;
    std::vector<RunningApplication> runningApplications() override { return applications; }
    std::int32_t currentProcessIdentifier() override { return ownProcess; }
    std::optional<std::string> mainBundleIdentifier() override { return ownBundleIdentifier; }
    bool openURL(std::string_view url) override;
};

/// The default world's applications: this application in the menu bar, and two regular ones with
/// one window each, "Writer" (frontmost) on the built-in display 1 at (0,0,1512,982) and "Viewer"
/// on the external display 2 at (1512,0,2560,1440); Accessibility trusted.
void installWorkspaceDefaults(SimulatedMac& mac);

} // namespace quorvane

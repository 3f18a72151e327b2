#include "SimulatedMac/SimulatedWorkspace.h"

#include "SimulatedMac/SimulatedMac.h"

#include <algorithm>

namespace quorvane {

std::optional<RunningApplication> SimulatedWorkspace::frontmostApplication()
{
    if (!frontmostProcess)
        return std::nullopt;
    const auto found = std::ranges::find(applications, *frontmostProcess, &RunningApplication::processIdentifier);
    return found == applications.end() ? std::nullopt : std::optional(*found);
}

bool SimulatedWorkspace::openURL(std::string_view url)
{
    openedURLs.emplace_back(url);
    return true;
}

void installWorkspaceDefaults(SimulatedMac& mac)
{
    SimulatedWorkspace& workspace = mac.workspace;
    // Appended: other slices' installers add their own processes (the Dock) to the same list.
    workspace.applications.insert(workspace.applications.end(), {
        {.processIdentifier = workspace.ownProcess,
            .bundleIdentifier = workspace.ownBundleIdentifier,
            .localizedName = "QuorVane",
            .bundlePath = "/Applications/QuorVane.app",
            .activationPolicy = ActivationPolicy::accessory},
        {.processIdentifier = 201,
            .bundleIdentifier = "com.example.Writer",
            .localizedName = "Writer",
            .bundlePath = "/Applications/Writer.app"},
        {.processIdentifier = 202,
            .bundleIdentifier = "com.example.Viewer",
            .localizedName = "Viewer",
            .bundlePath = "/Applications/Viewer.app"},
    });
    workspace.frontmostProcess = 201;
    mac.accessibility.trusted = true;
    (void)mac.accessibility.addWindow(201, {.x = 120, .y = 80, .width = 900, .height = 700});
    (void)mac.accessibility.addWindow(202, {.x = 1712, .y = 200, .width = 1400, .height = 900});
}

} // namespace quorvane

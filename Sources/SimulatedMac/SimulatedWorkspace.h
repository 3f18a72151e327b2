// SimulatedWorkspace.h: the simulated Mac's running applications and the URLs it was asked to
// open.
#pragma once

#include "MacPlatform/Workspace.h"

namespace quorvane {

class SimulatedWorkspace final : public Workspace {
public:
    /// In launch order; the frontmost is named by its process identifier.
    std::vector<RunningApplication> applications;
    std::optional<std::int32_t> frontmostProcess;
    std::int32_t ownProcess = 100;
    std::vector<std::string> openedURLs;

    std::optional<RunningApplication> frontmostApplication() override;
    std::vector<RunningApplication> runningApplications() override { return applications; }
    std::int32_t currentProcessIdentifier() override { return ownProcess; }
    bool openURL(std::string_view url) override;
};

} // namespace quorvane

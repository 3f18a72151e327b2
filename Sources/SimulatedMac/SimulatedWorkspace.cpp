#include "SimulatedMac/SimulatedWorkspace.h"

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

} // namespace quorvane

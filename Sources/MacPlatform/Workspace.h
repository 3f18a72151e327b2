// Workspace.h: the running applications and the workspace's services (NSWorkspace,
// NSRunningApplication).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// NSApplicationActivationPolicy.
enum class ActivationPolicy { regular, accessory, prohibited };

/// What an NSRunningApplication reports.
struct RunningApplication {
    std::int32_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier = std::nullopt;
    std::optional<std::string> localizedName = std::nullopt;
    std::optional<std::string> bundlePath = std::nullopt;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    /// isTerminated: the process has quit but the object is still about.
    bool isTerminated = false;
    bool operator==(const RunningApplication&) const = default;
};

/// Stands for NSWorkspace.sharedWorkspace and NSRunningApplication's class members.
class Workspace {
public:
    virtual ~Workspace() = default;

    /// frontmostApplication; absent when none is.
    [[nodiscard]] virtual std::optional<RunningApplication> frontmostApplication() = 0;
    /// runningApplications, in the platform's order.
    [[nodiscard]] virtual std::vector<RunningApplication> runningApplications() = 0;
    /// The process identifier of this application itself.
    [[nodiscard]] virtual std::int32_t currentProcessIdentifier() = 0;
    /// NSBundle.mainBundle.bundleIdentifier: this application's own; absent when it has none.
    [[nodiscard]] virtual std::optional<std::string> mainBundleIdentifier() = 0;
    /// openURL:; false when nothing opened it.
    virtual bool openURL(std::string_view url) = 0;
};

} // namespace quorvane

// The session's notifications (applications, Spaces, sleep and wake, screens) reduced to the
// three things the model does about them: re-read the context, re-read the hardware, suspend.
#pragma once

#include <functional>

namespace quorvane {

struct Platform;

/// Lives as long as the model. A notification that arrives while its callback is absent is
/// dropped.
class WorkspaceEvents final {
public:
    explicit WorkspaceEvents(Platform& platform);

    // Its observers refer to it.
    WorkspaceEvents(const WorkspaceEvents&) = delete;
    WorkspaceEvents& operator=(const WorkspaceEvents&) = delete;

    /// Called for every context- or hardware-relevant notification; true for hardware-relevant
    /// ones (wake, screens wake, session active, screen parameters).
    std::function<void(bool hardware)> changed;
    /// Called for sleep, screens sleep and session resign.
    std::function<void()> suspended;
};

} // namespace quorvane

// RunLoop.h: run-loop sources (CFRunLoopSourceRef) that platform services hand out, and the modes
// they are added to the main run loop in.
#pragma once

#include <cstdint>

namespace quorvane {

/// A run-loop source made by one platform service; only that service adds, removes or
/// invalidates it.
struct RunLoopSource {
    std::uint64_t handle = 0;
    bool operator==(const RunLoopSource&) const = default;
};

/// kCFRunLoopDefaultMode and kCFRunLoopCommonModes.
enum class RunLoopMode { defaultMode, commonModes };

} // namespace quorvane

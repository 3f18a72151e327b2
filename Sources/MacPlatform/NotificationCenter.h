// NotificationCenter.h: named notifications delivered to observers (NSNotificationCenter, and
// NSWorkspace's own centre).
#pragma once

#include "MacPlatform/PlatformValue.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quorvane {

struct Notification {
    std::string name;
    PlatformDictionary userInfo;
};

/// An observer registration; removing it stops delivery.
struct ObserverToken {
    std::uint64_t handle;
    bool operator==(const ObserverToken&) const = default;
};

/// Delivers every notification to the observers of its name, on the main executor, in the order
/// they were added.
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;

    virtual ~NotificationCenter() = default;

    virtual ObserverToken addObserver(std::string name, Observer observer) = 0;
    virtual void removeObserver(ObserverToken token) = 0;
    /// Delivers synchronously to the observers registered now.
    virtual void post(const Notification& notification) = 0;
};

} // namespace quorvane

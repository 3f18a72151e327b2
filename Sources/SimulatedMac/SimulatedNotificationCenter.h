// SimulatedNotificationCenter.h: a notification centre that delivers in registration order and
// keeps every posted notification for tests to read.
#pragma once

#include "MacPlatform/NotificationCenter.h"

#include <map>
#include <vector>

namespace quorvane {

class SimulatedNotificationCenter final : public NotificationCenter {
public:
    ObserverToken addObserver(std::string name, Observer observer) override;
    void removeObserver(ObserverToken token) override;
    void post(const Notification& notification) override;

    [[nodiscard]] std::size_t observerCount() const { return m_observers.size(); }
    /// Every notification posted, in order.
    std::vector<Notification> posted;

private:
    struct Registration {
        std::string name;
        Observer observer;
    };

    std::map<std::uint64_t, Registration> m_observers; ///< by token, so in registration order
    std::uint64_t m_nextToken = 1;
};

} // namespace quorvane

#include "SimulatedMac/SimulatedNotificationCenter.h"

namespace quorvane {

ObserverToken SimulatedNotificationCenter::addObserver(std::string name, Observer observer)
{
    const ObserverToken token{.handle = m_nextToken++};
    m_observers.emplace(token.handle, Registration{.name = std::move(name), .observer = std::move(observer)});
    return token;
}

void SimulatedNotificationCenter::removeObserver(ObserverToken token)
{
    m_observers.erase(token.handle);
}

void SimulatedNotificationCenter::post(const Notification& notification)
{
    posted.push_back(notification);
    // An observer may remove itself or others while it runs: deliver to a copy of the tokens.
    std::vector<std::uint64_t> tokens;
    for (const auto& [token, registration] : m_observers)
        if (registration.name == notification.name)
            tokens.push_back(token);
    for (const std::uint64_t token : tokens)
        if (const auto found = m_observers.find(token); found != m_observers.end())
            found->second.observer(notification);
}

} // namespace quorvane

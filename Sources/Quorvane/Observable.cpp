#include "Quorvane/Observable.h"

#include <vector>

namespace quorvane {

Subscription::Subscription(Subscription&& other) noexcept
    : m_observers(std::exchange(other.m_observers, {}))
    , m_id(std::exchange(other.m_id, 0))
{
}

Subscription& Subscription::operator=(Subscription&& other) noexcept
{
    if (this != &other) {
        reset();
        m_observers = std::exchange(other.m_observers, {});
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void Subscription::reset() noexcept
{
    if (const auto observers = m_observers.lock())
        observers->erase(m_id);
    m_observers.reset();
}

ChangeSignal::ChangeSignal()
    : m_observers(std::make_shared<Subscription::Observers>())
{
}

ChangeSignal::~ChangeSignal()
{
    // Ends every subscription, also for a notification still walking the list.
    m_observers->clear();
}

Subscription ChangeSignal::observe(std::function<void()> observer) const
{
    const std::uint64_t id = m_nextID++;
    m_observers->emplace(id, std::make_shared<std::function<void()>>(std::move(observer)));
    return Subscription(m_observers, id);
}

void ChangeSignal::notify() const
{
    // Observers may change the list while they run; walk the ids as they stood at the start.
    std::vector<std::uint64_t> ids;
    ids.reserve(m_observers->size());
    for (const auto& [id, observer] : *m_observers)
        ids.push_back(id);
    // The signal may die inside an observer (a view dropping the model's last owner); the list
    // and the running observer must outlive it.
    const std::shared_ptr<Subscription::Observers> observers = m_observers;
    for (const std::uint64_t id : ids) {
        const auto found = observers->find(id);
        if (found == observers->end())
            continue;
        const std::shared_ptr<std::function<void()>> observer = found->second;
        (*observer)();
    }
}

} // namespace quorvane

// Observable state for the views: a field that tells its subscribers when it changes, so that
// each view redraws only what it shows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace quorvane {

/// Ends one subscription when destroyed or reset. Safe to destroy after the field it watches.
class [[nodiscard]] Subscription final {
public:
    Subscription() = default;
    ~Subscription() { reset(); }
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;

    // Two owners of one subscription would end it twice.
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    /// Stops the notifications; nothing happens when already stopped.
    void reset() noexcept;

private:
    friend class ChangeSignal;
    using Observers = std::map<std::uint64_t, std::shared_ptr<std::function<void()>>>;

    Subscription(std::weak_ptr<Observers> observers, std::uint64_t id)
        : m_observers(std::move(observers))
        , m_id(id)
    {
    }

    std::weak_ptr<Observers> m_observers;
    std::uint64_t m_id = 0;
};

/// The observers of one field, called in the order they subscribed. An observer may subscribe
/// or unsubscribe others, or itself, while it runs: one that is unsubscribed before its turn is
/// not called, and one that subscribes during a notification waits for the next. An observer may
/// even destroy the field; those after it are then not called.
class ChangeSignal final {
public:
    ChangeSignal();
    ~ChangeSignal();

    // Copying a field must not copy who watches it.
    ChangeSignal(const ChangeSignal&) = delete;
    ChangeSignal& operator=(const ChangeSignal&) = delete;

    [[nodiscard]] Subscription observe(std::function<void()> observer) const;
    void notify() const;

private:
    std::shared_ptr<Subscription::Observers> m_observers;
    mutable std::uint64_t m_nextID = 1;
};

/// Which writes notify.
enum class NotifyPolicy {
    /// Only a value that differs from the stored one (operator==).
    onChange,
    /// Every write, for values whose changes cannot or need not be compared.
    onEveryWrite,
};

/// One observable field. Observers run synchronously, after the new value is stored.
template <typename T, NotifyPolicy policy = NotifyPolicy::onChange> class Observable final {
public:
    Observable()
        : m_value()
    {
    }
    explicit Observable(T initial)
        : m_value(std::move(initial))
    {
    }

    [[nodiscard]] const T& get() const noexcept { return m_value; }
    [[nodiscard]] const T* operator->() const noexcept { return &m_value; }
    [[nodiscard]] const T& operator*() const noexcept { return m_value; }

    /// Stores `value`; with onChange an equal value is stored silently.
    void set(T value)
    {
        if constexpr (policy == NotifyPolicy::onChange) {
            if (value == m_value)
                return;
        }
        m_value = std::move(value);
        m_signal.notify();
    }

    /// As set(), but an equal value is stored too, silently: for values whose equal copies differ
    /// in what they share with later values, which then compare faster with the newer copy.
    void replace(T value)
    {
        if constexpr (policy == NotifyPolicy::onChange) {
            if (value == m_value) {
                m_value = std::move(value);
                return;
            }
        }
        m_value = std::move(value);
        m_signal.notify();
    }

    /// Changes the value in place through `change(T&)`; notifies as set() would.
    template <typename Change> void modify(Change&& change)
    {
        if constexpr (policy == NotifyPolicy::onChange) {
            T copy = m_value;
            std::forward<Change>(change)(copy);
            set(std::move(copy));
        } else {
            std::forward<Change>(change)(m_value);
            m_signal.notify();
        }
    }

    /// Changes the value in place through `change(T&)`, which returns whether it changed it;
    /// notifies only then. Unlike modify() it neither copies nor compares the value: for a large
    /// value whose change the caller can tell. A `change` that throws leaves what it did so far.
    template <typename Change> void update(Change&& change)
    {
        if (std::forward<Change>(change)(m_value))
            m_signal.notify();
    }

    /// Calls `observer` after every notifying write until the subscription ends.
    [[nodiscard]] Subscription observe(std::function<void()> observer) const
    {
        return m_signal.observe(std::move(observer));
    }

private:
    T m_value;
    ChangeSignal m_signal;
};

/// A field whose every write notifies.
template <typename T> using EveryWriteObservable = Observable<T, NotifyPolicy::onEveryWrite>;

} // namespace quorvane

// AsyncMutex.h: a first-come, first-served lock that tasks hold across their awaits.
#pragma once

#include "Concurrency/Suspension.h"

#include <coroutine>
#include <memory>
#include <optional>
#include <stop_token>

namespace quorvane {

/// Keeps one task at a time inside an operation that suspends (a transfer with pauses), where
/// plain single-threaded code would interleave at every await. Tasks get it in the order they
/// asked. Either the mutex or a holder may go first: a lock outliving its mutex is harmless.
class AsyncMutex final {
public:
    class ScopedLock;
    class LockAwaiter;

    AsyncMutex();

    // Waiters and holders refer to the mutex's state, not its address; one mutex, one queue.
    AsyncMutex(const AsyncMutex&) = delete;
    AsyncMutex& operator=(const AsyncMutex&) = delete;

    /// `const auto lock = co_await mutex.lock();` holds the mutex until `lock` is destroyed.
    /// Does not suspend when the mutex is free. Otherwise the task queues and suspends; an unlock
    /// hands the mutex straight to the first in the queue, which is resumed through its
    /// executor and cannot be overtaken by a task arriving meanwhile. A task that is cancelled
    /// before the mutex is handed to it, already when it asks, leaves the queue (in constant
    /// time, however long it is) and throws CancellationError (resumed on the next turn); one
    /// cancelled after the hand-off gets the mutex and notices at its next check.
    [[nodiscard]] LockAwaiter lock();

    [[nodiscard]] bool isLocked() const noexcept;

private:
    struct State;

    std::shared_ptr<State> m_state;
};

/// Holds the mutex until destroyed, then hands it to the next waiter.
class [[nodiscard]] AsyncMutex::ScopedLock final {
public:
    ScopedLock(ScopedLock&& other) noexcept;
    ScopedLock& operator=(ScopedLock&& other) noexcept;
    ~ScopedLock();

    // Two owners would unlock twice.
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    friend class LockAwaiter;

    explicit ScopedLock(std::shared_ptr<State> mutex) noexcept;
    void unlock() noexcept;

    std::shared_ptr<State> m_mutex;
};

/// What AsyncMutex::lock() returns; see there.
class [[nodiscard]] AsyncMutex::LockAwaiter final {
public:
    ~LockAwaiter();

    // The queue keeps the address of a suspended awaiter.
    LockAwaiter(const LockAwaiter&) = delete;
    LockAwaiter& operator=(const LockAwaiter&) = delete;

    [[nodiscard]] bool await_ready();
    void await_suspend(std::coroutine_handle<> handle);
    [[nodiscard]] ScopedLock await_resume();

private:
    friend class AsyncMutex;
    friend struct AsyncMutex::State;

    enum class Progress { asking, queued, granted, cancelled, taken };

    struct OnCancel {
        LockAwaiter* awaiter;
        void operator()() const;
    };

    explicit LockAwaiter(std::shared_ptr<State> mutex) noexcept;
    /// Called by an unlock that passes the mutex to this waiter.
    void takeHandOff();
    void leaveQueueCancelled();

    std::shared_ptr<State> m_mutex;
    Progress m_progress = Progress::asking;
    std::optional<detail::Suspension> m_suspension;
    std::optional<std::stop_callback<OnCancel>> m_onCancel;
    // Neighbours in the mutex's queue while queued.
    LockAwaiter* m_previous = nullptr;
    LockAwaiter* m_next = nullptr;
};

} // namespace quorvane

#include "Concurrency/AsyncMutex.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/SpawnedTask.h"

#include <cassert>
#include <utility>

namespace quorvane {

struct AsyncMutex::State {
    void unlock()
    {
        assert(isLocked && "unlocked a mutex that nobody holds");
        if (!first) {
            isLocked = false;
            return;
        }
        // The mutex stays locked: it passes to the first waiter, not to whoever asks next.
        LockAwaiter& next = *first;
        leave(next);
        next.takeHandOff();
    }

    void join(LockAwaiter& awaiter)
    {
        awaiter.m_previous = last;
        (last ? last->m_next : first) = &awaiter;
        last = &awaiter;
    }

    void leave(LockAwaiter& awaiter)
    {
        (awaiter.m_previous ? awaiter.m_previous->m_next : first) = awaiter.m_next;
        (awaiter.m_next ? awaiter.m_next->m_previous : last) = awaiter.m_previous;
        awaiter.m_previous = nullptr;
        awaiter.m_next = nullptr;
    }

    bool isLocked = false;
    // The queue runs through the waiting awaiters themselves, so that a cancelled one leaves it
    // in constant time however many wait.
    LockAwaiter* first = nullptr;
    LockAwaiter* last = nullptr;
};

AsyncMutex::AsyncMutex()
    : m_state(std::make_shared<State>())
{
}

AsyncMutex::LockAwaiter AsyncMutex::lock() { return LockAwaiter(m_state); }

bool AsyncMutex::isLocked() const noexcept { return m_state->isLocked; }

AsyncMutex::ScopedLock::ScopedLock(std::shared_ptr<State> mutex) noexcept
    : m_mutex(std::move(mutex))
{
}

AsyncMutex::ScopedLock::ScopedLock(ScopedLock&& other) noexcept = default;

AsyncMutex::ScopedLock& AsyncMutex::ScopedLock::operator=(ScopedLock&& other) noexcept
{
    if (this != &other) {
        unlock();
        m_mutex = std::move(other.m_mutex);
    }
    return *this;
}

AsyncMutex::ScopedLock::~ScopedLock() { unlock(); }

void AsyncMutex::ScopedLock::unlock() noexcept
{
    if (m_mutex)
        std::exchange(m_mutex, nullptr)->unlock();
}

AsyncMutex::LockAwaiter::LockAwaiter(std::shared_ptr<State> mutex) noexcept
    : m_mutex(std::move(mutex))
{
}

AsyncMutex::LockAwaiter::~LockAwaiter()
{
    m_onCancel.reset();
    // Only when the waiting frame is destroyed with its executor: never strand the queue.
    if (m_progress == Progress::queued)
        m_mutex->leave(*this);
    if (m_progress == Progress::granted)
        m_mutex->unlock();
}

bool AsyncMutex::LockAwaiter::await_ready()
{
    if (isCancelled()) {
        m_progress = Progress::cancelled;
        return true;
    }
    if (m_mutex->isLocked)
        return false;
    m_mutex->isLocked = true;
    m_progress = Progress::granted;
    return true;
}

void AsyncMutex::LockAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_suspension = detail::Suspension::ofRunningTask(handle);
    m_progress = Progress::queued;
    m_mutex->join(*this);
    m_onCancel.emplace(m_suspension->task->stopToken(), OnCancel{this});
}

AsyncMutex::ScopedLock AsyncMutex::LockAwaiter::await_resume()
{
    m_onCancel.reset();
    if (m_progress == Progress::cancelled)
        throw CancellationError();
    assert(m_progress == Progress::granted);
    m_progress = Progress::taken;
    return ScopedLock(m_mutex);
}

void AsyncMutex::LockAwaiter::takeHandOff()
{
    m_progress = Progress::granted;
    m_suspension->resumeSoon();
}

void AsyncMutex::LockAwaiter::leaveQueueCancelled()
{
    if (m_progress != Progress::queued)
        return;
    m_mutex->leave(*this);
    m_progress = Progress::cancelled;
    m_suspension->resumeSoon();
}

void AsyncMutex::LockAwaiter::OnCancel::operator()() const { awaiter->leaveQueueCancelled(); }

} // namespace quorvane

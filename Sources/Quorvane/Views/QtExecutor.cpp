#include "Quorvane/Views/QtExecutor.h"

#include "Concurrency/WorkerThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <limits>
#include <memory>

namespace quorvane {

namespace {

/// Whole milliseconds until `deadline`, rounded up so that the timer never fires before it.
int millisecondsUntil(ContinuousClock::time_point deadline, ContinuousClock::time_point now)
{
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    if (remaining.count() > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(remaining.count());
}

/// Receives the posted wake-up events; runs one piece of work for each.
class Waker final : public QObject {
public:
    Waker(QEvent::Type wakeType, std::function<void()> wake)
        : m_wakeType(wakeType)
        , m_wake(std::move(wake))
    {
    }

    /// Posts one wake-up unless one is already on its way.
    void postWake()
    {
        if (m_isWakePosted)
            return;
        m_isWakePosted = true;
        QCoreApplication::postEvent(this, new QEvent(m_wakeType));
    }

    bool event(QEvent* event) override
    {
        if (event->type() != m_wakeType)
            return QObject::event(event);
        m_isWakePosted = false;
        m_wake();
        return true;
    }

private:
    QEvent::Type m_wakeType;
    std::function<void()> m_wake;
    bool m_isWakePosted = false;
};

QEvent::Type wakeEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

} // namespace

class QtExecutor::EventLoopHost final : public Executor::Host {
public:
    EventLoopHost()
        : m_waker(wakeEventType(), [this] { wake(); })
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_waker, [this] { wake(); });
    }

    void attach(QtExecutor& executor) { m_executor = &executor; }

    [[nodiscard]] ContinuousClock::time_point now() const override
    {
        return ContinuousClock::now();
    }
    [[nodiscard]] std::chrono::system_clock::time_point wallNow() const override
    {
        return std::chrono::system_clock::now();
    }

    void runElsewhere(Executor& /*executor*/, Work work, Work done) override
    {
        m_worker.run(std::move(work), std::move(done));
    }

    void wakeAt(ContinuousClock::time_point deadline) override
    {
        const int milliseconds = millisecondsUntil(deadline, now());
        if (milliseconds <= 0) {
            m_timer.stop();
            m_waker.postWake();
            return;
        }
        m_timer.start(milliseconds);
    }

private:
    // A wake-up that finds nothing due is harmless: the queue asks for the next one itself.
    void wake()
    {
        if (m_executor)
            m_executor->runNextDue();
    }

    /// On the worker thread: has the main thread post `done`. A delivery still on its way when
    /// the waker goes is dropped with it.
    void deliver(Work done)
    {
        QMetaObject::invokeMethod(
            &m_waker,
            [this, done = std::move(done)]() mutable {
                if (m_executor)
                    m_executor->post(std::move(done));
            },
            Qt::QueuedConnection);
    }

    QtExecutor* m_executor = nullptr;
    Waker m_waker;
    QTimer m_timer;
    // Last: it stops, finishing the piece it runs, before the waker it delivers to goes.
    WorkerThread m_worker{[this](Work done) { deliver(std::move(done)); }};
};

QtExecutor::QtExecutor()
    : Executor(std::make_unique<EventLoopHost>())
{
    eventLoopHost().attach(*this);
}

QtExecutor::~QtExecutor() = default;

QtExecutor::EventLoopHost& QtExecutor::eventLoopHost() const noexcept
{
    return static_cast<EventLoopHost&>(host());
}

} // namespace quorvane

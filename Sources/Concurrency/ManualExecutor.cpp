#include "Concurrency/ManualExecutor.h"

#include "Concurrency/Saturating.h"
#include "Concurrency/WorkerThread.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace quorvane {

namespace {

ManualExecutor::UnexpectedErrorHandler s_unexpectedErrorHandler = nullptr;

} // namespace

/// The virtual clocks, the wake-up the queue asked for last, the errors kept for the test, and
/// the worker thread when there is one, with the `done`s it has delivered and not yet posted.
class ManualExecutor::VirtualHost final : public Executor::Host {
public:
    VirtualHost(Elsewhere elsewhere, std::chrono::system_clock::time_point wallStart)
        : m_wallStart(wallStart)
    {
        if (elsewhere == Elsewhere::onWorkerThread)
            m_worker.emplace([this](Work done) { deliver(std::move(done)); });
    }

    ~VirtualHost() override
    {
        for (const std::string& text : escapedErrors) {
            if (s_unexpectedErrorHandler) {
                s_unexpectedErrorHandler(text);
                continue;
            }
            const std::string line = "A task ended with an unexpected error: " + text + "\n";
            std::fputs(line.c_str(), stderr);
            std::abort();
        }
    }

    [[nodiscard]] ContinuousClock::time_point now() const override { return time; }
    [[nodiscard]] std::chrono::system_clock::time_point wallNow() const override
    {
        return m_wallStart
            + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                time.time_since_epoch());
    }
    void wakeAt(ContinuousClock::time_point deadline) override { wakeup = deadline; }
    void reportEscapedError(std::string_view text) override { escapedErrors.emplace_back(text); }

    void runElsewhere(Executor& executor, Work work, Work done) override
    {
        if (!m_worker) {
            Host::runElsewhere(executor, std::move(work), std::move(done));
            return;
        }
        {
            const std::scoped_lock lock(m_mutex);
            ++m_unposted;
        }
        m_worker->run(std::move(work), std::move(done));
    }

    /// The `done`s delivered since the last call, in order.
    [[nodiscard]] std::vector<Work> takeDelivered()
    {
        const std::scoped_lock lock(m_mutex);
        m_unposted -= m_delivered.size();
        return std::exchange(m_delivered, {});
    }

    /// Waits until a piece of work given to the worker delivers its `done`; false at once when
    /// every one has been taken.
    [[nodiscard]] bool waitForDelivery()
    {
        std::unique_lock lock(m_mutex);
        if (m_unposted == 0)
            return false;
        m_delivery.wait(lock, [this] { return !m_delivered.empty(); });
        return true;
    }

    void shiftWallClock(std::chrono::system_clock::duration offset) { m_wallStart += offset; }

    ContinuousClock::time_point time;
    std::optional<ContinuousClock::time_point> wakeup;
    std::vector<std::string> escapedErrors;
    bool isRunning = false;

private:
    void deliver(Work done)
    {
        {
            const std::scoped_lock lock(m_mutex);
            m_delivered.push_back(std::move(done));
        }
        m_delivery.notify_one();
    }

    std::chrono::system_clock::time_point m_wallStart;
    std::mutex m_mutex;
    std::condition_variable m_delivery;
    std::vector<Work> m_delivered;
    /// Pieces given to the worker whose `done` has not been taken yet.
    std::size_t m_unposted = 0;
    // Last: stops before what it delivers to goes.
    std::optional<WorkerThread> m_worker;
};

ManualExecutor::ManualExecutor(std::chrono::system_clock::time_point wallStart)
    : ManualExecutor(Elsewhere::onExecutor, wallStart)
{
}

ManualExecutor::ManualExecutor(Elsewhere elsewhere, std::chrono::system_clock::time_point wallStart)
    : Executor(std::make_unique<VirtualHost>(elsewhere, wallStart))
{
}

ManualExecutor::~ManualExecutor() = default;

void ManualExecutor::advance(ContinuousClock::duration duration)
{
    assert(duration.count() >= 0 && "time does not go back");
    const ContinuousClock::time_point target = saturatingAdd(now(), duration);
    runDueBy(target);
    virtualHost().time = target;
}

void ManualExecutor::runUntilIdle() { runDueBy(now()); }

void ManualExecutor::shiftWallClock(std::chrono::system_clock::duration offset)
{
    virtualHost().shiftWallClock(offset);
}

std::vector<std::string> ManualExecutor::takeEscapedErrors()
{
    return std::exchange(virtualHost().escapedErrors, {});
}

void ManualExecutor::setUnexpectedErrorHandler(UnexpectedErrorHandler handler) noexcept
{
    s_unexpectedErrorHandler = handler;
}

ManualExecutor::VirtualHost& ManualExecutor::virtualHost() const noexcept
{
    return static_cast<VirtualHost&>(host());
}

// Driven by the wake-ups the queue asks for, as an event loop would be; when nothing is due, it
// waits for the worker thread's next delivery while one is to come.
void ManualExecutor::runDueBy(ContinuousClock::time_point limit)
{
    VirtualHost& clocks = virtualHost();
    assert(!clocks.isRunning && "advance() or runUntilIdle() called from work the executor runs");
    for (;;) {
        for (Work& done : clocks.takeDelivered())
            post(std::move(done));
        if (!clocks.wakeup || *clocks.wakeup > limit) {
            if (clocks.waitForDelivery())
                continue;
            return;
        }
        clocks.time = std::max(clocks.time, *std::exchange(clocks.wakeup, std::nullopt));
        clocks.isRunning = true;
        try {
            runNextDue();
        } catch (...) {
            clocks.isRunning = false;
            throw;
        }
        clocks.isRunning = false;
    }
}

} // namespace quorvane

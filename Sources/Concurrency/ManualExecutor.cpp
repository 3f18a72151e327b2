#include "Concurrency/ManualExecutor.h"

#include "Concurrency/Saturating.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

namespace quorvane {

namespace {

ManualExecutor::UnexpectedErrorHandler s_unexpectedErrorHandler = nullptr;

} // namespace

/// The virtual clocks, the wake-up the queue asked for last, and the errors kept for the test.
class ManualExecutor::VirtualHost final : public Executor::Host {
public:
    explicit VirtualHost(std::chrono::system_clock::time_point wallStart)
        : m_wallStart(wallStart)
    {
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
    void reportEscapedError(std::string_view text) override
    {
        escapedErrors.emplace_back(text);
    }

    void shiftWallClock(std::chrono::system_clock::duration offset) { m_wallStart += offset; }

    ContinuousClock::time_point time;
    std::optional<ContinuousClock::time_point> wakeup;
    std::vector<std::string> escapedErrors;
    bool isRunning = false;

private:
    std::chrono::system_clock::time_point m_wallStart;
};

ManualExecutor::ManualExecutor(std::chrono::system_clock::time_point wallStart)
    : Executor(std::make_unique<VirtualHost>(wallStart))
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

// Driven by the wake-ups the queue asks for, as an event loop would be.
void ManualExecutor::runDueBy(ContinuousClock::time_point limit)
{
    VirtualHost& clocks = virtualHost();
    assert(!clocks.isRunning && "advance() or runUntilIdle() called from work the executor runs");
    while (clocks.wakeup && *clocks.wakeup <= limit) {
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

// Hand-written backends for the drivers' tests, which record every call with its virtual time,
// and a named coroutine that records how an apply ended.
#pragma once

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"
#include "QuorvaneCore/BrightnessDriver.h"
#include "QuorvaneCore/ControlDriver.h"

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

/// What a fake backend throws when told to fail.
class FakeBackendError final : public Error {
public:
    using Error::Error;
};

/// One call a fake backend received: "read", or "write" and the value's label ("write 70%").
struct BackendCall {
    ContinuousClock::time_point time;
    std::string what;
    bool operator==(const BackendCall&) const = default;
};

/// Holds one value, whatever the key: a read returns it, a write replaces it. Each call takes
/// `latency` (none by default) and, once told to, fails.
class FakeControlBackend final : public ControlBackend {
public:
    FakeControlBackend(const Executor& executor, SettingValue value)
        : m_executor(executor)
        , m_value(std::move(value))
    {
    }

    Task<SettingValue> read(ControlKey) override
    {
        co_await answer("read");
        co_return m_value;
    }

    Task<void> write(SettingValue value, ControlKey) override
    {
        co_await answer("write " + value.label());
        m_value = value;
        m_writes.push_back(std::move(value));
    }

    [[nodiscard]] const std::vector<BackendCall>& calls() const { return m_calls; }
    /// Every value written, exactly.
    [[nodiscard]] const std::vector<SettingValue>& writes() const { return m_writes; }

    void setLatency(ContinuousClock::duration latency) { m_latency = latency; }
    /// Every later call throws FakeBackendError with `message`.
    void fail(std::string message) { m_failure = std::move(message); }

private:
    Task<void> answer(std::string what)
    {
        m_calls.push_back({.time = m_executor.now(), .what = std::move(what)});
        if (m_latency > ContinuousClock::duration::zero())
            co_await sleep(m_latency);
        if (m_failure)
            throw FakeBackendError(*m_failure);
    }

    const Executor& m_executor;
    SettingValue m_value;
    std::vector<BackendCall> m_calls;
    std::vector<SettingValue> m_writes;
    ContinuousClock::duration m_latency{};
    std::optional<std::string> m_failure;
};

/// The brightness counterpart of FakeControlBackend, without latency or failures.
class FakeBrightnessBackend final : public BrightnessBackend {
public:
    FakeBrightnessBackend(const Executor& executor, double value)
        : m_executor(executor)
        , m_value(value)
    {
    }

    Task<double> read() override
    {
        m_calls.push_back({.time = m_executor.now(), .what = "read"});
        co_return m_value;
    }

    Task<void> write(double value) override
    {
        m_calls.push_back(
            {.time = m_executor.now(), .what = "write " + SettingValue::percent(value).label()});
        m_value = value;
        m_writes.push_back(value);
        co_return;
    }

    [[nodiscard]] const std::vector<BackendCall>& calls() const { return m_calls; }
    [[nodiscard]] const std::vector<double>& writes() const { return m_writes; }

private:
    const Executor& m_executor;
    double m_value;
    std::vector<BackendCall> m_calls;
    std::vector<double> m_writes;
};

/// How an apply ended: its report, or a failure ("cancelled" or the error's text), and when.
template <typename Report> struct ApplyOutcome {
    std::optional<Report> report;
    std::optional<std::string> failure;
    std::optional<ContinuousClock::time_point> endedAt;
    /// The spawned task that records this outcome.
    std::optional<TaskHandle> task;
};

template <typename Report> Task<void> record(Task<Report> apply, ApplyOutcome<Report>& outcome)
{
    try {
        outcome.report = co_await std::move(apply);
    } catch (const CancellationError&) {
        outcome.failure = "cancelled";
    } catch (const Error& error) {
        outcome.failure = error.what();
    }
    outcome.endedAt = Executor::current()->now();
}

/// Starts `apply` and records its outcome at a stable address.
template <typename Report>
ApplyOutcome<Report>& startRecording(Task<Report> apply, std::deque<ApplyOutcome<Report>>& outcomes)
{
    ApplyOutcome<Report>& outcome = outcomes.emplace_back();
    outcome.task = spawn(record(std::move(apply), outcome));
    return outcome;
}

} // namespace quorvane

// Control and display-preference backends for the model's tests whose every call takes time on
// the virtual clock, so that the model's checks after each wait are exercised.
#pragma once

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"
#include "Foundation/Error.h"
#include "QuorvaneCore/ControlDriver.h"
#include "QuorvaneCore/SystemDisplayBackend.h"

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

namespace slow {
/// A transfer runs to its end even when the task awaiting it is cancelled.
inline Task<void> transfer(ContinuousClock::duration latency)
{
    co_await spawn([](ContinuousClock::duration wait) -> Task<void> { co_await sleep(wait); }(latency));
}
} // namespace slow

/// Values per control. A read or write takes `latency`; a write lands at its end. A key listed in
/// `readFailures` or `writeFailures` throws that text at the end of the call, one in
/// `givenUpReads` a CancellationError the caller never asked for; a read of a key without a
/// value throws "No value".
class SlowControls final : public ControlBackend {
public:
    std::chrono::milliseconds latency{10};
    std::map<ControlKey, SettingValue> values;
    std::map<ControlKey, std::string> readFailures;
    std::map<ControlKey, std::string> writeFailures;
    std::set<ControlKey> givenUpReads;
    /// Every completed write, in order.
    std::vector<std::pair<ControlKey, SettingValue>> writes;
    int reads = 0;

    Task<SettingValue> read(ControlKey key) override
    {
        ++reads;
        co_await slow::transfer(latency);
        if (const auto failure = readFailures.find(key); failure != readFailures.end())
            throw Error(failure->second);
        if (givenUpReads.contains(key))
            throw CancellationError();
        const auto found = values.find(key);
        if (found == values.end())
            throw Error("No value");
        co_return found->second;
    }

    Task<void> write(SettingValue value, ControlKey key) override
    {
        co_await slow::transfer(latency);
        if (const auto failure = writeFailures.find(key); failure != writeFailures.end())
            throw Error(failure->second);
        values.insert_or_assign(key, value);
        writes.emplace_back(key, std::move(value));
    }
};

/// The macOS display preferences with `latency` per call; a write to a control `state` lacks, or
/// one listed in `writeFailures`, throws.
class SlowSystemDisplay final : public SystemDisplayBackend {
public:
    std::chrono::milliseconds latency{10};
    SystemDisplaySnapshot state;
    std::map<SystemDisplayControl, std::string> writeFailures;
    std::vector<std::pair<SystemDisplayControl, bool>> writes;

    Task<SystemDisplaySnapshot> snapshot() override
    {
        co_await slow::transfer(latency);
        co_return state;
    }

    Task<void> write(bool value, SystemDisplayControl control) override
    {
        co_await slow::transfer(latency);
        if (const auto failure = writeFailures.find(control); failure != writeFailures.end())
            throw Error(failure->second);
        const auto present = state.values.find(control);
        if (present == state.values.end())
            throw Error("Control unavailable");
        present->second = value;
        writes.emplace_back(control, value);
    }
};

} // namespace quorvane

// DDCTransport.h: reading and setting one VCP feature of an external monitor over DDC/CI, with
// the pacing, reply waits, identity checks and retries that monitors need.
#pragma once

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/Executor.h"
#include "Concurrency/Task.h"
#include "QuorvaneCore/DDCCodec.h"
#include "QuorvaneCore/SettingValue.h"
#include "QuorvaneMac/DDCServiceDiscovery.h"
#include "QuorvaneMac/DisplayInventory.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

/// A feature's value as a fraction of the monitor's own maximum, and that maximum.
struct DDCFeatureValue {
    double fraction = 0;
    std::uint16_t maximum = 0;
    bool operator==(const DDCFeatureValue&) const = default;
};

/// The one way to a monitor's DDC/CI channel. Holds a first-come, first-served gate across each
/// whole operation, so transfers of two operations never interleave, and keeps at least 50 ms
/// between any two transfers on any monitor. Its waits are sleeps on the executor: they suspend
/// and end at once with CancellationError when the calling task is cancelled.
class DDCTransport final {
public:
    /// The least time between two transfers.
    static constexpr std::chrono::milliseconds minimumGap{50};

    explicit DDCTransport(std::unique_ptr<DDCConnectionProvider> provider);

    DDCTransport(const DDCTransport&) = delete; // one gate, one pacing clock
    DDCTransport& operator=(const DDCTransport&) = delete;

    /// The feature's present value (0x10 brightness, 0x12 contrast). Up to three attempts for
    /// failed transfers and invalid replies; throws DDCError (unavailable for a built-in
    /// display, connectionChanged when the display went away or changed during the operation)
    /// or CancellationError.
    [[nodiscard]] Task<DDCFeatureValue> read(SettingKey setting, DisplayDevice display);
    /// Sets the feature to `value` (0 to 1) times the monitor's maximum, after reading it; sends
    /// nothing when the monitor already has that value. Callers refuse values outside 0...1; one
    /// that slips through is held to the nearer end. Fails as read() does.
    [[nodiscard]] Task<void> write(double value, SettingKey setting, DisplayDevice display);

    /// Forgets every open channel, so that each monitor is identified afresh.
    void forgetConnections() { m_connections.clear(); }

private:
    struct Connection {
        DDCConnectionIdentity identity;
        std::shared_ptr<DDCChannel> channel;
    };

    /// The attempt loop of both operations; a write when `target` is present.
    Task<DDCReading> perform(
        DisplayDevice display, SettingKey setting, std::optional<double> target);
    Task<DDCReading> attempt(const DisplayDevice& display, SettingKey setting,
        std::optional<double> target, const DDCConnectionIdentity& identity,
        std::chrono::milliseconds replyDelay);
    /// Get VCP Feature: request, the reply delay, reply.
    Task<DDCReading> getFeature(const DisplayDevice& display, SettingKey setting,
        DDCChannel& channel, const DDCConnectionIdentity& identity,
        std::chrono::milliseconds replyDelay);
    std::shared_ptr<DDCChannel> channelFor(
        const DisplayDevice& display, const DDCConnectionIdentity& identity);
    /// Throws when the task was cancelled or the display's connection is no longer `identity`.
    void check(const DisplayDevice& display, const DDCConnectionIdentity& identity);
    /// Waits until the gap since the last transfer has passed.
    Task<void> pace();

    class TransferMark;

    std::unique_ptr<DDCConnectionProvider> m_provider;
    AsyncMutex m_gate;
    std::map<std::string, Connection> m_connections;
    std::optional<ContinuousClock::time_point> m_lastTransfer;
};

} // namespace quorvane

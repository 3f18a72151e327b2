// SimulatedDDCMonitors.h: external monitors on I2C that speak DDC/CI, the registry entries that
// lead to them, and the private functions that reach them (IOAVService I2C, CoreDisplay's
// display information). The monitors parse requests with their own parser and answer on the
// executor's clock, with fault knobs for the ways real monitors misbehave.
#pragma once

#include "Concurrency/Executor.h"
#include "MacPlatform/IORegistry.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class SimulatedMac;
struct SimulatedWorld;

/// One I2C transfer as the bus saw it.
struct DDCWirePacket {
    enum class Direction { write, read };

    ContinuousClock::time_point time{};
    Direction direction = Direction::write;
    std::uint32_t chipAddress = 0;
    /// The sub-address of a write, the offset of a read.
    std::uint32_t subAddress = 0;
    /// What was written, or what the read handed back.
    std::vector<std::uint8_t> bytes{};
    std::int32_t status = 0;
    bool operator==(const DDCWirePacket&) const = default;
};

/// How a Get VCP Feature reply can come back damaged.
enum class DDCReplyDefect {
    badChecksum,
    errorResult, ///< result code 1, checksum consistent
    wrongCode, ///< answers another VCP code, checksum consistent
    shortReply, ///< only 8 bytes arrive
};

struct DDCMonitorFaults {
    /// The status a refused transfer returns.
    std::int32_t nackStatus = static_cast<std::int32_t>(0xE00002ED); // not responding
    /// The next this many writes, or reads, are refused.
    int nackedWrites = 0;
    int nackedReads = 0;
    /// The next this many Set VCP Feature requests are refused; other writes go through.
    int nackedSetRequests = 0;
    /// Time from a Get request until its reply is ready. A read before then gets the DDC/CI
    /// null message, as from a monitor still busy.
    std::chrono::nanoseconds replyDelay = std::chrono::milliseconds(40);
    /// The next replies carry these defects, one each, in order.
    std::deque<DDCReplyDefect> replyDefects;
    /// Off: the monitor acknowledges transfers and ignores every request, as with DDC/CI
    /// switched off in its menu.
    bool isDDCEnabled = true;
    /// IOAVServiceCreateWithService gives nothing for this monitor's service.
    bool canCreateService = true;
    /// Refuses a transfer that comes sooner than 50 ms after the previous one on this monitor.
    bool requiresGap = false;
    /// Runs once inside the next read, after the monitor has answered: the world changing while
    /// the bus is busy (a display unplugged during a transfer).
    std::function<void(SimulatedWorld&)> duringNextRead;
};

/// One VCP feature's value.
struct VCPFeature {
    std::uint16_t current = 0;
    std::uint16_t maximum = 100;
    std::uint8_t typeCode = 0; ///< 0 set parameter, 1 momentary
};

struct SimulatedDDCMonitor {
    /// The display the monitor is, by UUID in lower case. It answers only while that display is
    /// online and awake.
    std::string displayUUID;
    /// The registry identifier of its "DCPAVServiceProxy" entry.
    std::uint64_t serviceID = 0;
    std::uint32_t chipAddress = 0x37;
    /// Codes it does not list are answered with an error result.
    std::map<std::uint8_t, VCPFeature> features;
    DDCMonitorFaults faults;
    /// The latest transfers addressed to this monitor's service (see logCall()), in order.
    std::vector<DDCWirePacket> wire;

    struct PendingReply {
        std::vector<std::uint8_t> bytes;
        ContinuousClock::time_point readyAt;
    };
    std::optional<PendingReply> pendingReply;
    std::optional<ContinuousClock::time_point> lastTransfer;
};

/// Where a monitor is attached, for attach().
struct DDCMonitorAttachment {
    std::string displayUUID;
    /// The display port's node name; the framebuffer lies below "<port>@<unit>".
    std::string portName = "dispext0";
    /// The "EPICProviderClass" of the service's parent. Behind "AppleDCPMCDP29XX" the monitor
    /// answers at chip address 0xB7, otherwise at 0x37.
    std::string providerClass = "AppleDCPMCDP";
    std::map<std::uint8_t, VCPFeature> features = {
        {0x10, VCPFeature{.current = 50, .maximum = 100}},
        {0x12, VCPFeature{.current = 70, .maximum = 100}},
    };
};

/// The DDC/CI slice of a simulated Mac. Tests change the monitors, the display information
/// and the registry entries between calls.
class SimulatedDDCMonitors final {
public:
    explicit SimulatedDDCMonitors(SimulatedMac& mac);

    // Monitors are handed out by reference.
    SimulatedDDCMonitors(const SimulatedDDCMonitors&) = delete;
    SimulatedDDCMonitors& operator=(const SimulatedDDCMonitors&) = delete;

    /// Adds a monitor behind the display: its framebuffer, the service's parent and the
    /// "DCPAVServiceProxy" service (Location "External") in the registry, and display
    /// information naming the framebuffer.
    SimulatedDDCMonitor& attach(const DDCMonitorAttachment& attachment);
    /// Gives a display (the built-in one, say) a framebuffer and display information but no
    /// monitor; returns the framebuffer's path.
    std::string addFramebuffer(const std::string& displayUUID, const std::string& portName);
    /// Adds an AV service for a port, below a parent with that provider class; returns the
    /// service's registry identifier. attach() adds one with Location "External".
    std::uint64_t addAVService(
        const std::string& portName, const std::string& providerClass, const std::string& location);

    /// The monitor of that display, or null.
    [[nodiscard]] SimulatedDDCMonitor* monitor(std::string_view displayUUID);
    /// The latest transfers on any monitor (see logCall()), in order.
    [[nodiscard]] const std::vector<DDCWirePacket>& bus() const { return m_bus; }
    /// Times IOAVServiceCreateWithService was called.
    [[nodiscard]] int servicesCreated() const { return m_servicesCreated; }

    /// What CoreDisplay tells of each display, by UUID in lower case; absent answers nothing.
    std::map<std::string, std::optional<PlatformDictionary>> displayInformation;

    // The private functions, as installDDCMonitors() hands them to the loader.
    std::optional<AVServiceObject> createService(const void* allocator, RegistryObject service);
    std::int32_t readI2C(AVServiceObject service, std::uint32_t chipAddress, std::uint32_t offset,
        std::uint8_t* buffer, std::uint32_t length);
    std::int32_t writeI2C(AVServiceObject service, std::uint32_t chipAddress,
        std::uint32_t dataAddress, std::uint8_t* buffer, std::uint32_t length);
    std::optional<PlatformDictionary> infoDictionary(DisplayNumber display);

private:
    /// The monitor behind an I2C service that can answer now; null when none can.
    SimulatedDDCMonitor* reachableMonitor(AVServiceObject service);
    /// Why a transfer to this monitor is refused now; 0 when it is not.
    std::int32_t refusal(SimulatedDDCMonitor& monitor, std::uint32_t chipAddress, int& nackedCount);
    void record(SimulatedDDCMonitor* monitor, DDCWirePacket packet);
    void handleRequest(SimulatedDDCMonitor& monitor, std::uint32_t dataAddress,
        const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> reply(SimulatedDDCMonitor& monitor);

    SimulatedMac& m_mac;
    std::vector<std::unique_ptr<SimulatedDDCMonitor>> m_monitors;
    std::vector<DDCWirePacket> m_bus;
    int m_servicesCreated = 0;
    std::uint32_t m_nextUnit = 0x2C000000;
};

/// Installs the I2C functions into "/System/Library/Frameworks/IOKit.framework/IOKit" and the
/// display-information function into
/// "/System/Library/Frameworks/CoreDisplay.framework/CoreDisplay", over a new DDC/CI slice without
/// monitors. The loader's functions keep the slice alive.
std::shared_ptr<SimulatedDDCMonitors> installDDCMonitors(SimulatedMac& mac);

/// installDDCMonitors() for the default world (addDefaultDisplays): the built-in display gets a
/// framebuffer and an embedded AV service, the external display 2 a DDC/CI monitor with
/// brightness 50 and contrast 70 of 100.
std::shared_ptr<SimulatedDDCMonitors> installDDCMonitorDefaults(SimulatedMac& mac);

} // namespace quorvane

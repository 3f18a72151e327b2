#include "SimulatedMac/SimulatedDDCMonitors.h"

#include "Foundation/Text.h"
#include "SimulatedMac/CallLog.h"
#include "SimulatedMac/SimulatedMac.h"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <span>
#include <utility>

namespace quorvane {
namespace {

// DDC/CI bus facts, kept apart from the system's codec on purpose: the monitor must catch the
// codec's mistakes, not share them.
constexpr std::uint8_t monitorAddress = 0x6E; // 0x37 on the wire, shifted left
constexpr std::uint8_t hostSource = 0x51;
constexpr std::uint8_t hostDestination = 0x50;
constexpr std::uint8_t getFeature = 0x01;
constexpr std::uint8_t getFeatureReply = 0x02;
constexpr std::uint8_t setFeature = 0x03;
constexpr std::uint8_t unsupportedCode = 0x01;
constexpr auto minimumGap = std::chrono::milliseconds(50);

const std::string socPath = "IOService:/ARMPlatform/arm-io@10F00000/SoCIO";

std::string hex(std::uint32_t value)
{
    char text[16];
    const auto end = std::to_chars(std::begin(text), std::end(text), value, 16).ptr;
    std::string digits(text, end);
    std::ranges::transform(digits, digits.begin(),
        [](char digit) { return digit >= 'a' ? char(digit - 'a' + 'A') : digit; });
    return digits;
}

std::uint8_t xorOf(std::span<const std::uint8_t> bytes, std::uint8_t start)
{
    return std::accumulate(bytes.begin(), bytes.end(), start,
        [](std::uint8_t sum, std::uint8_t byte) { return static_cast<std::uint8_t>(sum ^ byte); });
}

/// The DDC/CI null message: what a monitor says when it has nothing to answer yet.
std::vector<std::uint8_t> nullMessage()
{
    return {
        monitorAddress, 0x80, static_cast<std::uint8_t>(monitorAddress ^ 0x80 ^ hostDestination)};
}

std::vector<std::uint8_t> featureReply(
    std::uint8_t code, std::uint8_t result, const VCPFeature& feature)
{
    std::vector<std::uint8_t> bytes{monitorAddress, 0x88, getFeatureReply, result, code,
        feature.typeCode, static_cast<std::uint8_t>(feature.maximum >> 8),
        static_cast<std::uint8_t>(feature.maximum & 0xFF),
        static_cast<std::uint8_t>(feature.current >> 8),
        static_cast<std::uint8_t>(feature.current & 0xFF)};
    bytes.push_back(xorOf(bytes, hostDestination));
    return bytes;
}

void damage(std::vector<std::uint8_t>& reply, DDCReplyDefect defect)
{
    const auto reseal = [&reply] {
        reply.back() = xorOf(std::span(reply).first(reply.size() - 1), hostDestination);
    };
    switch (defect) {
    case DDCReplyDefect::badChecksum:
        reply.back() ^= 0x5A;
        return;
    case DDCReplyDefect::errorResult:
        reply[3] = unsupportedCode;
        reseal();
        return;
    case DDCReplyDefect::wrongCode:
        reply[4] ^= 0x01;
        reseal();
        return;
    case DDCReplyDefect::shortReply:
        reply.resize(8);
        return;
    }
}

} // namespace

SimulatedDDCMonitors::SimulatedDDCMonitors(SimulatedMac& mac)
    : m_mac(mac)
{
}

std::string SimulatedDDCMonitors::addFramebuffer(
    const std::string& displayUUID, const std::string& portName)
{
    const std::string port = socPath + "/" + portName + "@" + hex(m_nextUnit);
    m_nextUnit += 0x200000;
    const std::string framebuffer = port + "/DisplayFramebuffer";
    m_mac.registry.add({.path = port, .classes = {"DisplayPort", "IOService"}});
    m_mac.registry.add({.path = framebuffer, .classes = {"DisplayFramebuffer", "IOService"}});
    displayInformation[asciiLowercased(displayUUID)] = PlatformDictionary{
        {"IODisplayLocation", PlatformValue::text(framebuffer)},
        {"DisplayVendorID", PlatformValue::integer(0x610)},
    };
    return framebuffer;
}

std::uint64_t SimulatedDDCMonitors::addAVService(
    const std::string& portName, const std::string& providerClass, const std::string& location)
{
    const std::string endpoint
        = socPath + "/dcp-" + portName + "@" + hex(m_nextUnit) + "/DCPEndpoint";
    m_nextUnit += 0x200000;
    const std::string epic = endpoint + "/" + portName + ":dcpav-service-epic:0";
    m_mac.registry.add({
        .path = epic,
        .classes = {"DCPAVServiceEPIC", "IOService"},
        .properties = {{"EPICProviderClass", PlatformValue::text(providerClass)}},
    });
    return m_mac.registry
        .add({
            .path = epic + "/DCPAVServiceProxy",
            .classes = {"DCPAVServiceProxy", "IOAVService", "IOService"},
            .properties = {{"Location", PlatformValue::text(location)}},
        })
        .registryID;
}

SimulatedDDCMonitor& SimulatedDDCMonitors::attach(const DDCMonitorAttachment& attachment)
{
    addFramebuffer(attachment.displayUUID, attachment.portName);
    auto monitor = std::make_unique<SimulatedDDCMonitor>();
    monitor->displayUUID = asciiLowercased(attachment.displayUUID);
    monitor->serviceID = addAVService(attachment.portName, attachment.providerClass, "External");
    monitor->chipAddress = attachment.providerClass == "AppleDCPMCDP29XX" ? 0xB7 : 0x37;
    monitor->features = attachment.features;
    m_monitors.push_back(std::move(monitor));
    return *m_monitors.back();
}

SimulatedDDCMonitor* SimulatedDDCMonitors::monitor(std::string_view displayUUID)
{
    const std::string uuid = asciiLowercased(displayUUID);
    const auto found = std::ranges::find(m_monitors, uuid, &SimulatedDDCMonitor::displayUUID);
    return found == m_monitors.end() ? nullptr : found->get();
}

std::optional<AVServiceObject> SimulatedDDCMonitors::createService(
    const void*, RegistryObject service)
{
    ++m_servicesCreated;
    const auto entryID = m_mac.registry.entryOf(service);
    if (!entryID)
        return std::nullopt;
    const SimulatedRegistryEntry* entry = m_mac.registry.entry(*entryID);
    if (!entry || std::ranges::find(entry->classes, "IOAVService") == entry->classes.end())
        return std::nullopt;
    const auto found = std::ranges::find(m_monitors, *entryID, &SimulatedDDCMonitor::serviceID);
    if (found != m_monitors.end() && !(*found)->faults.canCreateService)
        return std::nullopt;
    return m_mac.registry.retainAVService(*entryID);
}

std::int32_t SimulatedDDCMonitors::writeI2C(AVServiceObject service, std::uint32_t chipAddress,
    std::uint32_t dataAddress, std::uint8_t* buffer, std::uint32_t length)
{
    DDCWirePacket packet{
        .time = m_mac.world.executor.now(),
        .direction = DDCWirePacket::Direction::write,
        .chipAddress = chipAddress,
        .subAddress = dataAddress,
        .bytes = std::vector<std::uint8_t>(buffer, buffer + length),
    };
    SimulatedDDCMonitor* monitor = reachableMonitor(service);
    if (monitor) {
        const bool isSetRequest = length > 1 && buffer[1] == setFeature;
        DDCMonitorFaults& faults = monitor->faults;
        packet.status = refusal(*monitor, chipAddress,
            isSetRequest && faults.nackedSetRequests > 0 ? faults.nackedSetRequests
                                                         : faults.nackedWrites);
    } else {
        packet.status = DDCMonitorFaults().nackStatus;
    }
    record(monitor, packet);
    if (monitor && packet.status == 0)
        handleRequest(*monitor, dataAddress, packet.bytes);
    return packet.status;
}

std::int32_t SimulatedDDCMonitors::readI2C(AVServiceObject service, std::uint32_t chipAddress,
    std::uint32_t offset, std::uint8_t* buffer, std::uint32_t length)
{
    DDCWirePacket packet{
        .time = m_mac.world.executor.now(),
        .direction = DDCWirePacket::Direction::read,
        .chipAddress = chipAddress,
        .subAddress = offset,
    };
    SimulatedDDCMonitor* monitor = reachableMonitor(service);
    packet.status = monitor ? refusal(*monitor, chipAddress, monitor->faults.nackedReads)
                            : DDCMonitorFaults().nackStatus;
    if (packet.status == 0) {
        const std::vector<std::uint8_t> answer = reply(*monitor);
        const std::size_t count = std::min<std::size_t>(answer.size(), length);
        std::copy_n(answer.begin(), count, buffer);
        packet.bytes.assign(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(count));
    }
    const std::int32_t status = packet.status;
    record(monitor, std::move(packet));
    if (monitor && monitor->faults.duringNextRead)
        std::exchange(monitor->faults.duringNextRead, nullptr)(m_mac.world);
    return status;
}

std::optional<PlatformDictionary> SimulatedDDCMonitors::infoDictionary(DisplayNumber number)
{
    const SimulatedDisplay* display = m_mac.world.display(number);
    if (!display || !display->uuid)
        return std::nullopt;
    const auto found = displayInformation.find(asciiLowercased(*display->uuid));
    return found == displayInformation.end() ? std::nullopt : found->second;
}

SimulatedDDCMonitor* SimulatedDDCMonitors::reachableMonitor(AVServiceObject service)
{
    const std::uint64_t entryID = m_mac.registry.serviceEntry(service);
    const auto found = std::ranges::find(m_monitors, entryID, &SimulatedDDCMonitor::serviceID);
    if (found == m_monitors.end() || !m_mac.registry.entry(entryID))
        return nullptr;
    const SimulatedDisplay* display = m_mac.world.displayWithUUID((*found)->displayUUID);
    if (!display || !display->isOnline || display->isAsleep)
        return nullptr;
    return found->get();
}

std::int32_t SimulatedDDCMonitors::refusal(
    SimulatedDDCMonitor& monitor, std::uint32_t chipAddress, int& nackedCount)
{
    const auto now = m_mac.world.executor.now();
    const bool isTooSoon = monitor.faults.requiresGap && monitor.lastTransfer
        && now - *monitor.lastTransfer < minimumGap;
    monitor.lastTransfer = now;
    if (chipAddress != monitor.chipAddress || isTooSoon)
        return monitor.faults.nackStatus;
    if (nackedCount > 0) {
        --nackedCount;
        return monitor.faults.nackStatus;
    }
    return 0;
}

void SimulatedDDCMonitors::record(SimulatedDDCMonitor* monitor, DDCWirePacket packet)
{
    logCall(m_bus, packet);
    if (monitor)
        logCall(monitor->wire, std::move(packet));
}

void SimulatedDDCMonitors::handleRequest(
    SimulatedDDCMonitor& monitor, std::uint32_t dataAddress, const std::vector<std::uint8_t>& bytes)
{
    if (!monitor.faults.isDDCEnabled || dataAddress != hostSource || bytes.size() < 3)
        return;
    // Length byte: 0x80 plus the count of opcode and data bytes; then those; then the checksum
    // over the destination, the source and every byte before it.
    const std::uint8_t lengthByte = bytes[0];
    if ((lengthByte & 0x80) == 0 || bytes.size() != std::size_t(lengthByte & 0x7F) + 2)
        return;
    const std::uint8_t expected
        = xorOf(std::span(bytes).first(bytes.size() - 1), monitorAddress ^ hostSource);
    if (bytes.back() != expected)
        return;
    const std::uint8_t opcode = bytes[1];
    monitor.pendingReply.reset();
    if (opcode == getFeature && bytes.size() == 4) {
        const std::uint8_t code = bytes[2];
        const auto feature = monitor.features.find(code);
        monitor.pendingReply = SimulatedDDCMonitor::PendingReply{
            .bytes = feature == monitor.features.end()
                ? featureReply(code, unsupportedCode, VCPFeature{.maximum = 0})
                : featureReply(code, 0, feature->second),
            .readyAt = m_mac.world.executor.now() + monitor.faults.replyDelay,
        };
        return;
    }
    if (opcode == setFeature && bytes.size() == 6) {
        const auto feature = monitor.features.find(bytes[2]);
        if (feature == monitor.features.end())
            return;
        const auto value = static_cast<std::uint16_t>(bytes[3] << 8 | bytes[4]);
        feature->second.current = std::min(value, feature->second.maximum);
    }
}

std::vector<std::uint8_t> SimulatedDDCMonitors::reply(SimulatedDDCMonitor& monitor)
{
    if (!monitor.pendingReply || m_mac.world.executor.now() < monitor.pendingReply->readyAt)
        return nullMessage();
    std::vector<std::uint8_t> bytes = std::move(monitor.pendingReply->bytes);
    monitor.pendingReply.reset();
    if (!monitor.faults.replyDefects.empty()) {
        damage(bytes, monitor.faults.replyDefects.front());
        monitor.faults.replyDefects.pop_front();
    }
    return bytes;
}

std::shared_ptr<SimulatedDDCMonitors> installDDCMonitors(SimulatedMac& mac)
{
    auto monitors = std::make_shared<SimulatedDDCMonitors>(mac);
    mac.loader.image("/System/Library/Frameworks/IOKit.framework/IOKit")
        .define<AVServiceCreateWithService>("IOAVServiceCreateWithService",
            [monitors](const void* allocator, RegistryObject service) {
                return monitors->createService(allocator, service);
            })
        .define<AVServiceReadI2C>("IOAVServiceReadI2C",
            [monitors](AVServiceObject service, std::uint32_t chip, std::uint32_t offset,
                std::uint8_t* buffer, std::uint32_t length) {
                return monitors->readI2C(service, chip, offset, buffer, length);
            })
        .define<AVServiceWriteI2C>("IOAVServiceWriteI2C",
            [monitors](AVServiceObject service, std::uint32_t chip, std::uint32_t dataAddress,
                std::uint8_t* buffer, std::uint32_t length) {
                return monitors->writeI2C(service, chip, dataAddress, buffer, length);
            });
    mac.loader.image("/System/Library/Frameworks/CoreDisplay.framework/CoreDisplay")
        .define<DisplayCreateInfoDictionary>("CoreDisplay_DisplayCreateInfoDictionary",
            [monitors](DisplayNumber display) { return monitors->infoDictionary(display); });
    return monitors;
}

std::shared_ptr<SimulatedDDCMonitors> installDDCMonitorDefaults(SimulatedMac& mac)
{
    auto monitors = installDDCMonitors(mac);
    monitors->addFramebuffer("37D8832A-2D66-02CA-B9F7-8F30A301B230", "disp0");
    monitors->addAVService("disp0", "AppleDCPPanel", "Embedded");
    monitors->attach(DDCMonitorAttachment{.displayUUID = "9C4E2F61-5B3A-4D7E-8F10-2A6B7C8D9E0F"});
    return monitors;
}

} // namespace quorvane

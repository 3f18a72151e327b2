#include "QuorvaneMac/DDCServiceDiscovery.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "Foundation/Text.h"
#include "MacPlatform/DynamicLoader.h"
#include "MacPlatform/Platform.h"
#include "QuorvaneMac/DisplayInventory.h"

#include <algorithm>
#include <span>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view ioKitPath = "/System/Library/Frameworks/IOKit.framework/IOKit";
constexpr std::string_view coreDisplayPath
    = "/System/Library/Frameworks/CoreDisplay.framework/CoreDisplay";
constexpr std::string_view servicePlane = "IOService";
constexpr std::uint32_t hostSubAddress = 0x51;
constexpr std::uint32_t replyLength = 12;

/// A registry object we were handed, given back when this goes.
class HeldObject final {
public:
    HeldObject(IORegistry& registry, RegistryObject object)
        : m_registry(&registry)
        , m_object(object)
    {
    }
    HeldObject(HeldObject&& other) noexcept
        : m_registry(std::exchange(other.m_registry, nullptr))
        , m_object(other.m_object)
    {
    }
    HeldObject& operator=(HeldObject&&) = delete;
    HeldObject(const HeldObject&) = delete; // two holders would release twice
    HeldObject& operator=(const HeldObject&) = delete;
    ~HeldObject()
    {
        if (m_registry)
            m_registry->release(m_object);
    }

    [[nodiscard]] RegistryObject object() const { return m_object; }

private:
    IORegistry* m_registry;
    RegistryObject m_object;
};

class IOAVDDCChannel final : public DDCChannel {
public:
    IOAVDDCChannel(IORegistry& registry, AVServiceObject service, std::uint32_t chipAddress,
        std::function<AVServiceReadI2C> read, std::function<AVServiceWriteI2C> write)
        : m_registry(registry)
        , m_service(service)
        , m_chipAddress(chipAddress)
        , m_read(std::move(read))
        , m_write(std::move(write))
    {
    }
    IOAVDDCChannel(const IOAVDDCChannel&) = delete; // the service is released once
    IOAVDDCChannel& operator=(const IOAVDDCChannel&) = delete;
    ~IOAVDDCChannel() override { m_registry.release(m_service); }

    void send(const std::vector<std::uint8_t>& bytes) override
    {
        std::vector<std::uint8_t> buffer = bytes; // the function takes a mutable buffer
        const std::int32_t status = m_write(m_service, m_chipAddress, hostSubAddress, buffer.data(),
            static_cast<std::uint32_t>(buffer.size()));
        if (status != 0)
            throw DDCError::transfer("request", status);
    }

    std::vector<std::uint8_t> receive() override
    {
        std::vector<std::uint8_t> buffer(replyLength, 0);
        const std::int32_t status = m_read(m_service, m_chipAddress, 0, buffer.data(), replyLength);
        if (status != 0)
            throw DDCError::transfer("reply", status);
        return buffer;
    }

private:
    IORegistry& m_registry;
    AVServiceObject m_service;
    std::uint32_t m_chipAddress;
    std::function<AVServiceReadI2C> m_read;
    std::function<AVServiceWriteI2C> m_write;
};

std::vector<std::string_view> components(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        const auto end = text.find(separator);
        const std::string_view part = text.substr(0, end);
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return parts;
}

bool isDigits(std::string_view text)
{
    return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

bool beginsWith(const std::vector<std::string_view>& path, std::span<const std::string_view> prefix)
{
    return path.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

/// The display port's name ("dispext1") when `component` ("dispext1@2C000000") names one.
std::optional<std::string_view> portName(std::string_view component)
{
    const std::string_view name = component.substr(0, component.find('@'));
    std::string_view number;
    if (name.starts_with("dispext"))
        number = name.substr(7);
    else if (name.starts_with("disp"))
        number = name.substr(4);
    else
        return std::nullopt;
    if (!isDigits(number))
        return std::nullopt;
    return name;
}

bool isPortService(std::string_view component, std::string_view port)
{
    const auto pieces = components(component, ':');
    return pieces.size() == 3 && pieces[0] == port && pieces[1] == "dcpav-service-epic"
        && isDigits(pieces[2]);
}

bool matches(const std::vector<std::string_view>& framebuffer, const DDCServiceCandidate& candidate)
{
    if (candidate.location != "External")
        return false;
    const auto path = components(candidate.path, '/');
    const std::size_t n = framebuffer.size();
    if (path.size() > n && beginsWith(path, framebuffer))
        return true;
    const auto port = portName(framebuffer[n - 2]);
    if (!port || !beginsWith(path, std::span(framebuffer).first(n - 2)) || path.size() < n)
        return false;
    return std::any_of(path.begin() + static_cast<std::ptrdiff_t>(n - 2), path.end(),
        [&](std::string_view component) { return isPortService(component, *port); });
}

std::string textProperty(const std::optional<PlatformValue>& value)
{
    const std::string* text = value ? value->textValue() : nullptr;
    return text ? *text : std::string();
}

/// The candidate an enumerated service makes; absent when its path or identifier cannot be read.
std::optional<DDCServiceCandidate> candidateFor(IORegistry& registry, RegistryObject service)
{
    IORegistry::PathBuffer path{};
    std::uint64_t registryID = 0;
    if (registry.path(service, servicePlane, path) != 0
        || registry.entryID(service, &registryID) != 0)
        return std::nullopt;
    DDCServiceCandidate candidate{
        .registryID = registryID,
        .path = registryPathText(path),
        .location = textProperty(registry.property(service, "Location")),
    };
    RegistryObject parent{};
    if (registry.parent(service, servicePlane, &parent) == 0) {
        const HeldObject heldParent(registry, parent);
        candidate.providerClass = textProperty(registry.property(parent, "EPICProviderClass"));
    }
    return candidate;
}

template <typename Signature>
std::optional<std::function<Signature>> lookUp(
    DynamicLoader& loader, const std::optional<LoadedImage>& image, std::string_view name)
{
    if (!image)
        return std::nullopt;
    return loader.symbol<Signature>(*image, name);
}

} // namespace

std::string DDCError::describe(const Case& errorCase)
{
    return std::visit(
        Overloaded{
            [](const Unavailable& unavailable) { return unavailable.message; },
            [](const Transfer& transfer) {
                return "DDC " + transfer.operation + " failed (" + formatInteger(transfer.status)
                    + "). Check the monitor's DDC/CI setting and connection.";
            },
            [](const InvalidReply& invalid) {
                return "The monitor did not return a valid DDC "
                    + asciiLowercased(title(invalid.setting)) + " value.";
            },
            [](const ConnectionChanged&) {
                return std::string(
                    "The monitor connection changed. Recheck displays and try again.");
            },
            [](const ServiceOpenFailed&) {
                return std::string("The selected monitor's DDC service could not be opened.");
            },
        },
        errorCase);
}

std::string registryPathText(const IORegistry::PathBuffer& buffer)
{
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    const std::string_view bytes(buffer.data(), static_cast<std::size_t>(end - buffer.begin()));
    std::string text;
    std::size_t index = 0;
    while (index < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[index]);
        std::size_t length = 1;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            text += bytes[index++];
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        // The longest well-formed start of a sequence becomes one replacement character.
        std::size_t valid = 1;
        while (length > 1 && valid < length && index + valid < bytes.size()) {
            const auto next = static_cast<unsigned char>(bytes[index + valid]);
            const bool inRange
                = valid == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
            if (!inRange)
                break;
            ++valid;
        }
        if (length > 1 && valid == length)
            text.append(bytes.substr(index, length));
        else
            text += "\xEF\xBF\xBD";
        index += valid;
    }
    return text;
}

DDCServiceCandidate DDCServiceMatcher::select(
    std::string_view framebufferPath, const std::vector<DDCServiceCandidate>& candidates)
{
    const auto framebuffer = components(framebufferPath, '/');
    if (framebuffer.size() < 3 || framebuffer.front() != "IOService:")
        throw DDCError::unavailable("Monitor framebuffer path is unavailable.");
    const DDCServiceCandidate* match = nullptr;
    for (const DDCServiceCandidate& candidate : candidates) {
        if (!matches(framebuffer, candidate))
            continue;
        if (match)
            throw DDCError::unavailable(
                "DDC transport is missing or ambiguous; no monitor was guessed.");
        match = &candidate;
    }
    if (!match)
        throw DDCError::unavailable(
            "DDC transport is missing or ambiguous; no monitor was guessed.");
    return *match;
}

IOAVDDC::IOAVDDC(Platform& platform)
    : m_platform(platform)
{
    DynamicLoader& loader = platform.loader;
    const auto ioKit = loader.open(ioKitPath, DynamicLoader::lazyLocal);
    m_create = lookUp<AVServiceCreateWithService>(loader, ioKit, "IOAVServiceCreateWithService");
    m_read = lookUp<AVServiceReadI2C>(loader, ioKit, "IOAVServiceReadI2C");
    m_write = lookUp<AVServiceWriteI2C>(loader, ioKit, "IOAVServiceWriteI2C");
    const auto coreDisplay = loader.open(coreDisplayPath, DynamicLoader::lazyLocal);
    m_info = lookUp<DisplayCreateInfoDictionary>(
        loader, coreDisplay, "CoreDisplay_DisplayCreateInfoDictionary");
}

DDCConnectionIdentity IOAVDDC::identity(const DisplayDevice& display)
{
    CoreGraphics& graphics = m_platform.graphics;
    const DisplayNumber number = display.runtimeID;
    if (!graphics.isOnline(number) || !graphics.isActive(number))
        throw DDCError::connectionChanged();
    const auto uuid = graphics.uuidText(number);
    if (!uuid || asciiLowercased(*uuid) != asciiLowercased(display.id))
        throw DDCError::connectionChanged();

    const auto information = m_info ? (*m_info)(number) : std::nullopt;
    const auto location = information ? information->find("IODisplayLocation")
                                      : PlatformDictionary::const_iterator();
    if (!information || location == information->end() || !location->second.textValue())
        throw DDCError::unavailable("No DDC connection information for this screen.");
    const std::string path = *location->second.textValue();

    IORegistry& registry = m_platform.registry;
    const auto entry = registry.entryFromPath(path);
    if (!entry)
        throw DDCError::connectionChanged();
    const HeldObject framebuffer(registry, *entry);
    std::uint64_t framebufferID = 0;
    if (registry.entryID(framebuffer.object(), &framebufferID) != 0)
        throw DDCError::connectionChanged();
    return DDCConnectionIdentity{
        .runtimeID = number, .framebufferID = framebufferID, .location = path};
}

std::shared_ptr<DDCChannel> IOAVDDC::open(const DDCConnectionIdentity& identity)
{
    if (!m_create || !m_read || !m_write)
        throw DDCError::unavailable("Apple Silicon DDC interfaces are unavailable.");
    IORegistry& registry = m_platform.registry;
    RegistryObject iteration{};
    if (registry.matchingServices("DCPAVServiceProxy", &iteration) != 0)
        throw DDCError::unavailable("Monitor transports could not be enumerated.");
    const HeldObject iterator(registry, iteration);

    std::vector<HeldObject> services;
    std::vector<DDCServiceCandidate> candidates;
    while (const auto next = registry.nextService(iterator.object())) {
        HeldObject service(registry, *next);
        if (auto candidate = candidateFor(registry, *next)) {
            services.push_back(std::move(service));
            candidates.push_back(std::move(*candidate));
        }
    }

    const DDCServiceCandidate selected = DDCServiceMatcher::select(identity.location, candidates);
    const auto chosen = std::ranges::find(candidates, selected);
    const auto created = (*m_create)(
        nullptr, services[static_cast<std::size_t>(chosen - candidates.begin())].object());
    if (!created)
        throw DDCError::serviceOpenFailed();
    const std::uint32_t chipAddress = selected.providerClass == "AppleDCPMCDP29XX" ? 0xB7 : 0x37;
    return std::make_shared<IOAVDDCChannel>(registry, *created, chipAddress, *m_read, *m_write);
}

} // namespace quorvane

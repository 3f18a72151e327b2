#include "QuorvaneMac/SpaceProvider.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "Foundation/Text.h"
#include "MacPlatform/DynamicLoader.h"
#include "MacPlatform/Platform.h"
#include "MacPlatform/Screens.h"
#include "MacPlatform/Workspace.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace quorvane {
namespace {

constexpr std::string_view skyLightPath
    = "/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight";
constexpr std::string_view dockBundleIdentifier = "com.apple.dock";
constexpr std::string_view sharedEntryName = "Main";

constexpr std::string_view unavailableMessage
    = "Desktop detection is unavailable on this macOS version.";
constexpr std::string_view unidentifiedScreenMessage
    = "macOS did not identify Spaces for this screen.";
constexpr std::string_view noIdentifiersMessage
    = "macOS did not provide desktop identifiers. App rules still work.";
constexpr std::string_view unknownSpaceMessage
    = "Full-screen or unknown Space. App rules still work.";
constexpr std::string_view sessionDesktopsMessage
    = "Experimental · desktops marked ‘this session’ must be selected again after restarting "
      "Quorvane, restarting the Dock, or removing a desktop.";
constexpr std::string_view identifiedDesktopsMessage
    = "Experimental · desktop associations can change after logout or a macOS update.";

template <typename Signature>
std::optional<std::function<Signature>> lookUp(DynamicLoader& loader,
    const std::optional<LoadedImage>& image, std::string_view name, std::string_view fallback)
{
    if (!image)
        return std::nullopt;
    if (auto function = loader.symbol<Signature>(*image, name))
        return function;
    return loader.symbol<Signature>(*image, fallback);
}

const PropertyList* member(const PropertyList::Dictionary& dictionary, const std::string& key)
{
    const auto found = dictionary.entries.find(key);
    return found == dictionary.entries.end() ? nullptr : &found->second;
}

const std::string* textMember(const PropertyList::Dictionary& dictionary, const std::string& key)
{
    const PropertyList* value = member(dictionary, key);
    const auto* text = value ? std::get_if<PropertyList::Text>(&value->value) : nullptr;
    return text ? &text->value : nullptr;
}

/// An array whose items are all dictionaries; absent for anything else.
std::optional<std::vector<PropertyList::Dictionary>> dictionaries(const PropertyList* value)
{
    const auto* array = value ? std::get_if<PropertyList::Array>(&value->value) : nullptr;
    if (!array)
        return std::nullopt;
    std::vector<PropertyList::Dictionary> result;
    for (const PropertyList& item : array->items) {
        const auto* dictionary = std::get_if<PropertyList::Dictionary>(&item.value);
        if (!dictionary)
            return std::nullopt;
        result.push_back(*dictionary);
    }
    return result;
}

const PropertyList::Dictionary* dictionaryMember(
    const PropertyList::Dictionary& dictionary, const std::string& key)
{
    const PropertyList* value = member(dictionary, key);
    return value ? std::get_if<PropertyList::Dictionary>(&value->value) : nullptr;
}

/// A number object read as an exact integer: a real only when it is whole and in range.
std::optional<std::int64_t> integerMember(
    const PropertyList::Dictionary& dictionary, const std::string& key)
{
    const PropertyList* value = member(dictionary, key);
    if (!value)
        return std::nullopt;
    if (const auto* integer = std::get_if<PropertyList::Integer>(&value->value))
        return integer->value;
    if (const auto* real = std::get_if<PropertyList::Real>(&value->value)) {
        constexpr double limit = 9223372036854775808.0;
        if (std::isfinite(real->value) && std::trunc(real->value) == real->value
            && real->value < limit && real->value >= -limit)
            return static_cast<std::int64_t>(real->value);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> unsignedMember(
    const PropertyList::Dictionary& dictionary, const std::string& key)
{
    const auto integer = integerMember(dictionary, key);
    if (!integer || *integer < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(*integer);
}

std::optional<std::uint64_t> runtimeIDOf(const PropertyList::Dictionary& space)
{
    if (const auto id = unsignedMember(space, "id64"))
        return id;
    return unsignedMember(space, "ManagedSpaceID");
}

bool isUserDesktop(const PropertyList::Dictionary& space)
{
    return integerMember(space, "type") == 0;
}

std::string describeValue(const PropertyList* value)
{
    if (!value)
        return "nil";
    const auto describe = Overloaded{
        [](const PropertyList::Integer& number) { return formatInteger(number.value); },
        [](const PropertyList::Real& number) { return formatFixed(number.value, 6); },
        [](const PropertyList::Boolean& flag) {
            return std::string(flag.value ? "true" : "false");
        },
        [](const PropertyList::Text& text) { return "\"" + text.value + "\""; },
        [](const PropertyList::Array&) { return std::string("(array)"); },
        [](const PropertyList::Dictionary&) { return std::string("(dictionary)"); },
    };
    return std::visit(describe, value->value);
}

std::size_t characterCount(std::string_view text)
{
    // UTF-8 continuation bytes do not start a character.
    return static_cast<std::size_t>(std::ranges::count_if(
        text, [](char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }));
}

std::string describeSpace(const PropertyList::Dictionary& space)
{
    const std::string* uuid = textMember(space, "uuid");
    const bool isValid = uuid && UUID::parse(*uuid).has_value();
    return "type=" + describeValue(member(space, "type"))
        + " id=" + describeValue(member(space, "id64"))
        + " UUID-length=" + formatUnsigned(uuid ? characterCount(*uuid) : 0)
        + " UUID-valid=" + (isValid ? "true" : "false");
}

std::string describeEntries(const std::vector<PropertyList::Dictionary>& spaces)
{
    std::vector<std::string> texts;
    for (const PropertyList::Dictionary& space : spaces)
        texts.push_back("\"" + describeSpace(space) + "\"");
    return "[" + joined(texts, ", ") + "]";
}

bool matches(const PropertyList::Dictionary& entry, const std::string& displayUUID, bool separate)
{
    const std::string* identifier = textMember(entry, "Display Identifier");
    if (!identifier)
        return false;
    if (asciiLowercased(*identifier) == asciiLowercased(displayUUID))
        return true;
    return !separate && *identifier == sharedEntryName;
}

std::string_view messageFor(
    const std::vector<Desktop>& desktops, const std::optional<Desktop>& current)
{
    if (desktops.empty())
        return noIdentifiersMessage;
    if (!current)
        return unknownSpaceMessage;
    if (std::ranges::any_of(desktops, &Desktop::isSessionOnly))
        return sessionDesktopsMessage;
    return identifiedDesktopsMessage;
}

SpaceSnapshot emptySnapshot(std::string_view message)
{
    return SpaceSnapshot{.current = std::nullopt, .desktops = {}, .message = std::string(message)};
}

} // namespace

SpaceProvider::SpaceProvider(Platform& platform)
    : m_platform(platform)
{
    DynamicLoader& loader = platform.loader;
    const auto image = loader.open(skyLightPath, DynamicLoader::lazyLocal);
    m_mainConnection = lookUp<skylight::MainConnectionID>(
        loader, image, "SLSMainConnectionID", "CGSMainConnectionID");
    m_copySpaces = lookUp<skylight::CopyManagedDisplaySpaces>(
        loader, image, "SLSCopyManagedDisplaySpaces", "CGSCopyManagedDisplaySpaces");
    m_currentSpace = lookUp<skylight::ManagedDisplayGetCurrentSpace>(
        loader, image, "SLSManagedDisplayGetCurrentSpace", "CGSManagedDisplayGetCurrentSpace");
}

std::map<std::string, SpaceSnapshot> SpaceProvider::snapshots(
    const std::vector<std::string>& displayUUIDs)
{
    std::map<std::string, SpaceSnapshot> result;
    const auto displays = readDisplayEntries();
    if (!displays) {
        for (const std::string& displayUUID : displayUUIDs)
            result[displayUUID] = emptySnapshot(unavailableMessage);
        return result;
    }
    const bool separate = m_platform.screens.screensHaveSeparateSpaces();
    const auto dock = dockProcessIdentifier();

    RuntimeIDs runtimeIDs;
    for (const PropertyList::Dictionary& entry : *displays) {
        const std::string* identifier = textMember(entry, "Display Identifier");
        const auto spaces = dictionaries(member(entry, "Spaces"));
        if (!identifier || !spaces)
            continue;
        std::set<std::uint64_t> ids;
        for (const PropertyList::Dictionary& space : *spaces) {
            if (!isUserDesktop(space))
                continue;
            if (const auto id = runtimeIDOf(space))
                ids.insert(*id);
        }
        runtimeIDs[asciiLowercased(*identifier)] = std::move(ids);
    }
    renewSessionIfNeeded(dock, runtimeIDs);
    m_dockPID = dock;
    m_previousRuntimeIDs = std::move(runtimeIDs);

    for (const std::string& displayUUID : displayUUIDs)
        result[displayUUID] = snapshot(displayUUID, *displays, separate);
    return result;
}

SpaceSnapshot SpaceProvider::snapshot(const std::optional<std::string>& displayUUID)
{
    if (!displayUUID)
        return emptySnapshot("Connect a screen to use Space rules.");
    auto result = snapshots({*displayUUID});
    const auto found = result.find(*displayUUID);
    if (found == result.end())
        return emptySnapshot("Space unavailable");
    return std::move(found->second);
}

std::optional<SpaceProvider::DisplayEntries> SpaceProvider::readDisplayEntries()
{
    if (!m_mainConnection || !m_copySpaces)
        return std::nullopt;
    const std::optional<PropertyList> copied = (*m_copySpaces)((*m_mainConnection)());
    return dictionaries(copied ? &*copied : nullptr);
}

std::optional<std::int32_t> SpaceProvider::dockProcessIdentifier()
{
    for (const RunningApplication& application : m_platform.workspace.runningApplications())
        if (application.bundleIdentifier == dockBundleIdentifier)
            return application.processIdentifier;
    return std::nullopt;
}

void SpaceProvider::renewSessionIfNeeded(
    std::optional<std::int32_t> dock, const RuntimeIDs& runtimeIDs)
{
    // A restarted Dock, or a runtime identifier not seen before, may mean the window server now
    // uses old runtime identifiers for other Spaces.
    const bool dockChanged = m_dockPID != dock;
    const bool hasNewRuntimeID
        = std::ranges::any_of(m_previousRuntimeIDs, [&](const auto& previous) {
              const auto found = runtimeIDs.find(previous.first);
              if (found == runtimeIDs.end())
                  return false;
              return !std::ranges::includes(previous.second, found->second);
          });
    if (dockChanged || hasNewRuntimeID)
        m_sessionID = UUID::random();
}

SpaceSnapshot SpaceProvider::snapshot(
    const std::string& displayUUID, const DisplayEntries& displays, bool separate)
{
    const auto entry
        = std::ranges::find_if(displays, [&](const PropertyList::Dictionary& candidate) {
              return matches(candidate, displayUUID, separate);
          });
    const auto spaces
        = entry == displays.end() ? std::nullopt : dictionaries(member(*entry, "Spaces"));
    if (!spaces)
        return emptySnapshot(unidentifiedScreenMessage);

    const PropertyList::Dictionary* currentEntry = dictionaryMember(*entry, "Current Space");
    m_diagnosticSummary = std::string("Separate Spaces: ") + (separate ? "true" : "false")
        + "; current: " + describeSpace(currentEntry ? *currentEntry : PropertyList::Dictionary{})
        + "; entries: " + describeEntries(*spaces);
    const std::optional<std::uint64_t> direct
        = currentEntry ? runtimeIDOf(*currentEntry) : std::nullopt;
    const std::uint64_t reported = reportedCurrentSpace(*textMember(*entry, "Display Identifier"));
    m_diagnosticSummary += "; direct-current: " + formatUnsigned(reported);
    const std::optional<std::uint64_t> active = reported != 0 ? std::optional(reported) : direct;

    if (spaces->empty())
        return emptySnapshot(noIdentifiersMessage);

    const std::string* currentUUID = currentEntry ? textMember(*currentEntry, "uuid") : nullptr;
    SpaceSnapshot result;
    std::int64_t position = 0;
    for (const PropertyList::Dictionary& space : *spaces) {
        if (!isUserDesktop(space))
            continue;
        ++position;
        const auto runtimeID = runtimeIDOf(space);
        const std::string* uuid = textMember(space, "uuid");
        auto desktop
            = Desktop::identified(uuid ? std::optional<std::string_view>(*uuid) : std::nullopt,
                runtimeID, position, m_sessionID);
        if (!desktop)
            continue;
        desktop->displayID = separate ? std::optional(displayUUID) : std::nullopt;
        desktop->isShared = !separate;
        const bool isCurrent = active ? runtimeID == active
                                      : currentUUID && asciiLowercased(*currentUUID) == desktop->id;
        if (isCurrent)
            result.current = desktop;
        result.desktops.push_back(std::move(*desktop));
    }
    result.message = messageFor(result.desktops, result.current);
    return result;
}

std::uint64_t SpaceProvider::reportedCurrentSpace(const std::string& name)
{
    if (!m_mainConnection || !m_currentSpace)
        return 0;
    return (*m_currentSpace)((*m_mainConnection)(), name);
}

} // namespace quorvane

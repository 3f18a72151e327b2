#include "SimulatedMac/WorldFile.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Format.h"
#include "Foundation/JSON.h"
#include "SimulatedMac/SimulatedAmbientLight.h"
#include "SimulatedMac/SimulatedCoreBrightness.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"
#include "SimulatedMac/SimulatedDisplayServices.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedMonitorPanel.h"
#include "SimulatedMac/SimulatedSkyLight.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <string_view>

namespace quorvane {
namespace {

using Keys = std::initializer_list<std::string_view>;

/// A misspelt knob would otherwise be ignored silently and the test would check the wrong world.
void rejectUnknownKeys(const JSONObject& object, Keys known)
{
    for (const JSONObject::Member& member : object.members()) {
        if (std::ranges::find(known, member.key) == known.end())
            throw member.value.dataCorrupted(
                "The key \"" + std::string(member.key) + "\" is not part of a simulated Mac file.");
    }
}

/// A decoder of an integer from `low` to `high` into T.
template <typename T> auto integerIn(std::int64_t low, std::int64_t high)
{
    return [low, high](const JSONValue& value) {
        const std::int64_t raw = decodeInteger(value);
        if (raw < low || raw > high)
            throw value.dataCorrupted("Expected a number from " + formatInteger(low) + " to "
                + formatInteger(high) + ", not " + formatInteger(raw) + ".");
        return static_cast<T>(raw);
    };
}

template <typename T> auto integerOf()
{
    return integerIn<T>(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
}

/// Stores the value under `key` in `target` when there is one; otherwise `target` keeps its value.
template <typename Decode, typename T>
void readOptional(const JSONObject& object, std::string_view key, Decode decode, T& target)
{
    if (auto value = object.optional(key, decode))
        target = std::move(*value);
}

Rect decodeRect(const JSONValue& value)
{
    const JSONObject object = value.object();
    rejectUnknownKeys(object, {"x", "y", "width", "height"});
    return Rect{
        .x = object.required("x", decodeDouble),
        .y = object.required("y", decodeDouble),
        .width = object.required("width", decodeDouble),
        .height = object.required("height", decodeDouble),
    };
}

/// An integer, or a string for a screen number of the wrong kind.
PlatformValue decodeScreenNumber(const JSONValue& value)
{
    try {
        return PlatformValue::text(decodeString(value));
    } catch (const JSONDecodingError& error) {
        if (error.kind() != JSONDecodingError::Kind::typeMismatch)
            throw;
    }
    return PlatformValue::integer(decodeInteger(value));
}

ScreenObject decodeScreen(const JSONValue& value, DisplayNumber number)
{
    const JSONObject object = value.object();
    rejectUnknownKeys(object,
        {"localizedName", "screenNumber", "minimumRefreshInterval", "maximumRefreshInterval",
            "maximumPotentialExtendedDynamicRangeColorComponentValue", "maximumFramesPerSecond"});
    ScreenObject screen;
    screen.localizedName = object.required("localizedName", decodeString);
    if (!object.contains("screenNumber"))
        screen.deviceDescription["NSScreenNumber"] = PlatformValue::integer(number);
    else if (const std::optional<PlatformValue> screenNumber
        = object.optional("screenNumber", decodeScreenNumber))
        screen.deviceDescription["NSScreenNumber"] = *screenNumber;
    readOptional(object, "minimumRefreshInterval", decodeDouble, screen.minimumRefreshInterval);
    readOptional(object, "maximumRefreshInterval", decodeDouble, screen.maximumRefreshInterval);
    readOptional(object, "maximumPotentialExtendedDynamicRangeColorComponentValue", decodeDouble,
        screen.maximumPotentialExtendedDynamicRangeColorComponentValue);
    readOptional(object, "maximumFramesPerSecond", decodeInteger, screen.maximumFramesPerSecond);
    return screen;
}

GraphicsDisplayMode decodeMode(const JSONValue& value)
{
    const JSONObject object = value.object();
    rejectUnknownKeys(object,
        {"width", "height", "pixelWidth", "pixelHeight", "ioDisplayModeID", "refreshRate",
            "isUsableForDesktopGUI"});
    GraphicsDisplayMode mode{
        .width = object.required("width", decodeInteger),
        .height = object.required("height", decodeInteger),
        .ioDisplayModeID = object.required("ioDisplayModeID", integerOf<std::int32_t>()),
    };
    mode.pixelWidth = object.optional("pixelWidth", decodeInteger).value_or(mode.width);
    mode.pixelHeight = object.optional("pixelHeight", decodeInteger).value_or(mode.height);
    readOptional(object, "refreshRate", decodeDouble, mode.refreshRate);
    readOptional(object, "isUsableForDesktopGUI", decodeBool, mode.isUsableForDesktopGUI);
    return mode;
}

/// Modes are named by their identifier when switching, so one identifier must name one mode.
std::vector<GraphicsDisplayMode> decodeModes(const JSONValue& value)
{
    std::vector<GraphicsDisplayMode> modes;
    for (const JSONValue& element : value.elements()) {
        const GraphicsDisplayMode mode = decodeMode(element);
        if (std::ranges::find(modes, mode.ioDisplayModeID, &GraphicsDisplayMode::ioDisplayModeID)
            != modes.end())
            throw element.dataCorrupted("Another mode has the IO display mode identifier "
                + formatInteger(mode.ioDisplayModeID) + ".");
        modes.push_back(mode);
    }
    return modes;
}

SimulatedDisplay decodeDisplay(const JSONValue& value)
{
    const JSONObject object = value.object();
    rejectUnknownKeys(object,
        {"number", "uuid", "isBuiltIn", "isMirrored", "isOnline", "isAsleep", "bounds", "screen",
            "modes", "currentModeID", "gammaCapacity"});
    SimulatedDisplay display;
    display.number = object.required(
        "number", integerIn<DisplayNumber>(1, std::numeric_limits<DisplayNumber>::max()));
    display.uuid = object.optional("uuid", decodeString);
    readOptional(object, "isBuiltIn", decodeBool, display.isBuiltIn);
    readOptional(object, "isMirrored", decodeBool, display.isMirrored);
    readOptional(object, "isOnline", decodeBool, display.isOnline);
    readOptional(object, "isAsleep", decodeBool, display.isAsleep);
    display.bounds = object.required("bounds", decodeRect);
    display.screen = object.optional("screen", [number = display.number](const JSONValue& screen) {
        return decodeScreen(screen, number);
    });
    readOptional(object, "modes", decodeModes, display.modes);
    display.currentModeID = object.optional("currentModeID", integerOf<std::int32_t>());
    if (display.currentModeID
        && std::ranges::find(
               display.modes, *display.currentModeID, &GraphicsDisplayMode::ioDisplayModeID)
            == display.modes.end())
        throw object.requiredMember("currentModeID")
            .dataCorrupted("No mode of this display has the IO display mode identifier "
                + formatInteger(*display.currentModeID) + ".");
    readOptional(object, "gammaCapacity", integerOf<std::uint32_t>(), display.gammaCapacity);
    return display;
}

/// Display numbers are how every call names a display, so no two may share one.
std::vector<SimulatedDisplay> decodeDisplays(const JSONValue& value)
{
    std::vector<SimulatedDisplay> displays;
    for (const JSONValue& element : value.elements()) {
        SimulatedDisplay display = decodeDisplay(element);
        if (std::ranges::find(displays, display.number, &SimulatedDisplay::number)
            != displays.end())
            throw element.object().requiredMember("number").dataCorrupted(
                "Another display has the number " + formatUnsigned(display.number) + ".");
        displays.push_back(std::move(display));
    }
    return displays;
}

GraphicsFaults decodeGraphicsFaults(const JSONValue& value, GraphicsFaults faults)
{
    const JSONObject object = value.object();
    rejectUnknownKeys(object,
        {"countCallStatus", "listCallStatus", "displaysLostBetweenCalls", "allModesUnanswered"});
    readOptional(object, "countCallStatus", integerOf<GraphicsStatus>(), faults.countCallStatus);
    readOptional(object, "listCallStatus", integerOf<GraphicsStatus>(), faults.listCallStatus);
    readOptional(object, "displaysLostBetweenCalls", integerOf<std::uint32_t>(),
        faults.displaysLostBetweenCalls);
    readOptional(object, "allModesUnanswered", decodeBool, faults.allModesUnanswered);
    return faults;
}

/// What a file sets, decoded in full before anything in the world changes.
struct WorldDescription {
    std::vector<SimulatedDisplay> displays;
    GraphicsFaults graphicsFaults;
    bool screensHaveSeparateSpaces;
    std::string operatingSystemVersionString;
    std::int64_t operatingSystemMajorVersion;
};

WorldDescription decodeWorld(const JSONValue& value, const SimulatedWorld& world)
{
    const JSONObject object = value.object();
    rejectUnknownKeys(object,
        {"displays", "graphicsFaults", "screensHaveSeparateSpaces", "operatingSystemVersionString",
            "operatingSystemMajorVersion"});
    WorldDescription description{
        .displays = object.required("displays", decodeDisplays),
        .graphicsFaults = world.graphicsFaults,
        .screensHaveSeparateSpaces = world.screensHaveSeparateSpaces,
        .operatingSystemVersionString = world.operatingSystemVersionString,
        .operatingSystemMajorVersion = world.operatingSystemMajorVersion,
    };
    if (const std::optional<JSONValue> faults = object.optionalMember("graphicsFaults"))
        description.graphicsFaults = decodeGraphicsFaults(*faults, world.graphicsFaults);
    readOptional(
        object, "screensHaveSeparateSpaces", decodeBool, description.screensHaveSeparateSpaces);
    readOptional(object, "operatingSystemVersionString", decodeString,
        description.operatingSystemVersionString);
    readOptional(object, "operatingSystemMajorVersion", decodeInteger,
        description.operatingSystemMajorVersion);
    return description;
}

WorldDescription readWorldFile(const std::filesystem::path& path, const SimulatedWorld& world)
{
    std::string bytes;
    try {
        bytes = readFile(path);
    } catch (const FileError& error) {
        throw WorldFileError(path, error.reason().message() + ".");
    }
    try {
        const nlohmann::json document = parseJSON(bytes);
        return decodeWorld(JSONValue(document), world);
    } catch (const JSONDecodingError& error) {
        throw WorldFileError(path, error.what());
    }
}

} // namespace

WorldFileError::WorldFileError(std::filesystem::path path, std::string reason)
    : Error("The simulated Mac file \"" + path.string() + "\" could not be read: " + reason)
    , m_path(std::move(path))
    , m_reason(std::move(reason))
{
}

void loadWorld(SimulatedMac& mac, const std::filesystem::path& path)
{
    WorldDescription description = readWorldFile(path, mac.world);
    SimulatedWorld& world = mac.world;
    world.displays = std::move(description.displays);
    world.graphicsFaults = std::move(description.graphicsFaults);
    world.screensHaveSeparateSpaces = description.screensHaveSeparateSpaces;
    world.operatingSystemVersionString = std::move(description.operatingSystemVersionString);
    world.operatingSystemMajorVersion = description.operatingSystemMajorVersion;
}

void installDefaultWorld(SimulatedMac& mac)
{
    addDefaultDisplays(mac.world);
    // Each slice keeps its state alive through the functions it installs.
    installDDCMonitorDefaults(mac);
    installDisplayServicesDefaults(mac);
    installMonitorPanelDefaults(mac);
    installAmbientLightDefaults(mac);
    installCoreBrightnessDefaults(mac);
    installSkyLightDefaults(mac);
    installWorkspaceDefaults(mac);
}

void worldFromEnvironment(SimulatedMac& mac)
{
    const char* path = std::getenv(simulatedMacVariable);
    if (path && *path != '\0')
        loadWorld(mac, path);
    else
        installDefaultWorld(mac);
}

} // namespace quorvane

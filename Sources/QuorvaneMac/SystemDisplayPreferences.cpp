#include "QuorvaneMac/SystemDisplayPreferences.h"

#include "Concurrency/Cancellation.h"
#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "Foundation/Text.h"
#include "MacPlatform/DynamicLoader.h"
#include "MacPlatform/Platform.h"
#include "MacPlatform/SkyLight.h"
#include "QuorvaneMac/DisplayError.h"
#include "QuorvaneMac/DisplayInventory.h"

#include <algorithm>
#include <array>
#include <regex>
#include <vector>

namespace quorvane {
namespace {

constexpr std::string_view displayServicesPath
    = "/System/Library/PrivateFrameworks/DisplayServices.framework/DisplayServices";
constexpr std::string_view skyLightPath
    = "/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight";
constexpr std::string_view coreBrightnessPath
    = "/System/Library/PrivateFrameworks/CoreBrightness.framework/CoreBrightness";

constexpr std::string_view trueToneUnavailable
    = "True Tone is unavailable on this Mac or in the current display mode.";
constexpr std::string_view nightShiftUnavailable = "Night Shift is unavailable on this Mac.";
constexpr std::string_view nightShiftChanged
    = "Night Shift interface changed on this macOS version.";
constexpr std::string_view nightShiftUnavailableInMode
    = "Night Shift is unavailable in the current display mode.";
constexpr std::string_view ambientUnsupported
    = "Ambient-light brightness control is not supported on this screen.";
constexpr std::string_view darkModeUnavailable
    = "Dark Mode control is unavailable on this macOS version.";

/// The blue-light status structure with and without its trailing availability flag, once every
/// structure name is blanked out.
constexpr std::string_view longStatusLayout = "^{?=BBBi{?={?=ii}{?=ii}}QB}";
constexpr std::string_view shortStatusLayout = "^{?=BBBi{?={?=ii}{?=ii}}Q}";
constexpr std::size_t enabledByte = 1;
constexpr std::size_t availableByte = 32;

[[noreturn]] void fail(std::string_view text)
{
    throw DisplayError::unavailable(std::string(text));
}

/// The type encoding of a method's one parameter, after the receiver and the selector.
std::optional<std::string> parameterType(const MethodShape& shape)
{
    if (shape.argumentTypes.size() < 3)
        return std::nullopt;
    return shape.argumentTypes[2];
}

std::string withAnonymousStructures(const std::string& encoding)
{
    static const std::regex structureName(R"(\{[^=]*=)");
    return std::regex_replace(encoding, structureName, "{?=");
}

template <typename Read>
void record(SystemDisplaySnapshot& snapshot, const SystemDisplayControl& control, Read read)
{
    try {
        snapshot.values[control] = read();
    } catch (const DisplayError& error) {
        snapshot.unavailable[control] = error.what();
    }
}

std::optional<ObjectInstance> createClient(ObjectRuntime& objects, std::string_view className)
{
    const auto objectClass = objects.classNamed(className);
    if (!objectClass || !objects.descendsFromRootObject(*objectClass))
        return std::nullopt;
    return objects.createInstance(*objectClass);
}

} // namespace

SystemDisplayPreferences::SystemDisplayPreferences(Platform& platform)
    : m_platform(platform)
{
    DynamicLoader& loader = platform.loader;
    if (const auto image = loader.open(displayServicesPath, DynamicLoader::lazyLocal)) {
        m_hasAmbient = loader.symbol<bool(DisplayNumber)>(
            *image, "DisplayServicesHasAmbientLightCompensation");
        m_readAmbient = loader.symbol<std::int32_t(DisplayNumber, bool*)>(
            *image, "DisplayServicesAmbientLightCompensationEnabled");
        m_writeAmbient = loader.symbol<std::int32_t(DisplayNumber, bool)>(
            *image, "DisplayServicesEnableAmbientLightCompensation");
    }
    if (const auto image = loader.open(skyLightPath, DynamicLoader::lazyLocal)) {
        m_getAppearance
            = loader.symbol<skylight::GetAppearanceTheme>(*image, "SLSGetAppearanceThemeLegacy");
        m_setAppearance
            = loader.symbol<skylight::SetAppearanceTheme>(*image, "SLSSetAppearanceThemeLegacy");
    }
    ObjectRuntime& objects = platform.objects;
    if (loader.open(coreBrightnessPath, DynamicLoader::lazyLocal))
        m_trueTone = createClient(objects, "CBTrueToneClient");
    // The blue-light class is looked up even when the library did not open: another image may
    // have loaded it already.
    m_nightShift = createClient(objects, "CBBlueLightClient");
}

SystemDisplayPreferences::~SystemDisplayPreferences()
{
    if (m_trueTone)
        m_platform.objects.release(*m_trueTone);
    if (m_nightShift)
        m_platform.objects.release(*m_nightShift);
}

Task<SystemDisplaySnapshot> SystemDisplayPreferences::snapshot()
{
    SystemDisplaySnapshot result;
    record(result, SystemDisplayControl::trueTone(), [this] { return readTrueTone(); });
    if (hasAppearance())
        result.values[SystemDisplayControl::darkMode()] = (*m_getAppearance)();
    else
        result.unavailable[SystemDisplayControl::darkMode()] = darkModeUnavailable;
    record(result, SystemDisplayControl::nightShift(), [this] { return readNightShift(); });
    for (const auto& [displayID, number] : displays()) {
        record(result, SystemDisplayControl::automaticBrightness(displayID),
            [this, number = number] { return readAutomaticBrightness(number); });
    }
    co_return result;
}

Task<void> SystemDisplayPreferences::write(bool value, SystemDisplayControl control)
{
    checkCancellation();
    const auto apply = Overloaded{
        [&](const SystemDisplayControl::TrueTone&) {
            (void)readTrueTone();
            if (!m_trueTone)
                fail("True Tone unavailable");
            setEnabled(value, *m_trueTone, "True Tone");
        },
        [&](const SystemDisplayControl::DarkMode&) {
            if (!hasAppearance())
                fail(darkModeUnavailable);
            (*m_setAppearance)(value);
        },
        [&](const SystemDisplayControl::NightShift&) {
            (void)readNightShift();
            if (!m_nightShift)
                fail("Night Shift unavailable");
            setEnabled(value, *m_nightShift, "Night Shift");
        },
        [&](const SystemDisplayControl::AutomaticBrightness& brightness) {
            writeAutomaticBrightness(value, brightness.displayID);
        },
    };
    std::visit(apply, control.value);
    co_return;
}

bool SystemDisplayPreferences::readTrueTone()
{
    if (!m_trueTone || boolMethod("supported", *m_trueTone) != true
        || boolMethod("available", *m_trueTone) != true
        || !m_platform.objects.respondsToSelector(*m_trueTone, "setEnabled:"))
        fail(trueToneUnavailable);
    const auto enabled = boolMethod("enabled", *m_trueTone);
    if (!enabled)
        fail(trueToneUnavailable);
    return *enabled;
}

bool SystemDisplayPreferences::readNightShift()
{
    ObjectRuntime& objects = m_platform.objects;
    if (!m_nightShift || boolMethod("supported", *m_nightShift) != true
        || !objects.respondsToSelector(*m_nightShift, "setEnabled:"))
        fail(nightShiftUnavailable);
    const auto shape
        = objects.instanceMethod(objects.classOf(*m_nightShift), "getBlueLightStatus:");
    const auto parameter = shape ? parameterType(*shape) : std::nullopt;
    if (!shape || shape->argumentCount != 3 || !parameter)
        fail(nightShiftUnavailable);

    const std::string layout = withAnonymousStructures(*parameter);
    if (shape->returnType != "B" || (layout != longStatusLayout && layout != shortStatusLayout))
        fail(nightShiftChanged);
    const auto status
        = objects.implementation<bool(ObjectInstance, void*)>(*m_nightShift, "getBlueLightStatus:");
    if (!status)
        fail(nightShiftUnavailable);

    // Larger than either layout, so a structure that grew a little cannot write past it.
    std::array<std::uint8_t, 64> buffer{};
    const bool answered = (*status)(*m_nightShift, buffer.data());
    if (!answered || (layout == longStatusLayout && buffer[availableByte] == 0))
        fail(nightShiftUnavailableInMode);
    return buffer[enabledByte] != 0;
}

bool SystemDisplayPreferences::readAutomaticBrightness(DisplayNumber display)
{
    if (!m_hasAmbient || !m_readAmbient || !m_writeAmbient || !(*m_hasAmbient)(display))
        fail(ambientUnsupported);
    bool enabled = false;
    const std::int32_t status = (*m_readAmbient)(display, &enabled);
    if (status != 0)
        fail("Could not read automatic brightness (" + formatInteger(status) + ").");
    return enabled;
}

std::map<std::string, DisplayNumber> SystemDisplayPreferences::displays()
{
    CoreGraphics& graphics = m_platform.graphics;
    const std::vector<DisplayNumber> numbers = onlineDisplayNumbers(graphics);

    std::map<std::string, DisplayNumber> table;
    std::map<std::string, int> occurrences;
    for (const DisplayNumber number : numbers) {
        if (!graphics.isActive(number))
            continue;
        const auto uuid = graphics.uuidText(number);
        if (!uuid)
            continue;
        const std::string id = asciiLowercased(*uuid);
        table[id] = number;
        ++occurrences[id];
    }
    // Displays sharing a UUID are left out, as in the display inventory: the rest of the system
    // never lists such an identifier, and it could not say which display it means.
    std::erase_if(table, [&](const auto& entry) { return occurrences[entry.first] > 1; });
    return table;
}

std::optional<bool> SystemDisplayPreferences::boolMethod(
    std::string_view selector, ObjectInstance object)
{
    ObjectRuntime& objects = m_platform.objects;
    if (!objects.respondsToSelector(object, selector))
        return std::nullopt;
    const auto shape = objects.instanceMethod(objects.classOf(object), selector);
    if (!shape || shape->returnType != "B" || shape->argumentCount != 2)
        return std::nullopt;
    const auto getter = objects.implementation<bool(ObjectInstance)>(object, selector);
    if (!getter)
        return std::nullopt;
    return (*getter)(object);
}

void SystemDisplayPreferences::setEnabled(bool value, ObjectInstance object, std::string_view title)
{
    ObjectRuntime& objects = m_platform.objects;
    const std::string name(title);
    const auto shape = objects.instanceMethod(objects.classOf(object), "setEnabled:");
    const auto parameter = shape ? parameterType(*shape) : std::nullopt;
    if (!shape || shape->argumentCount != 3 || !parameter)
        fail(name + " control unavailable");
    if (shape->returnType != "B" || *parameter != "B")
        fail(name + " interface changed on this macOS version");
    const auto setter = objects.implementation<bool(ObjectInstance, bool)>(object, "setEnabled:");
    if (!setter)
        fail(name + " control unavailable");
    if (!(*setter)(object, value))
        fail("macOS did not accept the " + name + " change");
}

void SystemDisplayPreferences::writeAutomaticBrightness(bool value, const std::string& displayID)
{
    const auto table = displays();
    const auto found = table.find(displayID);
    if (found == table.end())
        fail("Display disconnected or asleep");
    (void)readAutomaticBrightness(found->second);
    if (!m_writeAmbient)
        fail("Automatic brightness control unavailable");
    const std::int32_t status = (*m_writeAmbient)(found->second, value);
    if (status != 0)
        fail("Automatic brightness change failed (" + formatInteger(status) + ")");
}

} // namespace quorvane

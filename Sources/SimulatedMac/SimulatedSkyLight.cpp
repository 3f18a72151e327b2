#include "SimulatedMac/SimulatedSkyLight.h"

#include "SimulatedMac/CallLog.h"
#include "SimulatedMac/SimulatedMac.h"

#include <algorithm>
#include <cctype>

namespace quorvane {
namespace {

constexpr std::uint32_t spaceChangeEvent = 1401;
constexpr const char* sharedEntryName = "Main";

std::string lowercased(std::string text)
{
    std::ranges::transform(
        text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

PropertyList spaceEntry(const SimulatedSpace& space)
{
    std::map<std::string, PropertyList> entries{
        {"type", PropertyList::integer(space.type)},
        {"id64", PropertyList::integer(static_cast<std::int64_t>(space.runtimeID))},
        {"ManagedSpaceID", PropertyList::integer(static_cast<std::int64_t>(space.runtimeID))},
    };
    if (space.uuid)
        entries["uuid"] = PropertyList::text(*space.uuid);
    return PropertyList::dictionary(std::move(entries));
}

PropertyList displayEntry(const std::string& identifier, const SimulatedDisplaySpaces& spaces)
{
    std::vector<PropertyList> items;
    std::ranges::transform(spaces.spaces, std::back_inserter(items), spaceEntry);
    std::map<std::string, PropertyList> entries{
        {"Display Identifier", PropertyList::text(identifier)},
        {"Spaces", PropertyList::array(std::move(items))},
    };
    const auto current
        = std::ranges::find(spaces.spaces, spaces.currentSpace, &SimulatedSpace::runtimeID);
    if (current != spaces.spaces.end())
        entries["Current Space"] = spaceEntry(*current);
    return PropertyList::dictionary(std::move(entries));
}

/// The entry's current Space by the identifier the caller names it with; 0 when unknown.
std::uint64_t currentSpaceOf(
    const SimulatedSkyLight& state, SimulatedWorld& world, const std::string& name)
{
    if (!state.reportsCurrentSpace)
        return 0;
    if (!world.screensHaveSeparateSpaces)
        return name == sharedEntryName ? state.sharedSpaces.currentSpace : 0;
    const SimulatedDisplay* display = world.displayWithUUID(name);
    if (!display || !display->isOnline)
        return 0;
    const auto found = state.displaySpaces.find(lowercased(name));
    return found == state.displaySpaces.end() ? 0 : found->second.currentSpace;
}

template <typename Signature, typename Function>
void defineBoth(SimulatedLoader::Image& image, const std::string& role, Function function,
    const std::shared_ptr<SimulatedSkyLight>& state)
{
    for (const std::string prefix : {"SLS", "CGS"}) {
        const std::string name = prefix + role;
        image.define<Signature>(name, [state, name, function](auto... arguments) {
            logCall(state->calls, name);
            return function(arguments...);
        });
    }
}

void defineSpaceFunctions(SimulatedLoader::Image& image, SimulatedWorld& world,
    const std::shared_ptr<SimulatedSkyLight>& state)
{
    SimulatedSkyLight* skyLight = state.get();
    defineBoth<skylight::MainConnectionID>(
        image, "MainConnectionID", [skyLight] { return skyLight->connection; }, state);
    defineBoth<skylight::CopyManagedDisplaySpaces>(
        image, "CopyManagedDisplaySpaces",
        [skyLight, &world](WindowServerConnection connection) -> std::optional<PropertyList> {
            if (connection != skyLight->connection)
                return std::nullopt;
            if (skyLight->topologyOverride)
                return *skyLight->topologyOverride;
            return skyLight->managedDisplaySpaces(world);
        },
        state);
    defineBoth<skylight::ManagedDisplayGetCurrentSpace>(
        image, "ManagedDisplayGetCurrentSpace",
        [skyLight, &world](
            WindowServerConnection connection, const std::string& name) -> std::uint64_t {
            if (connection != skyLight->connection)
                return 0;
            return currentSpaceOf(*skyLight, world, name);
        },
        state);
    defineBoth<skylight::NotifyProcRegistration>(
        image, "RegisterNotifyProc",
        [skyLight](WindowServerNotifyProc callback, std::uint32_t eventType, void* context) {
            if (skyLight->registerStatus == 0)
                skyLight->registrations.push_back(
                    {.callback = callback, .eventType = eventType, .context = context});
            return skyLight->registerStatus;
        },
        state);
    defineBoth<skylight::NotifyProcRegistration>(
        image, "RemoveNotifyProc",
        [skyLight](WindowServerNotifyProc callback, std::uint32_t eventType, void* context) {
            const auto removed = std::erase_if(
                skyLight->registrations, [&](const SimulatedSkyLight::Registration& r) {
                    return r.callback == callback && r.eventType == eventType
                        && r.context == context;
                });
            return removed > 0 ? WindowServerStatus{0} : WindowServerStatus{1000};
        },
        state);
}

void defineAppearanceFunctions(
    SimulatedLoader::Image& image, const std::shared_ptr<SimulatedSkyLight>& state)
{
    image.define<skylight::GetAppearanceTheme>("SLSGetAppearanceThemeLegacy", [state] {
        logCall(state->calls, "SLSGetAppearanceThemeLegacy");
        return state->darkMode;
    });
    image.define<skylight::SetAppearanceTheme>("SLSSetAppearanceThemeLegacy", [state](bool isDark) {
        logCall(state->calls, "SLSSetAppearanceThemeLegacy");
        state->darkMode = isDark;
    });
}

} // namespace

void SimulatedSkyLight::fireSpaceChange() const
{
    // A callback may unregister while it runs: call a copy.
    const std::vector<Registration> current = registrations;
    for (const Registration& registration : current)
        if (registration.eventType == spaceChangeEvent)
            registration.callback(spaceChangeEvent, nullptr, 0, registration.context);
}

PropertyList SimulatedSkyLight::managedDisplaySpaces(SimulatedWorld& world) const
{
    if (!world.screensHaveSeparateSpaces)
        return PropertyList::array({displayEntry(sharedEntryName, sharedSpaces)});
    std::vector<PropertyList> entries;
    for (const SimulatedDisplay& display : world.displays) {
        if (!display.isOnline || !display.uuid)
            continue;
        const auto found = displaySpaces.find(lowercased(*display.uuid));
        if (found != displaySpaces.end())
            entries.push_back(displayEntry(*display.uuid, found->second));
    }
    return PropertyList::array(std::move(entries));
}

std::shared_ptr<SimulatedSkyLight> installSkyLight(SimulatedMac& mac, SimulatedSkyLight initial)
{
    auto state = std::make_shared<SimulatedSkyLight>(std::move(initial));
    SimulatedLoader::Image& image = mac.loader.image(SimulatedSkyLight::imagePath);
    defineSpaceFunctions(image, mac.world, state);
    defineAppearanceFunctions(image, state);
    return state;
}

std::shared_ptr<SimulatedSkyLight> installSkyLightDefaults(SimulatedMac& mac)
{
    SimulatedSkyLight initial;
    initial.displaySpaces["37d8832a-2d66-02ca-b9f7-8f30a301b230"] = SimulatedDisplaySpaces{
        .spaces = {{.runtimeID = 3, .uuid = "5E1C7A0B-7C1D-4F52-9A3E-0B6D2C4F8A11"},
            {.runtimeID = 8, .uuid = "A47B2D90-3E6F-4C18-B5D2-7F9E1A3C6B42"}},
        .currentSpace = 8,
    };
    initial.displaySpaces["9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f"] = SimulatedDisplaySpaces{
        .spaces = {{.runtimeID = 5, .uuid = "C2F8E4A6-1B3D-4E5F-8A7C-9D0B2E4F6A83"}},
        .currentSpace = 5,
    };
    initial.sharedSpaces = initial.displaySpaces.begin()->second;
    launchDock(mac, 412);
    return installSkyLight(mac, std::move(initial));
}

void launchDock(SimulatedMac& mac, std::int32_t processIdentifier)
{
    quitDock(mac);
    mac.workspace.applications.push_back(RunningApplication{
        .processIdentifier = processIdentifier,
        .bundleIdentifier = "com.apple.dock",
        .localizedName = "Dock",
        .bundlePath = "/System/Library/CoreServices/Dock.app",
        .activationPolicy = ActivationPolicy::accessory,
    });
}

void quitDock(SimulatedMac& mac)
{
    std::erase_if(mac.workspace.applications, [](const RunningApplication& application) {
        return application.bundleIdentifier == "com.apple.dock";
    });
}

} // namespace quorvane

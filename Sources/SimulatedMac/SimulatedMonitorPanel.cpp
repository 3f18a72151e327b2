#include "SimulatedMac/SimulatedMonitorPanel.h"

#include "SimulatedMac/CallLog.h"
#include "SimulatedMac/SimulatedMac.h"

#include <functional>
#include <map>
#include <memory>

namespace quorvane {
namespace {

using DisplayState = std::shared_ptr<SimulatedMonitorPanelDisplay>;

constexpr const char* managerClass = "MPDisplayMgr";
constexpr const char* displayClass = "MPDisplay";

MethodShape getter(std::string returnType)
{
    return MethodShape{
        .argumentCount = 2, .returnType = std::move(returnType), .argumentTypes = {"@", ":"}};
}

void defineManager(SimulatedMac& mac, const std::shared_ptr<SimulatedMonitorPanel>& panel)
{
    SimulatedObjectRuntime::Class& manager = mac.objects.defineClass(managerClass);
    // The manager keeps one object per display, as the framework's does, rather than making new
    // ones on every call that nobody releases.
    auto objects = std::make_shared<std::map<DisplayState, ObjectInstance>>();
    manager.performable["displays"] = [panel, objects, &mac](ObjectInstance) {
        MessageResult::Objects listed;
        for (const DisplayState& display : panel->displays) {
            if (!mac.world.displayWithUUID(display->uuid))
                continue;
            auto object = objects->find(display);
            if (object == objects->end())
                object = objects->emplace(display, mac.objects.makeInstance(displayClass, display))
                             .first;
            listed.objects.push_back(object->second);
        }
        return MessageResult{listed};
    };
    manager
        .define<bool(ObjectInstance)>("tryLockAccess", getter("B"),
            [panel](ObjectInstance) {
                logCall(panel->messages, "tryLockAccess");
                if (panel->isLocked || panel->isLockedByAnotherClient)
                    return false;
                panel->isLocked = true;
                return true;
            })
        .define<void(ObjectInstance)>("unlockAccess", getter("v"), [panel](ObjectInstance) {
            logCall(panel->messages, "unlockAccess");
            panel->isLocked = false;
        });
}

void defineDisplay(SimulatedMac& mac, const std::shared_ptr<SimulatedMonitorPanel>& panel)
{
    SimulatedObjectRuntime& objects = mac.objects;
    SimulatedWorld& world = mac.world;
    objects.defineClass(displayClass)
        .define<std::int32_t(ObjectInstance)>("displayID", getter("i"),
            [&objects, &world](ObjectInstance self) {
                const DisplayState& display = objects.state<DisplayState>(self);
                if (display->reportedDisplayID)
                    return *display->reportedDisplayID;
                const SimulatedDisplay* found = world.displayWithUUID(display->uuid);
                return found ? static_cast<std::int32_t>(found->number) : 0;
            })
        .define<bool(ObjectInstance)>("hasHDRModes", getter("B"),
            [&objects](
                ObjectInstance self) { return objects.state<DisplayState>(self)->hasHDRModes; })
        .define<bool(ObjectInstance)>("preferHDRModes", getter("B"),
            [&objects](
                ObjectInstance self) { return objects.state<DisplayState>(self)->prefersHDR; })
        .define<void(ObjectInstance, bool)>("setPreferHDRModes:",
            MethodShape{.argumentCount = 3, .returnType = "v", .argumentTypes = {"@", ":", "B"}},
            [&objects, &world, panel](ObjectInstance self, bool enabled) {
                logCall(
                    panel->messages, std::string("setPreferHDRModes: ") + (enabled ? "YES" : "NO"));
                DisplayState display = objects.state<DisplayState>(self);
                if (panel->switchDelay <= std::chrono::nanoseconds::zero()) {
                    display->prefersHDR = enabled;
                    return;
                }
                world.schedule(panel->switchDelay,
                    [display, enabled](SimulatedWorld&) { display->prefersHDR = enabled; });
            });
}

} // namespace

SimulatedMonitorPanelDisplay& SimulatedMonitorPanel::addDisplay(
    SimulatedMonitorPanelDisplay display)
{
    displays.push_back(std::make_shared<SimulatedMonitorPanelDisplay>(std::move(display)));
    return *displays.back();
}

std::shared_ptr<SimulatedMonitorPanel> installMonitorPanel(SimulatedMac& mac)
{
    auto panel = std::make_shared<SimulatedMonitorPanel>();
    (void)mac.loader.image(monitorPanelImagePath);
    defineManager(mac, panel);
    defineDisplay(mac, panel);
    return panel;
}

std::shared_ptr<SimulatedMonitorPanel> installMonitorPanelDefaults(SimulatedMac& mac)
{
    std::shared_ptr<SimulatedMonitorPanel> panel = installMonitorPanel(mac);
    for (const SimulatedDisplay& display : mac.world.displays)
        if (display.uuid)
            panel->addDisplay({.uuid = *display.uuid, .hasHDRModes = !display.isBuiltIn});
    return panel;
}

} // namespace quorvane

#include "SimulatedMac/SimulatedCoreBrightness.h"

#include "SimulatedMac/CallLog.h"
#include "SimulatedMac/SimulatedMac.h"

#include <cstdint>
#include <cstring>

namespace quorvane {
namespace {

using StatusLayout = SimulatedCoreBrightness::StatusLayout;

const MethodShape getterShape{.argumentCount = 2, .returnType = "B", .argumentTypes = {"@", ":"}};
const MethodShape setterShape{
    .argumentCount = 3, .returnType = "B", .argumentTypes = {"@", ":", "B"}};

/// Writes the status structure the way the framework lays it out: three flags, the mode, the
/// schedule's two times, a 64-bit field, and in the long layout the availability flag.
void fillStatus(const SimulatedCoreBrightness::NightShift& nightShift, std::uint8_t* status)
{
    const std::size_t size = nightShift.layout == StatusLayout::longLayout ? 40 : 32;
    std::memset(status, 0, size);
    status[0] = nightShift.enabled ? 1 : 0; // active now
    status[1] = nightShift.enabled ? 1 : 0;
    status[2] = 1; // sunset-to-sunrise permitted
    const std::int32_t values[5] = {1, 22, 0, 7, 0}; // mode, then from and to as hour, minute
    std::memcpy(status + 4, values, sizeof values);
    if (nightShift.layout == StatusLayout::longLayout)
        status[32] = nightShift.availableInMode ? 1 : 0;
}

void defineTrueTone(SimulatedMac& mac, const std::shared_ptr<SimulatedCoreBrightness>& state)
{
    auto& client = mac.objects.defineClass("CBTrueToneClient");
    const auto getter
        = [&client, state](std::string selector, bool SimulatedCoreBrightness::TrueTone::*field) {
              client.define<bool(ObjectInstance)>(
                  selector, getterShape, [state, selector, field](ObjectInstance) {
                      logCall(state->calls, "CBTrueToneClient " + selector);
                      return state->trueTone.*field;
                  });
          };
    getter("supported", &SimulatedCoreBrightness::TrueTone::supported);
    getter("available", &SimulatedCoreBrightness::TrueTone::available);
    getter("enabled", &SimulatedCoreBrightness::TrueTone::enabled);
    client.define<bool(ObjectInstance, bool)>(
        "setEnabled:", setterShape, [state](ObjectInstance, bool value) {
            logCall(state->calls,
                std::string("CBTrueToneClient setEnabled: ") + (value ? "on" : "off"));
            if (!state->trueTone.acceptsChanges)
                return false;
            state->trueTone.enabled = value;
            return true;
        });
}

void defineBlueLight(SimulatedMac& mac, const std::shared_ptr<SimulatedCoreBrightness>& state)
{
    auto& client = mac.objects.defineClass("CBBlueLightClient");
    client.define<bool(ObjectInstance)>("supported", getterShape, [state](ObjectInstance) {
        logCall(state->calls, "CBBlueLightClient supported");
        return state->nightShift.supported;
    });
    client.define<bool(ObjectInstance, bool)>(
        "setEnabled:", setterShape, [state](ObjectInstance, bool value) {
            logCall(state->calls,
                std::string("CBBlueLightClient setEnabled: ") + (value ? "on" : "off"));
            if (!state->nightShift.acceptsChanges)
                return false;
            state->nightShift.enabled = value;
            return true;
        });
    const MethodShape statusShape{.argumentCount = 3,
        .returnType = "B",
        .argumentTypes = {"@", ":", blueLightStatusEncoding(state->nightShift.layout)}};
    client.define<bool(ObjectInstance, void*)>(
        "getBlueLightStatus:", statusShape, [state](ObjectInstance, void* status) {
            logCall(state->calls, "CBBlueLightClient getBlueLightStatus:");
            if (!state->nightShift.answersStatus)
                return false;
            fillStatus(state->nightShift, static_cast<std::uint8_t*>(status));
            return true;
        });
}

} // namespace

std::string blueLightStatusEncoding(StatusLayout layout)
{
    const std::string schedule = "{Schedule={Time=ii}{Time=ii}}";
    return "^{BlueLightStatus=BBBi" + schedule
        + (layout == StatusLayout::longLayout ? "QB}" : "Q}");
}

std::shared_ptr<SimulatedCoreBrightness> installCoreBrightness(
    SimulatedMac& mac, SimulatedCoreBrightness initial)
{
    auto state = std::make_shared<SimulatedCoreBrightness>(std::move(initial));
    mac.loader.image(SimulatedCoreBrightness::imagePath);
    defineTrueTone(mac, state);
    defineBlueLight(mac, state);
    return state;
}

std::shared_ptr<SimulatedCoreBrightness> installCoreBrightnessDefaults(SimulatedMac& mac)
{
    SimulatedCoreBrightness initial;
    initial.trueTone.enabled = true;
    return installCoreBrightness(mac, initial);
}

} // namespace quorvane

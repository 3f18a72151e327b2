// The model over the simulated Mac, driven by random user actions, world events and faults from
// a seed, on virtual time. After every step: no task error escaped, the settings file loads and
// holds the model's document, no display test overstays a phase, no display is busy without a
// task changing its mode, and every idle display that can be reached and has no mode switch still
// to land shows its starting mode or an approved one, or has a restore pending. After quit every
// display shows its starting mode and its baseline gamma tables.
//
//   RandomizedRun                     the seeds CI runs
//   RandomizedRun --seeds 1-5000      a range
//   RandomizedRun --seed 1234 --trace one seed, printing each step
// While it plays it prints how far it has come every ten seconds, and at the end how many seeds
// it played and how many failed; it stops after five failing seeds.
#include "ModeWatch.h"
#include "Quorvane/MapKeys.h"
#include "Quorvane/ModeKeys.h"
#include "Quorvane/WorkspaceEvents.h"
#include "QuorvaneTests/AppModelTestSupport.h"
#include "SeedTally.h"
#include "ShownModes.h"
#include "SimulatedMac/SimulatedAmbientLight.h"
#include "SimulatedMac/SimulatedCoreBrightness.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"
#include "SimulatedMac/SimulatedDisplayServices.h"
#include "SimulatedMac/SimulatedGamma.h"
#include "SimulatedMac/SimulatedModes.h"
#include "SimulatedMac/SimulatedMonitorPanel.h"
#include "SimulatedMac/SimulatedSkyLight.h"
#include "SimulatedMac/SimulatedWorkspace.h"
#include "SimulatedMac/WorldFile.h"
#include "TestSupport/TestRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

struct Options {
    std::uint64_t firstSeed = 1;
    std::uint64_t lastSeed = 120;
    bool trace = false;
};

Options s_options;

constexpr int stepsPerRun = 40;
constexpr DisplayNumber externalNumber = 2;
/// What CoreGraphics answers for a mode switch it refuses.
constexpr GraphicsStatus refusedSwitch = 1000;

/// Why a run broke, and where.
struct Finding {
    int step;
    std::string problem;
};

/// The model keeps a failed restore of the display to retry, and the display's mode status says so.
bool hasPendingRestore(const AppModel& model, const std::string& displayID)
{
    if (!model.pendingRestores->contains(displayID))
        return false;
    const auto shown = [](const std::optional<std::string>& status) {
        return status && status->ends_with("Reconnect this screen and recheck it.");
    };
    return shown(entryOf(model.controlStatus.get(), modeKey(displayID, SettingKey::hdr)))
        || shown(entryOf(model.controlStatus.get(), modeKey(displayID, SettingKey::refreshRate)))
        || shown(entryOf(model.resolutionStatus.get(), displayID));
}

/// One seed's run: the world, the model, and what the displays must show after quit.
class SeedRun {
    using Check = std::optional<std::string> (SeedRun::*)() const;

public:
    explicit SeedRun(std::uint64_t seed)
        : m_random(seed)
    {
        // The default world, keeping hold of the parts the run disturbs.
        SimulatedMac& mac = m_world.mac;
        addDefaultDisplays(mac.world);
        m_monitors = installDDCMonitorDefaults(mac);
        installDisplayServicesDefaults(mac);
        m_panel = installMonitorPanelDefaults(mac);
        installAmbientLightDefaults(mac);
        installCoreBrightnessDefaults(mac);
        installSkyLightDefaults(mac);
        installWorkspaceDefaults(mac);
        m_switching = installModeSwitching(mac);
        for (const SimulatedDisplay& display : m_world.mac.world.displays) {
            m_baselines[*display.uuid] = identityGammaTable(display.gammaCapacity);
            m_startingModes[displayIDOf(display)] = *shownMode(display, *m_panel);
        }
    }

    // A run that stopped early leaves tasks that may hold the model, and the model's end touches
    // the simulated Mac: let them end while the world still stands.
    ~SeedRun()
    {
        m_watch.reset();
        m_model.reset();
        settle(1min);
    }

    SeedRun(const SeedRun&) = delete;
    SeedRun& operator=(const SeedRun&) = delete;

    std::optional<Finding> play()
    {
        if (std::optional<std::string> problem = start())
            return Finding{0, *problem};
        for (int step = 1; step <= stepsPerRun; ++step) {
            const std::string action = takeRandomStep();
            const auto pause = std::chrono::milliseconds(pick(0, 6000));
            if (s_options.trace)
                std::printf("  step %d: %s; then %lld ms pass\n", step, action.c_str(),
                    static_cast<long long>(pause.count()));
            settle(pause);
            if (std::optional<std::string> problem = check())
                return Finding{step, action + ": " + *problem};
        }
        if (std::optional<std::string> problem = quit())
            return Finding{stepsPerRun + 1, "quit: " + *problem};
        return std::nullopt;
    }

    /// Starts the model and lets it settle; what the checks find then.
    std::optional<std::string> start()
    {
        m_model = m_world.startedModel({.simulation = false});
        m_watch.emplace(*m_model);
        settle(10s);
        return check();
    }

    /// The first thing the checks after a step find wrong.
    std::optional<std::string> check()
    {
        return firstProblem({&SeedRun::settingsFileDiffers, &SeedRun::testOverstaysAPhase,
            &SeedRun::busyDisplayWithoutTask, &SeedRun::displayInUnapprovedMode});
    }

    /// Calms the world, quits and lets the quit end; what the checks after quit find wrong.
    std::optional<std::string> quit()
    {
        calmModeSwitches();
        m_model->quit();
        settle(30s);
        return checkAfterQuit();
    }

    [[nodiscard]] ModelWorld& world() { return m_world; }
    [[nodiscard]] AppModel& model() { return *m_model; }
    [[nodiscard]] SimulatedModeSwitching& switching() { return *m_switching; }
    void settle(std::chrono::milliseconds duration) { m_world.executor.advance(duration); }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    template <typename Range> auto& pickFrom(Range& range)
    {
        return range[static_cast<std::size_t>(pick(0, static_cast<int>(std::size(range)) - 1))];
    }
    bool chance(double probability) { return std::bernoulli_distribution(probability)(m_random); }

    std::string takeRandomStep()
    {
        struct Action {
            int weight;
            std::string (SeedRun::*take)();
        };
        static constexpr std::array actions = std::to_array<Action>({
            // The user.
            {3, &SeedRun::adjustControl},
            {1, &SeedRun::switchAutomation},
            {1, &SeedRun::resumeAll},
            {1, &SeedRun::pressBrightnessKey},
            {1, &SeedRun::changeProfiles},
            {1, &SeedRun::changeContext},
            // The user and display modes.
            {2, &SeedRun::pickRefreshRate},
            {2, &SeedRun::switchHDR},
            {1, &SeedRun::pickResolution},
            {1, &SeedRun::saveProfileResolution},
            {1, &SeedRun::saveModeRule},
            {1, &SeedRun::saveModeDefaults},
            {3, &SeedRun::keep},
            {1, &SeedRun::keepTwice},
            {2, &SeedRun::revert},
            {1, &SeedRun::waitOutTheTest},
            {1, &SeedRun::recheck},
            // The world.
            {1, &SeedRun::refreshHardware},
            {1, &SeedRun::sleepAndWake},
            {1, &SeedRun::reconnectExternal},
            {1, &SeedRun::renumberExternal},
            {1, &SeedRun::failDisplayList},
            {1, &SeedRun::writeGammaElsewhere},
            // Faults.
            {1, &SeedRun::disturbMonitor},
            {2, &SeedRun::disturbModeSwitches},
        });
        static constexpr int totalWeight = [] {
            int total = 0;
            for (const Action& action : actions)
                total += action.weight;
            return total;
        }();
        // Rare: after a failed save nothing is saved or applied any more.
        if (chance(0.01))
            return blockSettingsFolder();
        int ticket = pick(1, totalWeight);
        std::size_t index = 0;
        while ((ticket -= actions[index].weight) > 0)
            ++index;
        return (this->*actions[index].take)();
    }

    /// A copy: the actions may replace the list.
    std::optional<DisplayDevice> pickDisplay()
    {
        const std::vector<DisplayDevice>& displays = m_model->displays.get();
        if (displays.empty())
            return std::nullopt;
        return pickFrom(displays);
    }

    // User actions.

    std::string adjustControl()
    {
        const std::optional<DisplayDevice> display = pickDisplay();
        if (!display)
            return "adjust: no display";
        static constexpr std::array settings{
            SettingKey::brightness, SettingKey::contrast, SettingKey::temperature};
        const SettingKey setting = pickFrom(settings);
        const SettingValue value = setting == SettingKey::temperature
            ? SettingValue::temperature(Temperature::kelvin(pick(25, 100) * 100))
            : SettingValue::percent(pick(0, 100) / 100.0);
        m_model->manual(value,
            ControlKey{.target = ControlTarget::display(display->id), .setting = setting}, false);
        return "adjust " + display->id + " " + std::string(rawValue(setting)) + " to "
            + value.label();
    }

    std::string switchAutomation()
    {
        const bool enabled = chance(0.5);
        m_model->setAutomation(enabled);
        return enabled ? "automation on" : "automation off";
    }

    std::string resumeAll()
    {
        m_model->resume(std::nullopt);
        return "resume";
    }

    std::string pressBrightnessKey()
    {
        const bool up = chance(0.5);
        (void)m_model->brightnessKeyPressed(
            up ? BrightnessKeyDirection::up : BrightnessKeyDirection::down);
        return up ? "brightness key up" : "brightness key down";
    }

    std::string changeProfiles()
    {
        const auto& profiles = m_model->configuration->profiles;
        const Profile profile = pickFrom(profiles); // a copy: the action replaces the list
        switch (pick(0, 2)) {
        case 0:
            m_model->createProfile("Profile " + std::to_string(pick(1, 99)));
            return "create a profile";
        case 1:
            m_model->activateProfile(profile.id);
            return "activate " + profile.name;
        default:
            m_model->deleteProfile(profile.id);
            return "delete " + profile.name;
        }
    }

    std::string changeContext()
    {
        m_model->contextChanged();
        return "context changed";
    }

    // The user and display modes: the popover's menus, the display-test panel, the profile page,
    // and the save buttons of the rule editor and the Default page.

    std::string pickRefreshRate()
    {
        const std::optional<DisplayDevice> display = pickDisplay();
        const std::vector<RefreshPreference> rates
            = display ? m_model->refreshRateChoices(display->id) : std::vector<RefreshPreference>{};
        if (rates.empty())
            return "refresh-rate menu: nothing offered";
        const RefreshPreference rate = pickFrom(rates);
        const bool started = m_model->previewMode(
            {.refreshRate = rate}, display->id, true, false, "Keep this combination", {});
        return "refresh-rate menu: " + rate.label() + " on " + display->id
            + (started ? "" : " (no test)");
    }

    std::string switchHDR()
    {
        const std::optional<DisplayDevice> display = pickDisplay();
        if (!display || !m_model->hdrCapability(display->id))
            return "HDR switch: not offered";
        const bool isOn = chance(0.5);
        const bool started = m_model->previewMode(
            {.hdr = isOn}, display->id, true, false, "Keep this combination", {});
        return std::string("HDR switch ") + (isOn ? "on" : "off") + " on " + display->id
            + (started ? "" : " (no test)");
    }

    std::string pickResolution()
    {
        const std::optional<DisplayDevice> display = pickDisplay();
        const std::vector<DisplayResolution> choices
            = display ? m_model->resolutionChoices(display->id) : std::vector<DisplayResolution>{};
        if (choices.empty())
            return "resolution menu: nothing offered";
        const DisplayResolution resolution = pickFrom(choices);
        m_model->requestResolutionSave(
            resolution, display->id, m_model->configuration->activeProfileID);
        return "resolution menu: " + resolution.label() + " on " + display->id;
    }

    std::string saveProfileResolution()
    {
        const std::optional<DisplayDevice> display = pickDisplay();
        if (!display)
            return "profile resolution: no display";
        const Profile profile = pickFrom(m_model->configuration->profiles);
        const std::vector<DisplayResolution> choices = m_model->resolutionChoices(display->id);
        std::optional<DisplayResolution> resolution;
        if (!choices.empty() && chance(0.75))
            resolution = pickFrom(choices);
        m_model->requestResolutionSave(resolution, display->id, profile.id);
        return "profile " + profile.name + ": resolution "
            + (resolution ? resolution->label() : "removed") + " on " + display->id;
    }

    std::optional<RefreshPreference> randomRate()
    {
        static const std::array<std::optional<RefreshPreference>, 3> rates{
            std::nullopt, RefreshPreference::fixed(50'000), RefreshPreference::fixed(60'000)};
        return pickFrom(rates);
    }

    std::optional<bool> randomHDR()
    {
        static constexpr std::array<std::optional<bool>, 3> values{std::nullopt, false, true};
        return pickFrom(values);
    }

    /// A new rule, or a profile's rule changed, setting a refresh rate or HDR, perhaps on one
    /// screen.
    std::string saveModeRule()
    {
        std::vector<Profile> profiles;
        std::ranges::copy_if(m_model->configuration->profiles, std::back_inserter(profiles),
            [&](const Profile& profile) {
                return profile.id != m_model->configuration->defaultProfileID;
            });
        if (profiles.empty())
            return "save rule: no profile but Default";
        const Profile& profile = pickFrom(profiles);
        Rule rule = !profile.rules.empty() && chance(0.5)
            ? pickFrom(profile.rules)
            : Rule{.id = UUID::random(), .name = "Modes"};
        rule.settings.refreshRate = randomRate();
        rule.settings.hdr = randomHDR();
        rule.conditions.screen = std::nullopt;
        if (const std::optional<DisplayDevice> display = pickDisplay(); display && chance(0.5))
            rule.conditions.screen = DisplayReference{.id = display->id, .name = display->name};
        m_model->requestRuleSave(rule, profile.id, false, {});
        return "save rule " + rule.name + " in " + profile.name + ": rate "
            + (rule.settings.refreshRate ? rule.settings.refreshRate->label() : "none") + ", HDR "
            + (rule.settings.hdr ? (*rule.settings.hdr ? "on" : "off") : "none")
            + (rule.conditions.screen ? " on " + rule.conditions.screen->id : "");
    }

    std::string saveModeDefaults()
    {
        const std::optional<DisplayDevice> display = pickDisplay();
        if (!display)
            return "save Default settings: no display";
        const bool isHDR = chance(0.5);
        const ControlKey key{.target = ControlTarget::display(display->id),
            .setting = isHDR ? SettingKey::hdr : SettingKey::refreshRate};
        const std::optional<SettingValue> value = randomModeValue(key.setting);
        DefaultSettingsDraft draft{.settings = m_model->configuration->defaultSettings()};
        draft.settings.setValue(value, key);
        draft.editedKeys.insert(key);
        m_model->requestDefaultSave(draft, {});
        return "save Default " + std::string(rawValue(key.setting)) + " "
            + (value ? value->label() : "nothing") + " on " + display->id;
    }

    /// An HDR or refresh-rate value for the setting, or none.
    std::optional<SettingValue> randomModeValue(SettingKey setting)
    {
        if (setting == SettingKey::hdr) {
            const std::optional<bool> hdr = randomHDR();
            return hdr ? std::optional(SettingValue::toggle(*hdr)) : std::nullopt;
        }
        const std::optional<RefreshPreference> rate = randomRate();
        return rate ? std::optional(SettingValue::refresh(*rate)) : std::nullopt;
    }

    std::string keep()
    {
        if (!m_model->preview.get())
            return "Keep: no display test";
        m_model->keepPreview();
        return "Keep";
    }

    std::string keepTwice()
    {
        if (!m_model->preview.get())
            return "Keep twice: no display test";
        m_model->keepPreview();
        const auto pause = std::chrono::milliseconds(pick(0, 1500));
        settle(pause);
        m_model->keepPreview();
        return "Keep, and Keep again after " + std::to_string(pause.count()) + " ms";
    }

    std::string revert()
    {
        if (!m_model->preview.get())
            return "Revert: no display test";
        m_model->cancelPreview();
        return "Revert";
    }

    std::string waitOutTheTest()
    {
        if (!m_model->preview.get())
            return "wait: no display test";
        settle(16s);
        return "the display test is left to expire";
    }

    std::string recheck()
    {
        m_model->recheckHardware();
        return "Recheck";
    }

    // World events, each followed by the notification the system would post.

    std::string refreshHardware()
    {
        m_model->events().changed(true);
        return "screen parameters changed";
    }

    std::string sleepAndWake()
    {
        const bool asleep = chance(0.5);
        for (const SimulatedDisplay& display : m_world.mac.world.displays) {
            if (asleep)
                m_world.mac.world.sleep(display.number);
            else
                m_world.mac.world.wake(display.number);
        }
        if (asleep)
            m_model->events().suspended();
        else
            m_model->events().changed(true);
        return asleep ? "displays sleep" : "displays wake";
    }

    std::string reconnectExternal()
    {
        SimulatedWorld& world = m_world.mac.world;
        const auto external = std::ranges::find_if(
            world.displays, [](const SimulatedDisplay& display) { return !display.isBuiltIn; });
        if (external != world.displays.end()) {
            m_unpluggedModeID = external->currentModeID;
            world.unplug(external->number);
            m_model->events().changed(true);
            return "external display unplugged";
        }
        // Plugged in again it shows its own tables, whatever we left on it before, and the mode
        // it showed last: macOS keeps a display's mode.
        SimulatedMac fresh(m_world.executor);
        installDefaultWorld(fresh);
        SimulatedDisplay display = *fresh.world.display(externalNumber);
        display.number = static_cast<DisplayNumber>(pick(2, 9));
        display.currentModeID = m_unpluggedModeID;
        if (display.screen)
            display.screen->deviceDescription["NSScreenNumber"]
                = PlatformValue::integer(display.number);
        m_baselines[*display.uuid] = identityGammaTable(display.gammaCapacity);
        world.displays.push_back(std::move(display));
        m_model->events().changed(true);
        return "external display plugged in";
    }

    std::string renumberExternal()
    {
        SimulatedWorld& world = m_world.mac.world;
        const auto external = std::ranges::find_if(
            world.displays, [](const SimulatedDisplay& display) { return !display.isBuiltIn; });
        if (external == world.displays.end())
            return "renumber: no external display";
        const DisplayNumber to = external->number == 2 ? 7 : 2;
        world.renumber(external->number, to);
        m_model->events().changed(true);
        return "external display renumbered to " + std::to_string(to);
    }

    std::string failDisplayList()
    {
        SimulatedWorld& world = m_world.mac.world;
        if (chance(0.5))
            world.graphicsFaults.listCallStatus = 1001;
        else
            world.graphicsFaults.displaysLostBetweenCalls = 1;
        m_model->events().changed(true);
        settle(5s);
        world.graphicsFaults.listCallStatus = 0;
        world.graphicsFaults.displaysLostBetweenCalls = 0;
        m_model->events().changed(true);
        return "display list failed for one refresh";
    }

    std::string writeGammaElsewhere()
    {
        std::vector<SimulatedDisplay>& displays = m_world.mac.world.displays;
        SimulatedDisplay& display = pickFrom(displays);
        GammaTable table = identityGammaTable(display.gammaCapacity);
        const float gain = pick(50, 95) / 100.0F;
        for (float& entry : table.blue)
            entry *= gain;
        writeGammaFromAnotherProgram(m_world.mac.world, *display.uuid, table);
        m_baselines[*display.uuid] = table;
        return "another program writes gamma to display " + std::to_string(display.number);
    }

    // Faults.

    std::string disturbMonitor()
    {
        SimulatedDDCMonitor* monitor = nullptr;
        for (const auto& [uuid, baseline] : m_baselines)
            monitor = monitor ? monitor : m_monitors->monitor(uuid);
        if (!monitor)
            return "disturb: no monitor";
        DDCMonitorFaults& faults = monitor->faults;
        switch (pick(0, 3)) {
        case 0:
            faults.nackedReads = pick(1, 6);
            return "the monitor refuses the next reads";
        case 1:
            faults.nackedWrites = pick(1, 6);
            return "the monitor refuses the next writes";
        case 2: {
            static constexpr std::array defects{DDCReplyDefect::badChecksum,
                DDCReplyDefect::errorResult, DDCReplyDefect::wrongCode, DDCReplyDefect::shortReply};
            for (int count = pick(1, 4); count > 0; --count)
                faults.replyDefects.push_back(pickFrom(defects));
            return "the monitor's next replies are damaged";
        }
        default:
            faults.isDDCEnabled = !faults.isDDCEnabled;
            return faults.isDDCEnabled ? "DDC/CI switched on" : "DDC/CI switched off";
        }
    }

    /// Soon, for a moment: mode switches refused, landing on another mode or taking effect late,
    /// HDR switches refused while another client holds the display manager, or the external
    /// display unplugged or plugged in; so a fault can meet a display test in any phase.
    std::string disturbModeSwitches()
    {
        const auto start = std::chrono::milliseconds(pick(0, 2500));
        const auto length = std::chrono::milliseconds(pick(500, 4000));
        const std::string when = " from " + std::to_string(start.count()) + " ms for "
            + std::to_string(length.count()) + " ms";
        switch (pick(0, 4)) {
        case 0:
            during(
                start, length, [this](bool on) { m_switching->status = on ? refusedSwitch : 0; });
            return "mode switches refused" + when;
        case 1:
            during(start, length, [this](bool on) {
                m_switching->landsOn
                    = on ? misdirections() : std::map<std::int32_t, std::int32_t>{};
            });
            return "mode switches land on another mode" + when;
        case 2:
            during(start, length, [this](bool on) { m_panel->isLockedByAnotherClient = on; });
            return "HDR switches refused" + when;
        case 3: {
            // Later than the backend's settle pause after a switch.
            static constexpr std::array delays{600ms, 1000ms, 3000ms};
            const std::chrono::milliseconds delay = pickFrom(delays);
            during(
                start, length, [this, delay](bool on) { m_switching->delay = on ? delay : 0ms; });
            return "mode switches take effect " + std::to_string(delay.count()) + " ms late" + when;
        }
        default:
            m_world.mac.world.schedule(start, [this](SimulatedWorld&) {
                if (!m_isCalm)
                    (void)reconnectExternal();
            });
            return "the external display is unplugged or plugged in after "
                + std::to_string(start.count()) + " ms";
        }
    }

    /// Turns a fault on after `start` and off again `length` later; not on once the world calmed.
    void during(std::chrono::milliseconds start, std::chrono::milliseconds length,
        std::function<void(bool)> turn)
    {
        m_world.mac.world.schedule(start, [this, turn](SimulatedWorld&) {
            if (!m_isCalm)
                turn(true);
        });
        m_world.mac.world.schedule(start + length, [turn](SimulatedWorld&) { turn(false); });
    }

    /// Every mode of a display lands on the display's next one.
    std::map<std::int32_t, std::int32_t> misdirections() const
    {
        std::map<std::int32_t, std::int32_t> landsOn;
        for (const SimulatedDisplay& display : m_world.mac.world.displays) {
            const std::vector<GraphicsDisplayMode>& modes = display.modes;
            for (std::size_t index = 0; index < modes.size(); ++index)
                landsOn[modes[index].ioDisplayModeID]
                    = modes[(index + 1) % modes.size()].ioDisplayModeID;
        }
        return landsOn;
    }

    /// Quitting puts the displays back only where the system lets it switch modes.
    void calmModeSwitches()
    {
        m_isCalm = true;
        m_switching->status = 0;
        m_switching->landsOn.clear();
        m_panel->isLockedByAnotherClient = false;
    }

    /// A file where the settings folder should be makes the saves of one step fail.
    std::string blockSettingsFolder()
    {
        const std::filesystem::path folder = m_model->settingsURL.parent_path();
        const std::filesystem::path away = folder.string() + ".away";
        std::filesystem::rename(folder, away);
        writeFile(folder, "");
        m_model->setAutomation(!m_model->configuration->automationEnabled);
        settle(1s);
        std::filesystem::remove(folder);
        std::filesystem::rename(away, folder);
        return "settings folder blocked for a save";
    }

    // Checks.

    std::optional<std::string> checkAfterQuit()
    {
        return firstProblem({&SeedRun::quitUnfinished, &SeedRun::settingsFileUnreadable,
            &SeedRun::displayWithoutBaselineGamma, &SeedRun::displayNotInStartingMode});
    }

    /// An escaped task error, else the first problem of `checks`.
    std::optional<std::string> firstProblem(std::initializer_list<Check> checks)
    {
        if (std::optional<std::string> problem = escapedErrors())
            return problem;
        for (const Check check : checks) {
            if (std::optional<std::string> problem = (this->*check)())
                return problem;
        }
        return std::nullopt;
    }

    std::optional<std::string> escapedErrors()
    {
        const std::vector<std::string> errors = m_world.executor.takeEscapedErrors();
        if (errors.empty())
            return std::nullopt;
        return "a task error escaped: " + errors.front();
    }

    /// Reads the settings file into `saved`; why it does not load, when it does not.
    std::optional<std::string> readSettingsFile(Configuration& saved) const
    {
        try {
            saved = configurationIn(m_model->settingsURL);
        } catch (const Error& error) {
            return std::string("the settings file does not load: ") + error.what();
        }
        return std::nullopt;
    }

    std::optional<std::string> settingsFileUnreadable() const
    {
        Configuration saved;
        return readSettingsFile(saved);
    }

    std::optional<std::string> settingsFileDiffers() const
    {
        Configuration saved;
        if (std::optional<std::string> problem = readSettingsFile(saved))
            return problem;
        const bool isSaving = m_model->saveTask.get() && !m_model->saveTask.get()->isFinished();
        if (!m_model->settingsError.get() && !isSaving && saved != m_model->configuration.get())
            return "the settings file differs from the model's document";
        return std::nullopt;
    }

    std::optional<std::string> testOverstaysAPhase() const { return m_watch->overstayedPhase(); }

    std::optional<std::string> busyDisplayWithoutTask() const
    {
        for (const std::string& displayID : m_model->modeBusy.get()) {
            if (!isTestRunningOn(displayID) && !isModeTaskRunningOn(displayID)
                && !isRestoreRunningOn(displayID))
                return "display " + displayID + " is busy without a task changing its mode";
        }
        return std::nullopt;
    }

    /// A test that is not waiting for the user has a task at work; one that waits, its expiry.
    bool isTestRunningOn(const std::string& displayID) const
    {
        const std::optional<DisplayPreview>& preview = m_model->preview.get();
        if (!preview || preview->displayID != displayID)
            return false;
        const std::optional<TaskHandle>& task = preview->phase == DisplayPreview::Phase::confirming
            ? m_model->previewTimer.get()
            : m_model->previewTask.get();
        return task && !task->isFinished();
    }

    bool isModeTaskRunningOn(const std::string& displayID) const
    {
        return isRunningIn(m_model->modeTasks.get(), displayID);
    }

    /// A failed restore tried again.
    bool isRestoreRunningOn(const std::string& displayID) const
    {
        return isRunningIn(m_model->restoreTasks.get(), displayID);
    }

    static bool isRunningIn(
        const std::map<std::string, TaskHandle>& tasks, const std::string& displayID)
    {
        const auto task = tasks.find(displayID);
        return task != tasks.end() && !task->second.isFinished();
    }

    std::optional<std::string> displayInUnapprovedMode() const
    {
        for (const SimulatedDisplay& display : m_world.mac.world.displays) {
            const std::string displayID = displayIDOf(display);
            if (!isReachable(display) || !isIdle(displayID) || isSwitching(display)
                || hasPendingRestore(*m_model, displayID))
                continue;
            const std::optional<ModeConfiguration> shown = shownMode(display, *m_panel);
            if (!shown || *shown == m_startingModes.at(displayID) || isApproved(*shown, displayID))
                continue;
            const std::optional<std::string> failure = m_watch->failedRestore(displayID);
            return "display " + std::to_string(display.number) + " shows " + describe(*shown)
                + ", neither its starting mode nor an approved one, with no restore pending"
                + (failure ? " (a restore failed before: \"" + *failure + "\")" : "");
        }
        return std::nullopt;
    }

    /// Plugged in and awake: the system switches its modes.
    static bool isReachable(const SimulatedDisplay& display)
    {
        return display.isOnline && !display.isAsleep;
    }

    /// A mode switch asked for has yet to take effect: where the display ends is not known yet.
    bool isSwitching(const SimulatedDisplay& display) const
    {
        return m_switching->isSwitching(display.uuid.value_or(""), m_world.executor.now());
    }

    /// Neither a display test nor an automatic change is at work on the display.
    bool isIdle(const std::string& displayID) const
    {
        const std::optional<DisplayPreview>& preview = m_model->preview.get();
        return !m_model->modeBusy->contains(displayID)
            && !(preview && preview->displayID == displayID);
    }

    /// Verified for the display (kept in a test, or its mode when first seen) on any connection:
    /// whether anybody approved what it shows, not whether automation may apply it now.
    bool isApproved(const ModeConfiguration& mode, const std::string& displayID) const
    {
        return std::ranges::any_of(
            m_model->configuration->verifiedModes, [&](const VerifiedModeConfiguration& verified) {
                return verified.displayID == displayID && verified.mode == mode;
            });
    }

    std::optional<std::string> quitUnfinished() const
    {
        if (!m_model->terminationPrepared.get())
            return "the quit never finished";
        return std::nullopt;
    }

    std::optional<std::string> displayWithoutBaselineGamma() const
    {
        for (const SimulatedDisplay& display : m_world.mac.world.displays) {
            const GammaTable shown = display.gamma.red.empty()
                ? identityGammaTable(display.gammaCapacity)
                : display.gamma;
            if (shown != m_baselines.at(*display.uuid))
                return "display " + std::to_string(display.number)
                    + " does not show its baseline gamma tables";
        }
        return std::nullopt;
    }

    /// A display asleep at quit takes no mode switch; it keeps what it shows.
    std::optional<std::string> displayNotInStartingMode() const
    {
        for (const SimulatedDisplay& display : m_world.mac.world.displays) {
            const std::optional<ModeConfiguration> shown = shownMode(display, *m_panel);
            const ModeConfiguration& starting = m_startingModes.at(displayIDOf(display));
            if (isReachable(display) && shown != starting)
                return "display " + std::to_string(display.number) + " shows "
                    + (shown ? describe(*shown) : "no mode") + ", not its starting mode "
                    + describe(starting);
        }
        return std::nullopt;
    }

    std::mt19937_64 m_random;
    ModelWorld m_world;
    std::shared_ptr<AppModel> m_model;
    std::optional<ModeWatch> m_watch;
    std::shared_ptr<SimulatedDDCMonitors> m_monitors;
    std::shared_ptr<SimulatedMonitorPanel> m_panel;
    std::shared_ptr<SimulatedModeSwitching> m_switching;
    /// By display UUID: the tables found on it, or those another program wrote last.
    std::map<std::string, GammaTable> m_baselines;
    /// By display identifier: the mode each display showed when the run began.
    std::map<std::string, ModeConfiguration> m_startingModes;
    /// The mode the external display showed when it was unplugged last.
    std::optional<std::int32_t> m_unpluggedModeID;
    /// Set before quit: faults due later no longer come.
    bool m_isCalm = false;
};

const std::string externalUUID = "9C4E2F61-5B3A-4D7E-8F10-2A6B7C8D9E0F";
const std::string externalID = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f";
const std::string builtInID = "37d8832a-2d66-02ca-b9f7-8f30a301b230";
/// The external display's 50 Hz mode.
constexpr std::int32_t externalAt50 = 21;

void approve(SeedRun& run, const std::string& displayID, const ModeConfiguration& mode)
{
    run.model().configuration.modify([&](Configuration& document) {
        document.verifiedModes.push_back(
            {.displayID = displayID, .environment = "display-mode-v2|test", .mode = mode});
    });
    run.model().persist();
    run.settle(1s);
}

TEST(RunChecksTest, ADisplayInAModeNobodyApprovedIsFoundWhenIdleAndReachable)
{
    SeedRun run(1);
    ASSERT_EQ(run.start(), std::nullopt);
    SimulatedWorld& world = run.world().mac.world;
    changeModeByUser(world, externalUUID, externalAt50);
    const ModeConfiguration at50{.refreshRate = RefreshPreference::fixed(50'000),
        .hdr = false,
        .resolution = DisplayResolution{
            .width = 2560, .height = 1440, .pixelWidth = 2560, .pixelHeight = 1440}};
    const std::string unapproved = "display 2 shows 2560 × 1440 · 50 Hz · HDR off, neither its "
                                   "starting mode nor an approved one, with no restore pending";
    EXPECT_EQ(run.check(), unapproved);

    world.sleep(externalNumber);
    EXPECT_EQ(run.check(), std::nullopt);
    world.wake(externalNumber);
    run.model().modeBusy.set({externalID});
    EXPECT_NE(run.check(), unapproved);
    run.model().modeBusy.set({});

    approve(run, builtInID, at50);
    EXPECT_EQ(run.check(), unapproved);
    approve(run, externalID, at50);
    EXPECT_EQ(run.check(), std::nullopt);
}

TEST(RunChecksTest, ADisplayIsJudgedOnlyOnceItsSwitchHasLanded)
{
    SeedRun run(1);
    ASSERT_EQ(run.start(), std::nullopt);
    const SimulatedDisplay& external = *run.world().mac.world.display(externalNumber);
    const auto ask = [&](std::size_t modeIndex) {
        ASSERT_EQ(run.world().mac.platform().graphics.setDisplayMode(
                      externalNumber, external.modes.at(modeIndex)),
            0);
    };
    run.switching().delay = 1s;
    ask(1); // 50 Hz
    run.settle(1s);
    EXPECT_NE(run.check(), std::nullopt);
    ask(0); // back to 60 Hz, on its way
    run.settle(999ms);
    EXPECT_EQ(run.check(), std::nullopt);
    run.settle(1ms);
    EXPECT_EQ(run.check(), std::nullopt);
}

TEST(RunChecksTest, ABusyDisplayNeedsATaskOfItsOwn)
{
    SeedRun run(1);
    ASSERT_EQ(run.start(), std::nullopt);
    ASSERT_TRUE(run.model().previewMode({.refreshRate = RefreshPreference::fixed(60'000)},
        builtInID, true, false, "Keep this combination", {}));
    run.settle(1s);
    EXPECT_EQ(run.check(), std::nullopt);
    run.model().modeBusy.modify([](auto& busy) { busy.insert(externalID); });
    EXPECT_EQ(run.check(), "display " + externalID + " is busy without a task changing its mode");
}

TEST(RunChecksTest, AQuitThatLeavesAnAwakeDisplayInAnotherModeIsFound)
{
    for (const bool asleep : {false, true}) {
        SCOPED_TRACE(asleep ? "asleep" : "awake");
        SeedRun run(1);
        ASSERT_EQ(run.start(), std::nullopt);
        // Not a mode the application set: quitting leaves it.
        changeModeByUser(run.world().mac.world, externalUUID, externalAt50);
        if (asleep)
            run.world().mac.world.sleep(externalNumber);
        EXPECT_EQ(run.quit(),
            asleep ? std::nullopt
                   : std::optional<std::string>("display 2 shows 2560 × 1440 · 50 Hz · HDR off, "
                                                "not its starting mode 2560 × 1440 · 60 Hz · HDR "
                                                "off"));
    }
}

std::optional<Finding> playSeed(std::uint64_t seed)
{
    try {
        return SeedRun(seed).play();
    } catch (const std::exception& error) {
        return Finding{-1, std::string("threw: ") + error.what()};
    }
}

TEST(RandomizedRunTest, EverySeedKeepsTheSettingsAndLeavesTheDisplaysAsFound)
{
    if (s_options.firstSeed > s_options.lastSeed)
        GTEST_SKIP() << "No seed to run: the range is empty.";
    // On standard error, after whatever Google Test and the trace left on standard output.
    const auto say = [](const std::string& line) {
        std::fflush(stdout);
        std::fprintf(stderr, "RandomizedRun: %s\n", line.c_str());
    };
    SeedTally tally{.firstSeed = s_options.firstSeed, .lastSeed = s_options.lastSeed};
    ProgressPace pace(std::chrono::steady_clock::now(), 10s);
    for (std::uint64_t seed = s_options.firstSeed; seed <= s_options.lastSeed && !tally.isStopped();
         ++seed) {
        if (s_options.trace)
            std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
        const std::optional<Finding> finding = playSeed(seed);
        ++tally.played;
        if (finding) {
            ++tally.failed;
            ADD_FAILURE() << "seed " << seed << ", step " << finding->step << ": "
                          << finding->problem << "\n  reproduce: RandomizedRun --seed " << seed
                          << " --trace";
        }
        if (pace.isDue(std::chrono::steady_clock::now()))
            say(tally.progress());
    }
    say(tally.summary());
}

std::optional<std::uint64_t> numberFrom(std::string_view text)
{
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return number;
}

/// False, after saying why, for arguments it does not know.
bool readOptions(int argc, char** argv)
{
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        const std::string_view value = index + 1 < argc ? argv[index + 1] : "";
        if (argument == "--trace") {
            s_options.trace = true;
            continue;
        }
        if (argument == "--seed" && numberFrom(value)) {
            s_options.firstSeed = s_options.lastSeed = *numberFrom(value);
            ++index;
            continue;
        }
        const std::size_t dash = value.find('-');
        if (argument == "--seeds" && dash != std::string_view::npos
            && numberFrom(value.substr(0, dash)) && numberFrom(value.substr(dash + 1))) {
            s_options.firstSeed = *numberFrom(value.substr(0, dash));
            s_options.lastSeed = *numberFrom(value.substr(dash + 1));
            ++index;
            continue;
        }
        std::fprintf(stderr, "usage: %s [--seed N | --seeds FIRST-LAST] [--trace]\n", argv[0]);
        return false;
    }
    return true;
}

} // namespace
} // namespace quorvane

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!quorvane::readOptions(argc, argv))
        return 2;
    return quorvane::runAllTests();
}

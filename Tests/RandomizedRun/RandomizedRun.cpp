// The model over the simulated Mac, driven by random user actions, world events and faults from
// a seed, on virtual time. After every step: no task error escaped, the settings file loads and
// holds the model's document; after quit every display's gamma tables are back at their baseline.
//
//   RandomizedRun                     the seeds CI runs
//   RandomizedRun --seeds 1-5000      a range
//   RandomizedRun --seed 1234 --trace one seed, printing each step
#include "Quorvane/WorkspaceEvents.h"
#include "QuorvaneTests/AppModelTestSupport.h"
#include "SimulatedMac/SimulatedAmbientLight.h"
#include "SimulatedMac/SimulatedCoreBrightness.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"
#include "SimulatedMac/SimulatedDisplayServices.h"
#include "SimulatedMac/SimulatedGamma.h"
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
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

struct Options {
    std::uint64_t firstSeed = 1;
    std::uint64_t lastSeed = 200;
    bool trace = false;
};

Options s_options;

constexpr int stepsPerRun = 40;
constexpr DisplayNumber externalNumber = 2;

/// Why a run broke, and where.
struct Finding {
    int step;
    std::string problem;
};

/// One seed's run: the world, the model, and what the displays must show after quit.
class Run {
public:
    explicit Run(std::uint64_t seed)
        : m_random(seed)
    {
        // The default world, keeping hold of the DDC/CI monitors to disturb them.
        SimulatedMac& mac = m_world.mac;
        addDefaultDisplays(mac.world);
        m_monitors = installDDCMonitorDefaults(mac);
        installDisplayServicesDefaults(mac);
        installMonitorPanelDefaults(mac);
        installAmbientLightDefaults(mac);
        installCoreBrightnessDefaults(mac);
        installSkyLightDefaults(mac);
        installWorkspaceDefaults(mac);
        for (const SimulatedDisplay& display : m_world.mac.world.displays)
            m_baselines[*display.uuid] = identityGammaTable(display.gammaCapacity);
    }

    std::optional<Finding> play()
    {
        m_model = m_world.startedModel({.simulation = false});
        settle(10s);
        if (std::optional<std::string> problem = check())
            return Finding{0, *problem};
        for (int step = 1; step <= stepsPerRun; ++step) {
            const std::string action = takeRandomStep();
            if (s_options.trace)
                std::printf("  step %d: %s\n", step, action.c_str());
            settle(std::chrono::milliseconds(pick(0, 6000)));
            if (std::optional<std::string> problem = check())
                return Finding{step, action + ": " + *problem};
        }
        m_model->quit();
        settle(30s);
        if (std::optional<std::string> problem = checkAfterQuit())
            return Finding{stepsPerRun + 1, "quit: " + *problem};
        return std::nullopt;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    template <typename Range> auto& pickFrom(Range& range)
    {
        return range[static_cast<std::size_t>(pick(0, static_cast<int>(std::size(range)) - 1))];
    }
    bool chance(double probability) { return std::bernoulli_distribution(probability)(m_random); }

    void settle(std::chrono::milliseconds duration) { m_world.executor.advance(duration); }

    std::string takeRandomStep()
    {
        using Step = std::string (Run::*)();
        static constexpr std::array<Step, 15> steps = {&Run::adjustControl, &Run::adjustControl,
            &Run::adjustControl, &Run::switchAutomation, &Run::resumeAll, &Run::pressBrightnessKey,
            &Run::changeProfiles, &Run::changeContext, &Run::refreshHardware, &Run::sleepAndWake,
            &Run::reconnectExternal, &Run::renumberExternal, &Run::failDisplayList,
            &Run::writeGammaElsewhere, &Run::disturbMonitor};
        // Rare: after a failed save nothing is saved or applied any more.
        if (chance(0.01))
            return blockSettingsFolder();
        return (this->*pickFrom(steps))();
    }

    // User actions.

    std::string adjustControl()
    {
        const std::vector<DisplayDevice>& displays = m_model->displays.get();
        if (displays.empty())
            return "adjust: no display";
        const DisplayDevice display = pickFrom(displays);
        static constexpr std::array settings{
            SettingKey::brightness, SettingKey::contrast, SettingKey::temperature};
        const SettingKey setting = pickFrom(settings);
        const SettingValue value = setting == SettingKey::temperature
            ? SettingValue::temperature(Temperature::kelvin(pick(25, 100) * 100))
            : SettingValue::percent(pick(0, 100) / 100.0);
        m_model->manual(value,
            ControlKey{.target = ControlTarget::display(display.id), .setting = setting}, false);
        return "adjust " + display.id + " " + std::string(rawValue(setting)) + " to "
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
        const std::vector<Profile>& profiles = m_model->configuration->profiles;
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
            world.unplug(external->number);
            m_model->events().changed(true);
            return "external display unplugged";
        }
        // Plugged in again it shows its own tables, whatever we left on it before.
        SimulatedMac fresh(m_world.executor);
        installDefaultWorld(fresh);
        SimulatedDisplay display = *fresh.world.display(externalNumber);
        display.number = static_cast<DisplayNumber>(pick(2, 9));
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

    std::optional<std::string> escapedErrors()
    {
        const std::vector<std::string> errors = m_world.executor.takeEscapedErrors();
        if (errors.empty())
            return std::nullopt;
        return "a task error escaped: " + errors.front();
    }

    std::optional<std::string> check()
    {
        if (std::optional<std::string> problem = escapedErrors())
            return problem;
        Configuration saved;
        try {
            saved = configurationIn(m_model->settingsURL);
        } catch (const Error& error) {
            return std::string("the settings file does not load: ") + error.what();
        }
        const bool isSaving = m_model->saveTask.get() && !m_model->saveTask.get()->isFinished();
        if (!m_model->settingsError.get() && !isSaving && saved != m_model->configuration.get())
            return "the settings file differs from the model's document";
        return std::nullopt;
    }

    std::optional<std::string> checkAfterQuit()
    {
        if (std::optional<std::string> problem = escapedErrors())
            return problem;
        if (!m_model->terminationPrepared.get())
            return "the quit never finished";
        try {
            (void)configurationIn(m_model->settingsURL);
        } catch (const Error& error) {
            return std::string("the settings file does not load: ") + error.what();
        }
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

    std::mt19937_64 m_random;
    ModelWorld m_world;
    std::shared_ptr<AppModel> m_model;
    std::shared_ptr<SimulatedDDCMonitors> m_monitors;
    /// By display UUID: the tables found on it, or those another program wrote last.
    std::map<std::string, GammaTable> m_baselines;
};

std::optional<Finding> playSeed(std::uint64_t seed)
{
    try {
        return Run(seed).play();
    } catch (const std::exception& error) {
        return Finding{-1, std::string("threw: ") + error.what()};
    }
}

TEST(RandomizedRunTest, EverySeedKeepsTheSettingsAndLeavesTheDisplaysAsFound)
{
    if (s_options.firstSeed > s_options.lastSeed)
        GTEST_SKIP() << "No seed to run: the range is empty.";
    int failures = 0;
    for (std::uint64_t seed = s_options.firstSeed; seed <= s_options.lastSeed; ++seed) {
        if (s_options.trace)
            std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
        const std::optional<Finding> finding = playSeed(seed);
        if (!finding)
            continue;
        ADD_FAILURE() << "seed " << seed << ", step " << finding->step << ": " << finding->problem
                      << "\n  reproduce: RandomizedRun --seed " << seed << " --trace";
        if (++failures == 5)
            return;
    }
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

// The real main window, offscreen, over the model loaded from a settings file whose one profile
// holds 10 to 10,000 rules: the processor time of opening the window on that profile's page, of
// showing the page again, and of moving, toggling, editing and deleting one rule in the middle of
// the table until the window shows it. Each time stands beside the same figure for 10 rules
// measured in the same iteration ("x10Rules"). The same work on a model with no window gives the
// model's own share; "viewX10Rules" compares what the window adds. The open page's heap (every
// malloc, Qt's own included) is compared with the 10-rule page's ("pageMBOver10").

#include "ModelOnSimulatedMac.h"
#include "ProcessorTime.h"
#include "SettingsDocuments.h"

#include "Quorvane/Views/MainWindow.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <functional>
#include <malloc.h>
#include <memory>

using namespace quorvane;
using namespace quorvane::bench;

namespace {

/// Every byte malloc hands out now, operator new's and Qt's alike.
double mallocBytes()
{
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

/// The model started over a settings file of one profile of `ruleCount` rules, with that profile
/// selected; the window only when asked for.
class World final {
public:
    World(int ruleCount, bool hasWindow)
        : m_world(activeProfileWith(ruleCount))
        , m_hasWindow(hasWindow)
    {
        m_world.start();
        model().selectProfile(profile().id);
        turn();
    }
    ~World()
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    World(const World&) = delete;
    World& operator=(const World&) = delete;

    /// Opens the window, when this world has one, and lets it draw.
    void open()
    {
        if (!m_hasWindow)
            return;
        m_window = std::make_unique<MainWindow>(model(), m_world.shell);
        m_window->show();
        turn();
    }

    /// Lets the model and the window catch up: the executor's work, Qt's events, a redraw.
    void turn()
    {
        m_world.executor.runUntilIdle();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (m_window)
            m_window->repaint();
    }

    [[nodiscard]] AppModel& model() const { return *m_world.model; }
    [[nodiscard]] const Profile& profile() const { return model().configuration->profiles.back(); }
    /// The rule in the middle of the profile.
    [[nodiscard]] const Rule& middleRule() const
    {
        return profile().rules.at(profile().rules.size() / 2);
    }

private:
    ModelOnSimulatedMac m_world;
    bool m_hasWindow;
    std::unique_ptr<MainWindow> m_window;
};

/// Opening the window on the page, from nothing: its time, and the heap the open window holds
/// beyond the 10-rule window's.
void openPage(benchmark::State& state)
{
    const int rules = static_cast<int>(state.range(0));
    double seconds = 0;
    double baseline = 0;
    double extraBytes = 0;
    for (auto _ : state) {
        World world(rules, true);
        World small(10, true);
        const double before = mallocBytes();
        const double iteration = secondsOf([&] { world.open(); });
        const double opened = mallocBytes() - before;
        const double smallBefore = mallocBytes();
        baseline += secondsOf([&] { small.open(); });
        extraBytes = opened - (mallocBytes() - smallBefore);
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    state.counters["x10Rules"] = seconds / baseline;
    state.counters["pageMBOver10"] = extraBytes / 1e6;
}

/// Showing the page again: the Default page, then back to the rules' profile.
void reopenPage(benchmark::State& state)
{
    World world(static_cast<int>(state.range(0)), true);
    World small(10, true);
    world.open();
    small.open();
    const auto reopen = [](World& shown) {
        shown.model().selectProfile(shown.model().configuration->defaultProfileID);
        shown.turn();
        shown.model().selectProfile(shown.profile().id);
        shown.turn();
    };
    double seconds = 0;
    double baseline = 0;
    for (auto _ : state) {
        const double iteration = secondsOf([&] { reopen(world); });
        baseline += secondsOf([&] { reopen(small); });
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    state.counters["x10Rules"] = seconds / baseline;
}

using Change = std::function<void(World&)>;

/// One change to the middle rule, timed until the window shows it, in four worlds: N rules and
/// 10 rules, each with and without the window.
void timeChange(benchmark::State& state, const Change& change)
{
    const int rules = static_cast<int>(state.range(0));
    World world(rules, true);
    World small(10, true);
    World bare(rules, false);
    World smallBare(10, false);
    for (World* shown : {&world, &small})
        shown->open();
    const auto timed = [&](World& changed) {
        return secondsOf([&] {
            change(changed);
            changed.turn();
        });
    };
    double seconds = 0;
    double baseline = 0;
    double bareSeconds = 0;
    double smallBareSeconds = 0;
    for (auto _ : state) {
        const double iteration = timed(world);
        baseline += timed(small);
        bareSeconds += timed(bare);
        smallBareSeconds += timed(smallBare);
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    state.counters["x10Rules"] = seconds / baseline;
    state.counters["modelMs"] = 1e3 * bareSeconds / static_cast<double>(state.iterations());
    state.counters["viewMs"]
        = 1e3 * (seconds - bareSeconds) / static_cast<double>(state.iterations());
    state.counters["viewX10Rules"] = (seconds - bareSeconds) / (baseline - smallBareSeconds);
}

void moveRule(benchmark::State& state)
{
    timeChange(state, [](World& world) {
        world.model().moveRule(world.middleRule().id, world.profile().id, -1);
    });
}

void toggleRule(benchmark::State& state)
{
    timeChange(state,
        [](World& world) { world.model().toggleRule(world.middleRule().id, world.profile().id); });
}

void editRule(benchmark::State& state)
{
    timeChange(state, [](World& world) {
        Rule edited = world.middleRule();
        edited.settings.brightness = edited.settings.brightness == 0.4 ? 0.6 : 0.4;
        world.model().saveRule(edited, world.profile().id, false);
    });
}

void deleteRule(benchmark::State& state)
{
    timeChange(state,
        [](World& world) { world.model().deleteRule(world.middleRule().id, world.profile().id); });
}

void sizes(benchmark::internal::Benchmark* benchmark)
{
    for (const int rules : {10, 1'000, 10'000})
        benchmark->Arg(rules);
    benchmark->UseManualTime()->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(openPage)->Apply(sizes)->Iterations(3);
BENCHMARK(reopenPage)->Apply(sizes)->Iterations(5);
BENCHMARK(moveRule)->Apply(sizes)->Iterations(5);
BENCHMARK(toggleRule)->Apply(sizes)->Iterations(5);
BENCHMARK(editRule)->Apply(sizes)->Iterations(5);
BENCHMARK(deleteRule)->Apply(sizes)->Iterations(4);

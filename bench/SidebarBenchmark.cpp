// The main window over the real model with 1,000 profiles of 10 rules (Qt's offscreen platform):
// opening it on the last profile, toggling a rule, renaming a profile, deleting one, and a
// virtual minute at rest with the window open and closed. Each figure is processor time of the
// one thread, including the model's work, its save and the redraws, beside the same figure for
// 10 profiles measured in the same iteration ("x10Profiles"); the operations also report the
// windows' share, measured against the same model without a window, as does a whole redraw of the
// window ("redraw", no model work); opening reports the heap it adds
// ("heapMB", "extraMB" over 10 profiles). Last, a minute at rest of the popover alone over 10,000
// rules against 10. Run by hand:
//     build/dev/bench/quorvane_bench_sidebar

#include "ModelOnSimulatedMac.h"
#include "ProcessorTime.h"
#include "SettingsDocuments.h"

#include "Foundation/Format.h"
#include "Quorvane/Views/MainWindow.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/ProfileList.h"
#include "Quorvane/Views/MainWindow/ProfileSidebar.h"
#include "Quorvane/Views/MenuView.h"

#include <QApplication>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <malloc.h>
#include <memory>
#include <string>

using namespace quorvane;
using namespace quorvane::bench;
using namespace std::chrono_literals;

namespace {

constexpr int baselineProfiles = 10;
constexpr int rulesPerProfile = 10;

/// Bytes the allocator hands out now: Qt allocates much of its data with malloc, not new.
double heapBytes()
{
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

/// A virtual minute, second by second, with Qt's events after each.
void restForAMinute(ManualExecutor& executor)
{
    for (int second = 0; second < 60; ++second) {
        executor.advance(1s);
        QCoreApplication::processEvents();
    }
}

/// `profiles` profiles of `rules` rules each besides the Default, the last one active, with
/// automation on.
Configuration documentWith(int profiles, int rules = rulesPerProfile)
{
    Configuration configuration = bench::configurationWith(profiles * rules, rules);
    configuration.activeProfileID = configuration.profiles.back().id;
    configuration.automationEnabled = true;
    configuration.validate();
    return configuration;
}

/// A started model and, once opened, its main window showing the active profile.
class WindowWorld final {
public:
    explicit WindowWorld(int profiles)
        : m_world(documentWith(profiles))
    {
        m_world.start();
    }
    ~WindowWorld()
    {
        window.reset();
        m_world.executor.advance(5s); // the last save ends before the folder goes
    }

    WindowWorld(const WindowWorld&) = delete;
    WindowWorld& operator=(const WindowWorld&) = delete;

    void open()
    {
        window = std::make_unique<MainWindow>(*m_world.model, m_world.shell);
        window->show();
        settle();
    }
    /// Runs the model's work that is due and Qt's events, paints included.
    void settle()
    {
        m_world.executor.runUntilIdle(); // the model's save and the windows' redraws
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    void restAMinute() { restForAMinute(m_world.executor); }

    [[nodiscard]] AppModel& model() const { return *m_world.model; }
    [[nodiscard]] const Profile& selected() const { return model().selectedProfile(); }
    /// Whether scrolling reaches the last row of the sidebar.
    [[nodiscard]] bool reachesEveryProfile() const
    {
        ProfileList& list = window->content().sidebar().profiles();
        const QModelIndex last = list.model()->index(list.model()->rowCount() - 1, 0);
        list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
        return list.viewport()->rect().contains(list.visualRect(last));
    }

    std::unique_ptr<MainWindow> window;

private:
    ModelOnSimulatedMac m_world;
};

/// One operation on both worlds: `prepare` is not timed, `run` is, with the work it leaves.
struct Operation {
    std::function<void(WindowWorld&)> prepare;
    std::function<void(WindowWorld&)> run;
};

/// The processor time `operation` takes with all the work it leaves, prepared untimed.
double timeOf(const Operation& operation, WindowWorld& world)
{
    operation.prepare(world);
    world.settle();
    return secondsOf([&] {
        operation.run(world);
        world.settle();
    });
}

/// The operation with the window open and without a window, for the profiles asked and for 10:
/// the whole ("x10Profiles") and the windows' share of it ("viewMs", "viewX10Profiles").
void compare(benchmark::State& state, const Operation& operation)
{
    WindowWorld large(static_cast<int>(state.range(0)));
    WindowWorld largeModelOnly(static_cast<int>(state.range(0)));
    WindowWorld small(baselineProfiles);
    WindowWorld smallModelOnly(baselineProfiles);
    large.open();
    small.open();
    double seconds = 0;
    double baseline = 0;
    double modelSeconds = 0;
    double modelBaseline = 0;
    for (auto _ : state) {
        const double iteration = timeOf(operation, large);
        baseline += timeOf(operation, small);
        modelSeconds += timeOf(operation, largeModelOnly);
        modelBaseline += timeOf(operation, smallModelOnly);
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["x10Profiles"] = seconds / baseline;
    state.counters["viewMs"] = 1e3 * (seconds - modelSeconds) / iterations;
    state.counters["viewX10Profiles"] = (seconds - modelSeconds) / (baseline - modelBaseline);
    state.counters["reachesAll"] = large.reachesEveryProfile() ? 1 : 0;
}

void open(benchmark::State& state)
{
    double seconds = 0;
    double baseline = 0;
    double heap = 0;
    double baselineHeap = 0;
    for (auto _ : state) {
        WindowWorld large(static_cast<int>(state.range(0)));
        WindowWorld small(baselineProfiles);
        double before = heapBytes();
        const double iteration = secondsOf([&] { large.open(); });
        heap = heapBytes() - before;
        before = heapBytes();
        baseline += secondsOf([&] { small.open(); });
        baselineHeap = heapBytes() - before;
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    state.counters["x10Profiles"] = seconds / baseline;
    state.counters["heapMB"] = heap / 1e6;
    state.counters["extraMB"] = (heap - baselineHeap) / 1e6;
}

void toggleRule(benchmark::State& state)
{
    compare(state,
        {.prepare = [](WindowWorld&) {},
            .run =
                [](WindowWorld& world) {
                    world.model().toggleRule(
                        world.selected().rules.front().id, world.selected().id);
                }});
}

void renameProfile(benchmark::State& state)
{
    compare(state,
        {.prepare = [](WindowWorld&) {},
            .run =
                [](WindowWorld& world) {
                    const Profile& renamed = world.model().configuration->profiles.at(1);
                    world.model().renameProfile(renamed.id,
                        renamed.name == "Renamed" ? std::string("Named") : std::string("Renamed"));
                }});
}

void deleteProfile(benchmark::State& state)
{
    // The copy of the first profile is deleted; making it is not timed.
    compare(state,
        {.prepare =
                [](WindowWorld& world) {
                    const UUID shown = world.selected().id;
                    world.model().duplicateProfile(world.model().configuration->profiles.at(1));
                    world.model().selectProfile(shown);
                },
            .run =
                [](WindowWorld& world) {
                    world.model().deleteProfile(world.model().configuration->profiles.back().id);
                }});
}

/// The window's whole redraw, as after any change of the document, without the model's work.
void redraw(benchmark::State& state)
{
    compare(state,
        {.prepare = [](WindowWorld&) {},
            .run =
                [](WindowWorld& world) {
                    if (world.window)
                        world.window->content().refresh();
                }});
}

/// A virtual minute at rest; the second argument is 1 with the window open, 0 with it closed.
void minuteAtRest(benchmark::State& state)
{
    WindowWorld large(static_cast<int>(state.range(0)));
    WindowWorld small(baselineProfiles);
    large.open();
    small.open();
    if (state.range(1) == 0) {
        large.window->hide();
        small.window->hide();
    }
    large.restAMinute();
    small.restAMinute();
    double seconds = 0;
    double baseline = 0;
    for (auto _ : state) {
        const double iteration = secondsOf([&] { large.restAMinute(); });
        baseline += secondsOf([&] { small.restAMinute(); });
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    state.counters["msPerMinute"] = 1e3 * seconds / static_cast<double>(state.iterations());
    state.counters["x10Profiles"] = seconds / baseline;
}

/// A virtual minute at rest with the popover open and no main window, over one profile of as
/// many rules as asked, beside one of 10 rules ("x10Rules").
void popoverMinuteAtRest(benchmark::State& state)
{
    ModelOnSimulatedMac large(documentWith(1, static_cast<int>(state.range(0))));
    ModelOnSimulatedMac small(documentWith(1, 10));
    large.start();
    small.start();
    MenuView largePopover(*large.model);
    MenuView smallPopover(*small.model);
    largePopover.show();
    smallPopover.show();
    restForAMinute(large.executor);
    restForAMinute(small.executor);
    double seconds = 0;
    double baseline = 0;
    for (auto _ : state) {
        const double iteration = secondsOf([&] { restForAMinute(large.executor); });
        baseline += secondsOf([&] { restForAMinute(small.executor); });
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    state.counters["msPerMinute"] = 1e3 * seconds / static_cast<double>(state.iterations());
    state.counters["x10Rules"] = seconds / baseline;
}

} // namespace

BENCHMARK(open)->Arg(1'000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(toggleRule)->Arg(1'000)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(renameProfile)
    ->Arg(1'000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(deleteProfile)
    ->Arg(1'000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(redraw)->Arg(1'000)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(minuteAtRest)
    ->Args({1'000, 1})
    ->Args({1'000, 0})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(popoverMinuteAtRest)
    ->Arg(10'000)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

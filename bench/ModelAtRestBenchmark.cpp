// The application model loaded over the simulated Mac (its default world) with 10 to 10,000
// rules in the active profile: the processor time of its start and of a virtual minute at rest,
// each beside the same figure for 10 rules measured in the same iteration ("x10Rules"), and the
// live heap after the start and its growth over two virtual hours at rest. Times are processor
// time of the running thread; virtual time costs nothing but the work it triggers.

#include "AllocationCounter.h"
#include "ModelOnSimulatedMac.h"
#include "ProcessorTime.h"
#include "SettingsDocuments.h"

#include "QuorvaneCore/SettingsStore.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <filesystem>

using namespace quorvane;
using namespace quorvane::bench;
using namespace std::chrono_literals;

namespace {

/// A start over a settings file that needs no change: its processor time, the store's writes
/// during it, and the live heap it leaves ("xFile": times the settings file's size).
void start(benchmark::State& state)
{
    const int rules = static_cast<int>(state.range(0));
    double seconds = 0;
    double baseline = 0;
    double live = 0;
    double writes = 0;
    double fileBytes = 0;
    for (auto _ : state) {
        ModelOnSimulatedMac world(activeProfileWith(rules));
        ModelOnSimulatedMac small(activeProfileWith(10));
        // A first start brings the file up to date with the simulated displays.
        world.start();
        small.start();
        world.model.reset();
        small.model.reset();
        const std::size_t before = bench::liveHeapBytes();
        const double iteration = secondsOf([&] { world.start(); });
        live = static_cast<double>(bench::liveHeapBytes() - before);
        writes = static_cast<double>(world.model->settingsStore().writeCount());
        fileBytes = static_cast<double>(std::filesystem::file_size(world.settingsFile()));
        baseline += secondsOf([&] { small.start(); });
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    state.counters["x10Rules"] = seconds / baseline;
    state.counters["liveMB"] = live / 1e6;
    state.counters["xFile"] = live / fileBytes;
    state.counters["writes"] = writes;
}

/// One virtual minute at rest, after a minute of settling.
void minuteAtRest(benchmark::State& state)
{
    ModelOnSimulatedMac world(activeProfileWith(static_cast<int>(state.range(0))));
    ModelOnSimulatedMac small(activeProfileWith(10));
    world.start();
    small.start();
    world.executor.advance(1min);
    small.executor.advance(1min);
    double seconds = 0;
    double baseline = 0;
    for (auto _ : state) {
        const double iteration = secondsOf([&] { world.executor.advance(1min); });
        baseline += secondsOf([&] { small.executor.advance(1min); });
        seconds += iteration;
        state.SetIterationTime(iteration);
    }
    state.counters["msPerMinute"] = 1e3 * seconds / static_cast<double>(state.iterations());
    state.counters["x10Rules"] = seconds / baseline;
}

/// The live heap's growth over two virtual hours at rest, after ten minutes of settling: in the
/// first hour and in the second.
void twoHoursAtRest(benchmark::State& state)
{
    double firstHour = 0;
    double secondHour = 0;
    for (auto _ : state) {
        ModelOnSimulatedMac world(activeProfileWith(static_cast<int>(state.range(0))));
        world.start();
        world.executor.advance(10min); // the simulated parts' call logs fill up
        const std::size_t settled = bench::liveHeapBytes();
        world.executor.advance(1h);
        const std::size_t afterOneHour = bench::liveHeapBytes();
        world.executor.advance(1h);
        firstHour = static_cast<double>(afterOneHour) - static_cast<double>(settled);
        secondHour
            = static_cast<double>(bench::liveHeapBytes()) - static_cast<double>(afterOneHour);
    }
    state.counters["firstHourKB"] = firstHour / 1e3;
    state.counters["secondHourKB"] = secondHour / 1e3;
}

void sizes(benchmark::internal::Benchmark* benchmark)
{
    for (const int rules : {10, 1'000, 10'000})
        benchmark->Arg(rules);
    benchmark->UseManualTime()->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(start)->Apply(sizes)->Iterations(3);
BENCHMARK(minuteAtRest)->Apply(sizes)->Iterations(5);
BENCHMARK(twoHoursAtRest)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

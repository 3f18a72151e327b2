// The settings file at 100 to 50,000 rules: encoding, decoding with validation, validation
// alone, and the store's load and save. Each is timed beside nlohmann's own parse or dump of the
// same text in the same iteration, and reports the ratio to it ("xParse", "xDump"), which the
// noise of a busy machine disturbs far less than the times, and its allocations per rule.
// Times are processor time of the running thread; the store's file writes count only as far as
// the system calls take.

#include "AllocationCounter.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"
#include "Foundation/Format.h"
#include "Foundation/JSON.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneCore/SettingsStore.h"
#include "SettingsDocuments.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstddef>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <time.h>
#include <unistd.h>
#include <utility>

using namespace quorvane;

namespace {

/// Times one call of `work` in seconds of this thread's processor time, which other programs
/// on a busy machine disturb far less than the wall clock.
template <typename Work> double secondsOf(Work&& work)
{
    const auto now = [] {
        timespec time{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
    };
    const double start = now();
    work();
    return now() - start;
}

/// Runs `ours` and `baseline` in turn each iteration: ours is the iteration's time, and the
/// ratio of the two totals and ours' allocations per rule become counters.
template <typename Ours, typename Baseline>
void measure(benchmark::State& state, const char* ratioName, Ours&& ours, Baseline&& baseline)
{
    double oursTotal = 0;
    double baselineTotal = 0;
    std::size_t allocations = 0;
    for (auto _ : state) {
        const std::size_t before = bench::allocationCount();
        const double seconds = secondsOf(ours);
        allocations += bench::allocationCount() - before;
        baselineTotal += secondsOf(baseline);
        oursTotal += seconds;
        state.SetIterationTime(seconds);
    }
    const auto rules = static_cast<double>(state.range(0));
    state.counters[ratioName] = oursTotal / baselineTotal;
    state.counters["allocs/rule"]
        = static_cast<double>(allocations) / (static_cast<double>(state.iterations()) * rules);
    state.SetComplexityN(state.range(0));
}

struct Document {
    Configuration configuration;
    nlohmann::json tree;
    std::string text;
};

Document documentWith(benchmark::State& state)
{
    Document document{.configuration = bench::configurationWith(static_cast<int>(state.range(0))),
        .tree = {},
        .text = {}};
    document.tree = encodeConfiguration(document.configuration);
    document.text = serializeJSON(document.tree);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.text.size()));
    state.counters["MB"] = static_cast<double>(document.text.size()) / 1e6;
    return document;
}

/// The text written straight from the document, as the store writes it, beside nlohmann's dump
/// of the same tree.
void encode(benchmark::State& state)
{
    const Document document = documentWith(state);
    measure(
        state, "xDump",
        [&] { benchmark::DoNotOptimize(encodeConfigurationText(document.configuration)); },
        [&] { benchmark::DoNotOptimize(document.tree.dump(2)); });
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.text.size()));
}

/// The encoded tree and then its text.
void encodeThroughTree(benchmark::State& state)
{
    const Document document = documentWith(state);
    measure(
        state, "xDump",
        [&] {
            benchmark::DoNotOptimize(serializeJSON(encodeConfiguration(document.configuration)));
        },
        [&] { benchmark::DoNotOptimize(document.tree.dump(2)); });
}

/// The tree alone, without writing it out.
void encodeTree(benchmark::State& state)
{
    const Document document = documentWith(state);
    measure(
        state, "xDump",
        [&] { benchmark::DoNotOptimize(encodeConfiguration(document.configuration)); },
        [&] { benchmark::DoNotOptimize(document.tree.dump(2)); });
}

/// Decoding a parsed document and validating it, beside nlohmann's parse of its text.
void decode(benchmark::State& state)
{
    const Document document = documentWith(state);
    measure(
        state, "xParse",
        [&] {
            Configuration configuration = decodeConfiguration(JSONValue(document.tree));
            configuration.validate();
            benchmark::DoNotOptimize(configuration);
        },
        [&] { benchmark::DoNotOptimize(nlohmann::json::parse(document.text)); });
}

/// parseJSON() and then the same, beside nlohmann's parse.
void parseAndDecode(benchmark::State& state)
{
    const Document document = documentWith(state);
    measure(
        state, "xParse",
        [&] {
            const nlohmann::json tree = parseJSON(document.text);
            Configuration configuration = decodeConfiguration(JSONValue(tree));
            configuration.validate();
            benchmark::DoNotOptimize(configuration);
        },
        [&] { benchmark::DoNotOptimize(nlohmann::json::parse(document.text)); });
}

void validate(benchmark::State& state)
{
    const Document document = documentWith(state);
    measure(
        state, "xParse", [&] { document.configuration.validate(); },
        [&] { benchmark::DoNotOptimize(nlohmann::json::parse(document.text)); });
}

/// Runs `task` on an executor of its own until it ends, rethrowing what it throws.
template <typename T> T finished(Task<T> task)
{
    std::optional<T> result;
    std::exception_ptr error;
    const auto record
        = [](Task<T> task, std::optional<T>& result, std::exception_ptr& error) -> Task<void> {
        try {
            result.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
    };
    ManualExecutor executor;
    spawn(executor, record(std::move(task), result, error));
    executor.runUntilIdle();
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

void finished(Task<void> task)
{
    std::exception_ptr error;
    const auto record = [](Task<void> task, std::exception_ptr& error) -> Task<void> {
        try {
            co_await std::move(task);
        } catch (...) {
            error = std::current_exception();
        }
    };
    ManualExecutor executor;
    spawn(executor, record(std::move(task), error));
    executor.runUntilIdle();
    if (error)
        std::rethrow_exception(error);
}

std::filesystem::path benchmarkFile()
{
    return std::filesystem::temp_directory_path()
        / ("quorvane-bench-" + formatInteger(::getpid()) + "/Settings.json");
}

/// Reading the file, parsing, decoding and validating, beside nlohmann's parse of its text.
void storeLoad(benchmark::State& state)
{
    const Document document = documentWith(state);
    const std::filesystem::path file = benchmarkFile();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << document.text;
    if (document.text.size() > SettingsStore::maximumFileSize) {
        state.SkipWithError("The store refuses files over 16 MiB.");
        return;
    }
    SettingsStore store(file);
    measure(
        state, "xParse", [&] { benchmark::DoNotOptimize(finished(store.load())); },
        [&] { benchmark::DoNotOptimize(nlohmann::json::parse(document.text)); });
    std::filesystem::remove_all(file.parent_path());
}

/// The live heap a loaded document holds ("xFile": times the file's size), and what the load
/// left beyond the document ("leftMB": the live heap after the load less a copy of the document,
/// 0 when none of the parse tree outlives the load); and the load's peak over that copy.
void storeLoadMemory(benchmark::State& state)
{
    const Document document = documentWith(state);
    const std::filesystem::path file = benchmarkFile();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << document.text;
    SettingsStore store(file);
    double live = 0;
    double left = 0;
    for (auto _ : state) {
        const std::size_t before = bench::liveHeapBytes();
        const Configuration loaded = finished(store.load());
        const std::size_t afterLoad = bench::liveHeapBytes();
        const Configuration copy = loaded;
        const double copyBytes = static_cast<double>(bench::liveHeapBytes() - afterLoad);
        live = static_cast<double>(afterLoad - before);
        left = live - copyBytes;
    }
    const auto fileBytes = static_cast<double>(document.text.size());
    state.counters["liveMB"] = live / 1e6;
    state.counters["xFile"] = live / fileBytes;
    state.counters["leftMB"] = left / 1e6;
    std::filesystem::remove_all(file.parent_path());
}

/// Runs one save per iteration of a document copied beforehand (a save takes its document by
/// value), beside nlohmann's dump of the tree.
template <typename Pick>
void measureSaves(
    benchmark::State& state, const Document& document, SettingsStore& store, Pick pick)
{
    double oursTotal = 0;
    double baselineTotal = 0;
    std::size_t allocations = 0;
    for (auto _ : state) {
        Configuration copy = pick();
        const std::size_t before = bench::allocationCount();
        const double seconds = secondsOf([&] { finished(store.save(std::move(copy))); });
        allocations += bench::allocationCount() - before;
        baselineTotal += secondsOf([&] { benchmark::DoNotOptimize(document.tree.dump(2)); });
        oursTotal += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["xDump"] = oursTotal / baselineTotal;
    state.counters["allocs/rule"] = static_cast<double>(allocations)
        / (static_cast<double>(state.iterations()) * static_cast<double>(state.range(0)));
    state.counters["writes"] = static_cast<double>(store.writeCount());
    state.SetComplexityN(state.range(0));
}

/// Validating, encoding and writing the file atomically. The saves alternate between two
/// documents of the same length, so that each one also reads the file to see whether it changed,
/// and then writes.
void storeSave(benchmark::State& state)
{
    const Document document = documentWith(state);
    Configuration other = document.configuration;
    other.holdMinutes = document.configuration.holdMinutes == 15 ? 30 : 15;
    const std::filesystem::path file = benchmarkFile();
    std::filesystem::remove_all(file.parent_path());
    SettingsStore store(file);
    (void)finished(store.load()); // No file yet: this unlocks the store.
    bool isOther = false;
    measureSaves(state, document, store, [&] {
        isOther = !isOther;
        return isOther ? other : document.configuration;
    });
    std::filesystem::remove_all(file.parent_path());
}

/// A save of the document the file holds already: validated and encoded, compared, not written.
void storeSaveUnchanged(benchmark::State& state)
{
    const Document document = documentWith(state);
    const std::filesystem::path file = benchmarkFile();
    std::filesystem::remove_all(file.parent_path());
    SettingsStore store(file);
    (void)finished(store.load());
    finished(store.save(document.configuration));
    measureSaves(state, document, store, [&] { return document.configuration; });
    std::filesystem::remove_all(file.parent_path());
}

void sizes(benchmark::internal::Benchmark* benchmark)
{
    for (const int rules : {100, 1'000, 10'000, 50'000})
        benchmark->Arg(rules);
    benchmark->UseManualTime()->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

} // namespace

BENCHMARK(encode)->Apply(sizes);
BENCHMARK(encodeThroughTree)->Apply(sizes);
BENCHMARK(encodeTree)->Apply(sizes);
BENCHMARK(decode)->Apply(sizes);
BENCHMARK(parseAndDecode)->Apply(sizes);
BENCHMARK(validate)->Apply(sizes);
BENCHMARK(storeLoad)->Apply(sizes);
BENCHMARK(storeLoadMemory)
    ->Arg(10)
    ->Arg(1'000)
    ->Arg(10'000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(storeSave)->Apply(sizes);
BENCHMARK(storeSaveUnchanged)->Apply(sizes);

BENCHMARK_MAIN();

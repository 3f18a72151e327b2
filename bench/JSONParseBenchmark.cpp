// How parsing grows with the size of a document: parseJSON(), which also refuses deep nesting
// and explains its errors, beside nlohmann's own parse of the same text. Arrays of 10k to 1M
// objects, the shape that made a depth check by parse callback quadratic; both should be linear.

#include "Foundation/JSON.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

using namespace quorvane;

namespace {

/// [{}, {"id": 1, "name": "Display"}, {}, ...] with `count` objects.
std::string arrayOfObjects(std::int64_t count)
{
    std::string text = "[";
    for (std::int64_t index = 0; index < count; ++index) {
        if (index > 0)
            text += ", ";
        text += index % 2 == 0 ? "{}" : R"({"id": 1, "name": "Display"})";
    }
    return text + "]";
}

void parseJSONOfArray(benchmark::State& state)
{
    const std::string text = arrayOfObjects(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(parseJSON(text));
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void plainParseOfArray(benchmark::State& state)
{
    const std::string text = arrayOfObjects(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(text));
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

} // namespace

BENCHMARK(parseJSONOfArray)
    ->RangeMultiplier(10)
    ->Range(10'000, 1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(plainParseOfArray)
    ->RangeMultiplier(10)
    ->Range(10'000, 1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

BENCHMARK_MAIN();

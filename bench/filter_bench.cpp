// Samples per second of the literal evaluation and of the product, on images
// with a few per cent of edge pixels in lines. Run from the build folder:
//   ./bench/lumasift_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "filter/filter.h"
#include "support/reference.h"
#include "support/scenes.h"

using namespace lumasift;

namespace {

const int SIDES[] = {256, 512, 1000};
const double NEAR_WIDTHS[] = {0.0, 1.0, 3.3};  // reach 1, 4 and 10

// Samples visited per call: every offset of the window once, the centre
// twice, for a window inside the image.
double samples_per_call(int side, double x3)
{
    const int reach = static_cast<int>(3.0 * x3 + 1.0);
    return static_cast<double>(side) * side * ((2.0 * reach + 1) * (2.0 * reach + 1) + 1);
}

void report(benchmark::State& state, int side, double x3)
{
    state.counters["samples"] = benchmark::Counter(samples_per_call(side, x3) * state.iterations(),
                                                   benchmark::Counter::kIsRate);
    state.SetLabel("reach " + std::to_string(static_cast<int>(3.0 * x3 + 1.0)));
}

void literal_evaluation(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    const double x3 = NEAR_WIDTHS[state.range(1)];
    const Scene scene = lined_scene(side, side, x3, 4.0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            reference_lumasift(scene.x1.data(), scene.x2.data(), side, side, x3, 4.0));
    }
    report(state, side, x3);
}

// range(2): threads, 0 for as many as the machine has; range(3): the path.
void product(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    const double x3 = NEAR_WIDTHS[state.range(1)];
    const Scene scene = lined_scene(side, side, x3, 4.0);
    std::vector<double> result(scene.x1.size());
    filter_state.thread_count = static_cast<int>(state.range(2));
    filter_state.kernel_path = static_cast<KernelPath>(state.range(3));
    for (auto _ : state) {
        filter_call(scene.x1.data(), scene.x2.data(), side, side, x3, 4.0, result.data(), nullptr);
        benchmark::DoNotOptimize(result.data());
    }
    filter_state.thread_count = 0;
    filter_state.kernel_path = KernelPath::fastest;
    report(state, side, x3);
}

void literal_sizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"side", "width"})->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(1);
    for (const int side : SIDES) {
        for (int width = 0; width < 3; ++width) {
            b->Args({side, width});
        }
    }
}

// This machine's speed wanders from run to run; with repetitions, the
// fastest one shows what the code can do.
double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

void product_sizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"side", "width", "threads", "path"})->Unit(benchmark::kMillisecond)->UseRealTime();
    b->ComputeStatistics("min", fastest);
    for (const int side : SIDES) {
        for (int width = 0; width < 3; ++width) {
            for (const int threads : {1, 0}) {
                b->Args({side, width, threads, static_cast<int>(KernelPath::fastest)});
            }
        }
    }
    // Each lane path alone, on one thread.
    for (const KernelPath path : {KernelPath::scalar, KernelPath::avx2, KernelPath::avx512}) {
        b->Args({1000, 1, 1, static_cast<int>(path)});
    }
}

BENCHMARK(literal_evaluation)->Apply(literal_sizes);
BENCHMARK(product)->Apply(product_sizes);

}  // namespace

BENCHMARK_MAIN();

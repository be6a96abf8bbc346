// Speed of lumasift against the floor of this machine (floor.h), measured in
// the same run, on 1000x1000 images with edges in lines and scattered, at
// reach 1, 4, 10 and 32, on one thread and on all; each lane path alone; the
// stop request's cost; small calls; imlumasift per pixel against lumasift;
// and the literal evaluation. Ends with a table of the ratios. Run from the
// build folder:
//   ./bench/lumasift_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filter/lanes/lanes.h"
#include "filter/lumasift.h"
#include "floor.h"
#include "support/reference.h"

using namespace lumasift;

namespace {

const int REACHES[] = {1, 4, 10, 32};

double width_for(int reach)
{
    return (reach - 0.5) / 3.0;
}

struct BenchScene {
    int rows;
    int cols;
    std::vector<double> x1;
    std::vector<double> x2;
};

// Blocks of several levels with noise over them, and an edge map: "lined"
// has edge pixels on every 50th row and every 70th column, "scattered" lone
// edge pixels, one in two hundred.
BenchScene make_scene(const std::string& kind, int rows, int cols)
{
    BenchScene s{rows, cols, {}, std::vector<double>(static_cast<std::size_t>(rows) * cols, 0.0)};
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> noise(-0.1, 0.1);
    for (int c = 0; c < cols; ++c) {
        for (int r = 0; r < rows; ++r) {
            s.x1.push_back(((r / 50 + c / 70) % 3) * 0.3 + noise(rng));
            const bool edge = kind == "lined" ? (r % 50 == 0 || c % 70 == 0) : rng() % 200 == 0;
            s.x2[static_cast<std::size_t>(c) * rows + r] = edge ? 255.0 : 0.0;
        }
    }
    return s;
}

const BenchScene& scene_named(const std::string& kind, int rows = 1000, int cols = 1000)
{
    static std::map<std::string, BenchScene> scenes;
    const std::string key = kind + std::to_string(rows) + "x" + std::to_string(cols);
    auto found = scenes.find(key);
    if (found == scenes.end()) {
        found = scenes.emplace(key, make_scene(kind, rows, cols)).first;
    }
    return found->second;
}

int threads_for(int threads)
{
    return threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency());
}

bool never_stop()
{
    return false;
}

void product(benchmark::State& state, std::string kind, int side, int reach, int threads, KernelChoice kernels,
             StopRequest stop)
{
    const BenchScene& s = scene_named(kind, side, side);
    std::vector<double> result(s.x1.size());
    const CallOptions options{kernels, threads, stop};
    for (auto _ : state) {
        filter_call(s.x1.data(), s.x2.data(), s.rows, s.cols, width_for(reach), 0.5, result.data(), options);
        benchmark::DoNotOptimize(result.data());
    }
}

void floor_of(benchmark::State& state, std::string kind, int side, int reach, int threads)
{
    if (!floor_available()) {
        state.SkipWithError("the floor needs AVX-512F");
        return;
    }
    const BenchScene& s = scene_named(kind, side, side);
    FloorScene floor = make_floor_scene(s.x1, s.x2, s.rows, s.cols, reach);
    // A thread only for work that pays for starting it, as the product does.
    const double samples = static_cast<double>(side) * side * (2 * reach + 1) * (2 * reach + 1);
    const int used = std::min(threads_for(threads), 1 + static_cast<int>(samples / 2e6));
    for (auto _ : state) {
        run_floor(floor, used);
        benchmark::DoNotOptimize(floor.result.data());
    }
}

// imlumasift's tiles on a rows x cols x channels image of one class; time
// per pixel and channel is what compares with a 1000x1000 call. With
// `approximate`, results of a narrower class come from the float lanes where
// Ziv's test decides them; the share it leaves undecided is reported.
template <class T>
void tiled(benchmark::State& state, int rows, int cols, int channels, ElementClass type, int reach, bool approximate)
{
    const BenchScene& s = scene_named("lined", rows, cols);
    std::vector<T> values(s.x1.size() * channels);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<T>(std::is_integral_v<T> ? 255.0 * s.x1[i % s.x1.size()] : s.x1[i % s.x1.size()]);
    }
    std::vector<T> result(values.size());
    const Layout layout = column_major(rows, cols);
    const TiledImage image{{values.data(), type, rows, cols, channels, layout}, s.x2.data(), ElementClass::float64, false,
                           layout, result.data(), layout, 0.0};
    PathCounts counts;
    CallOptions options;
    options.approximate = approximate;
    options.counts = &counts;
    for (auto _ : state) {
        filter_tiled(image, width_for(reach), 0.5, options);
        benchmark::DoNotOptimize(result.data());
    }
    const double approximated = static_cast<double>(counts.approximated);
    state.counters["undecided_share"] = approximated > 0 ? static_cast<double>(counts.undecided) / approximated : 0.0;
    state.counters["ns_per_pixel"] =
        benchmark::Counter(static_cast<double>(rows) * cols * channels * state.iterations(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// imlumasift's default path on a 4000x6000x3 uint8 image of blocks with
// noise: each part of it, in the core, without the host's copies.
enum DefaultPart { STATISTICS, EDGE_MAP, TILES_MAKING_EDGES, TILES_GIVEN_EDGES };

void default_path(benchmark::State& state, DefaultPart part)
{
    constexpr int rows = 4000;
    constexpr int cols = 6000;
    static std::vector<std::uint8_t> values;
    if (values.empty()) {
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 15.0);
        values.resize(static_cast<std::size_t>(rows) * cols * 3);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::size_t row = i % rows;
            const std::size_t col = i / rows % cols;
            const double level = 60.0 + 50.0 * ((row / 90 + col / 130 + i / (rows * cols)) % 3);
            values[i] = static_cast<std::uint8_t>(std::clamp(level + noise(random), 0.0, 255.0));
        }
    }
    const Layout layout = column_major(rows, cols);
    const HostImage image{values.data(), ElementClass::uint8, rows, cols, 3, layout};
    ImageStatistics statistics;
    measure_image(image, statistics);
    const DefaultParameters defaults = default_parameters(statistics, 3);
    std::vector<double> edges(static_cast<std::size_t>(rows) * cols);
    edge_map(image, defaults.threshold, edges.data(), layout);
    std::vector<std::uint8_t> result(values.size());
    const bool given = part == TILES_GIVEN_EDGES;
    const TiledImage tiled{image, given ? edges.data() : nullptr, ElementClass::float64, false, layout, result.data(),
                           layout, defaults.threshold};
    for (auto _ : state) {
        switch (part) {
        case STATISTICS: measure_image(image, statistics); break;
        case EDGE_MAP: edge_map(image, defaults.threshold, edges.data(), layout); break;
        case TILES_MAKING_EDGES:
        case TILES_GIVEN_EDGES: filter_tiled(tiled, defaults.x3, defaults.x4); break;
        }
        benchmark::ClobberMemory();
    }
}

void literal(benchmark::State& state, int reach)
{
    const BenchScene& s = scene_named("lined");
    for (auto _ : state) {
        benchmark::DoNotOptimize(reference_lumasift(s.x1.data(), s.x2.data(), s.rows, s.cols, width_for(reach), 0.5));
    }
}

double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

// The machine's speed wanders from run to run; with repetitions, the
// median and the fastest show what the code does and can do.
benchmark::internal::Benchmark* timed(benchmark::internal::Benchmark* b)
{
    return b->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);
}

std::string name_of(const std::string& what, const std::string& kind, int side, int reach, int threads)
{
    return what + "/" + kind + "/" + std::to_string(side) + "/reach:" + std::to_string(reach) + "/" +
           (threads == 0 ? "all_threads" : std::to_string(threads) + "_thread");
}

void register_benchmarks()
{
    for (const char* kind : {"lined", "scattered"}) {
        for (const int reach : REACHES) {
            for (const int threads : {1, 0}) {
                timed(benchmark::RegisterBenchmark(name_of("floor", kind, 1000, reach, threads).c_str(),
                                                   floor_of, kind, 1000, reach, threads));
                timed(benchmark::RegisterBenchmark(name_of("lumasift", kind, 1000, reach, threads).c_str(),
                                                   product, kind, 1000, reach, threads, KernelChoice::fastest,
                                                   nullptr));
            }
        }
    }
    // Small calls, where the fixed costs show.
    for (const auto& [side, reach] : {std::pair{64, 4}, std::pair{256, 10}}) {
        timed(benchmark::RegisterBenchmark(name_of("floor", "lined", side, reach, 0).c_str(), floor_of,
                                           "lined", side, reach, 0))
            ->Unit(benchmark::kMicrosecond);
        timed(benchmark::RegisterBenchmark(name_of("lumasift", "lined", side, reach, 0).c_str(), product,
                                           "lined", side, reach, 0, KernelChoice::fastest, nullptr))
            ->Unit(benchmark::kMicrosecond);
    }
    // Each lane path alone, and the stop request's cost.
    for (const InstructionSet& set : INSTRUCTION_SETS) {
        if (set.kernels().filter_line != nullptr) {
            timed(benchmark::RegisterBenchmark(name_of(std::string("path_") + set.name, "lined", 1000, 4, 1).c_str(),
                                               product, "lined", 1000, 4, 1, set.choice, nullptr));
        }
    }
    for (const int reach : {1, 4}) {
        timed(benchmark::RegisterBenchmark(name_of("with_stop_request", "lined", 1000, reach, 0).c_str(),
                                           product, "lined", 1000, reach, 0, KernelChoice::fastest, &never_stop));
    }
    // imlumasift per pixel and channel.
    for (const int reach : {1, 4, 10}) {
        timed(benchmark::RegisterBenchmark(("imlumasift/double_gray/3000x4000/reach:" + std::to_string(reach)).c_str(),
                                           tiled<double>, 3000, 4000, 1, ElementClass::float64, reach, false));
    }
    // uint8 results exactly and through the float approximation.
    for (const int reach : {1, 2, 3, 4, 7, 10}) {
        for (const bool approximate : {false, true}) {
            const std::string name = std::string("imlumasift/uint8_rgb") + (approximate ? "" : "_exact") +
                                     "/3000x4000x3/reach:" + std::to_string(reach);
            timed(benchmark::RegisterBenchmark(name.c_str(), tiled<std::uint8_t>, 3000, 4000, 3, ElementClass::uint8,
                                               reach, approximate));
        }
    }
    for (const auto& [part, name] : {std::pair{STATISTICS, "statistics"}, std::pair{EDGE_MAP, "edge_map"},
                                     std::pair{TILES_MAKING_EDGES, "tiles_making_edges"},
                                     std::pair{TILES_GIVEN_EDGES, "tiles_given_edges"}}) {
        timed(benchmark::RegisterBenchmark((std::string("default/uint8_rgb/4000x6000x3/") + name).c_str(),
                                           default_path, part));
    }
    for (const int reach : {1, 4}) {
        benchmark::RegisterBenchmark(("literal/lined/1000/reach:" + std::to_string(reach)).c_str(), literal, reach)
            ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(1);
    }
}

// Records each benchmark's median (or only) real time per iteration, and
// prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool wanted = run.run_type == Run::RT_Iteration ? !run.repetitions || run.repetitions == 1
                                                                  : run.aggregate_name == "median";
            if (wanted && !run.error_occurred) {
                seconds_[run.run_name.function_name + run.run_name.args] = run.GetAdjustedRealTime() *
                                               (run.time_unit == benchmark::kMicrosecond ? 1e-6 : 1e-3);
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\nMedian times, %u cores:\n", std::thread::hardware_concurrency());
        std::printf("%-44s %12s %12s %8s\n", "lumasift over the floor", "lumasift", "floor", "ratio");
        for (const auto& [name, seconds] : seconds_) {
            if (name.rfind("lumasift/", 0) == 0) {
                print_ratio(name.substr(9), seconds, "floor/" + name.substr(9));
            }
        }
        std::printf("%-44s %12s %12s %8s\n", "per pixel and channel, against 1000x1000", "imlumasift",
                    "lumasift", "ratio");
        for (const auto& [name, seconds] : seconds_) {
            if (name.rfind("imlumasift/", 0) == 0) {
                const std::string reach = name.substr(name.find("reach:") + 6);
                const double pixels = name.find("rgb") != std::string::npos ? 36e6 : 12e6;
                print_ratio(name.substr(11), seconds / pixels * 1e6,
                            name_of("lumasift", "lined", 1000, std::stoi(reach), 0));
            }
        }
        const std::string given = "default/uint8_rgb/4000x6000x3/tiles_given_edges";
        for (const char* part : {"statistics", "edge_map", "tiles_making_edges"}) {
            print_ratio(std::string("default path's ") + part + ", against the tiles given edges",
                        seconds_[std::string("default/uint8_rgb/4000x6000x3/") + part], given);
        }
        const auto stop = seconds_.find(name_of("with_stop_request", "lined", 1000, 4, 0));
        if (stop != seconds_.end()) {
            print_ratio("with a stop request, reach 4", stop->second, name_of("lumasift", "lined", 1000, 4, 0));
        }
    }

private:
    void print_ratio(const std::string& label, double seconds, const std::string& against)
    {
        const auto other = seconds_.find(against);
        if (other != seconds_.end()) {
            std::printf("%-44s %9.3f ms %9.3f ms %7.2fx\n", label.c_str(), 1e3 * seconds, 1e3 * other->second,
                        seconds / other->second);
        }
    }

    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv)
{
    register_benchmarks();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

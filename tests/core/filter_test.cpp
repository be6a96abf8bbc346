#include "filter/filter.h"
#include "filter/lumasift.h"

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/reference.h"
#include "support/scenes.h"

using namespace lumasift;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

TEST(EdgeLevelTest, TruncatesTowardZeroAndSendsWhatDoesNotFitToTheMinimum)
{
    const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(edge_level(100.9), 100);
    EXPECT_EQ(edge_level(101.0), 101);
    EXPECT_EQ(edge_level(-500.0), -500);
    EXPECT_EQ(edge_level(-0.9), 0);
    EXPECT_EQ(edge_level(2147483647.9), 2147483647);
    EXPECT_EQ(edge_level(-2147483648.9), lowest);
    EXPECT_EQ(edge_level(2147483648.0), lowest);
    EXPECT_EQ(edge_level(-2147483649.0), lowest);
    EXPECT_EQ(edge_level(1e10), lowest);
    EXPECT_EQ(edge_level(NaN), lowest);
    EXPECT_EQ(edge_level(Inf), lowest);
    EXPECT_EQ(edge_level(-Inf), lowest);
}

TEST(FilterImageTest, SinglePixelComesBackUnchanged)
{
    EXPECT_EQ(run_filter({3.25}, {0.0}, 1, 1, 1.0, 4.0)[0], 3.25);
    EXPECT_EQ(run_filter({3.25}, {250.0}, 1, 1, 1.0, 4.0)[0], 3.25);
    EXPECT_EQ(run_filter({-8.0}, {0.0}, 1, 1, -0.5, 0.0)[0], -8.0);
}

TEST(FilterImageTest, ConstantImageComesBackUnchanged)
{
    const int rows = 9;
    const int cols = 14;
    std::vector<double> edges(rows * cols, 0.0);
    for (int i = 0; i < rows * cols; i += 5) {
        edges[i] = 180.0;
    }
    for (const double x3 : {0.3, 1.0, 2.2}) {
        const std::vector<double> y = run_filter(std::vector<double>(rows * cols, 0.7), edges,
                                                 rows, cols, x3, 3.0);
        for (const double v : y) {
            EXPECT_NEAR(v, 0.7, 1e-15);
        }
    }
}

TEST(FilterImageTest, EmptyImageWritesNothing)
{
    CallState call{};
    filter_state.rows = 0;
    filter_state.cols = 5;
    filter_image(nullptr, nullptr, nullptr, call);
    filter_state.rows = 5;
    filter_state.cols = 0;
    filter_image(nullptr, nullptr, nullptr, call);
}

TEST(FilterImageTest, NonPositiveOrNanReachGivesNan)
{
    for (const double x3 : {-0.7, -5.0, -Inf, NaN}) {
        EXPECT_TRUE(std::isnan(run_filter({1.0, 2.0}, {0.0, 0.0}, 1, 2, x3, 1.0)[1])) << x3;
    }
}

TEST(FilterImageTest, LaterCallsAreNotAffectedByEarlierOnes)
{
    const std::vector<Scene> scenes =
        make_scenes(32, {{5, 3}, {16, 17}, {40, 70}, {1, 9}}, {0.3, 1.0, 2.5, 1e9}, 20, 11);
    std::vector<std::vector<double>> first;
    for (const Scene& s : scenes) {
        first.push_back(run_filter(s));
    }
    for (std::size_t i = scenes.size(); i-- > 0;) {
        EXPECT_EQ(first_difference(run_filter(scenes[i]), first[i]), -1) << scenes[i].description;
    }
}

TEST(FilterImageTest, OverlappingCallsGiveTheirOwnBits)
{
    const std::vector<Scene> scenes =
        make_scenes(2, {{60, 90}, {45, 130}}, {1.0, 2.5}, 20, 12);
    std::vector<std::vector<double>> expected;
    for (const Scene& s : scenes) {
        expected.push_back(reference_lumasift(s.x1.data(), s.x2.data(), s.rows, s.cols, s.x3, s.x4));
    }
    std::vector<int> mismatches(scenes.size(), 0);
    std::vector<std::thread> callers;
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        callers.emplace_back([&, i] {
            for (int call = 0; call < 20; ++call) {
                mismatches[i] += first_difference(run_filter(scenes[i]), expected[i]) != -1;
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(scenes.size(), 0));
}

// A stop request that says yes from its polls-th question on, and notes
// whether anyone but the calling thread asked it.
struct StopAfter {
    static int polls;
    static int asked;
    static bool asked_elsewhere;
    static std::thread::id caller;
    static bool request()
    {
        asked_elsewhere = asked_elsewhere || std::this_thread::get_id() != caller;
        return ++asked > polls;
    }
};
int StopAfter::polls = 0;
int StopAfter::asked = 0;
bool StopAfter::asked_elsewhere = false;
std::thread::id StopAfter::caller;

TEST(StopRequestTest, EndsTheCallEarlyAndLeavesNothingForTheNext)
{
    const Scene scene = lined_scene(120, 150, 2.5, 0.5);
    const std::vector<double> expected =
        reference_lumasift(scene.x1.data(), scene.x2.data(), scene.rows, scene.cols, scene.x3, scene.x4);
    for (const KernelChoice path : {KernelChoice::literal, KernelChoice::scalar, KernelChoice::fastest}) {
        for (const int threads : {1, 3}) {
            const CallOptions options{path, threads, &StopAfter::request};
            // Helpers may take every unit but the calling thread's first of
            // a pass, so only one thread polls a given number of times.
            for (const int polls : {0, 1, threads == 1 ? 7 : 1, 1000000}) {
                StopAfter::polls = polls;
                StopAfter::asked = 0;
                StopAfter::asked_elsewhere = false;
                StopAfter::caller = std::this_thread::get_id();
                std::vector<double> y(scene.x1.size(), -7.0);
                const bool complete = filter_call(scene.x1.data(), scene.x2.data(), scene.rows, scene.cols,
                                                  scene.x3, scene.x4, y.data(), options);
                const auto where = testing::Message() << "path " << static_cast<int>(path) << ", "
                                                      << threads << " threads, stop after " << polls;
                EXPECT_EQ(complete, polls == 1000000) << where;
                EXPECT_FALSE(StopAfter::asked_elsewhere) << where;
                EXPECT_LE(StopAfter::asked, polls + 1) << where << ": asked again after saying yes";
                if (complete) {
                    EXPECT_EQ(first_difference(y, expected), -1) << where;
                } else {
                    EXPECT_EQ(first_difference(run_filter(scene), expected), -1) << where << ", next call";
                }
            }
        }
    }
}

}  // namespace

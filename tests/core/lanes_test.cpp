#include "filter/lanes/lanes.h"

#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "filter/filter.h"
#include "support/reference.h"
#include "support/scenes.h"

using namespace lumasift;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

struct SceneSet {
    std::vector<Scene> scenes;
    std::vector<std::vector<double>> expected;
};

SceneSet with_expected_results(std::vector<Scene> scenes)
{
    SceneSet set{std::move(scenes), {}};
    for (const Scene& s : set.scenes) {
        set.expected.push_back(reference_lumasift(s.x1.data(), s.x2.data(), s.rows, s.cols, s.x3, s.x4));
    }
    return set;
}

// Every size class, border and odd width, including one side of 1000.
const SceneSet& small_images()
{
    static const SceneSet set = with_expected_results(make_scenes(
        480,
        {{1, 1}, {1, 7}, {9, 1}, {2, 2}, {3, 5}, {5, 3}, {7, 7}, {13, 6}, {16, 17}, {31, 29},
         {1, 1000}, {1000, 1}, {3, 1000}, {1000, 2}, {40, 33}, {8, 64}},
        {-0.7, -0.5, -1e-9, 0.0, 1e-300, 0.3, 0.5, 1.0, 1.37, 2.5, 3.3, 1e9, Inf, NaN}, 64, 20261208));
    return set;
}

// Wide enough for lane groups whose windows lie inside the image, with and
// without edges, next to groups on all four borders and a short last group.
// The last scenes have windows too wide for a visiting schedule.
const SceneSet& large_images()
{
    static const SceneSet set = [] {
        std::vector<Scene> scenes = make_scenes(
            120, {{23, 70}, {40, 97}, {35, 64}, {64, 33}, {30, 129}, {25, 96}, {50, 65}, {24, 31}},
            {0.0, 0.3, 1.0, 1.37, 2.0, 2.5, 3.3}, 200, 7);
        for (const Scene& wide : make_scenes(6, {{2, 150}, {3, 240}}, {40.0, 70.0}, 300, 9)) {
            scenes.push_back(wide);
        }
        scenes.push_back(lined_scene(90, 140, 1.0, 4.0));
        scenes.push_back(lined_scene(90, 140, 3.3, 0.5));
        return with_expected_results(std::move(scenes));
    }();
    return set;
}

bool path_available(KernelPath path)
{
    switch (path) {
    case KernelPath::avx2: return avx2_lanes().filter_line != nullptr;
    case KernelPath::avx512: return avx512_lanes().filter_line != nullptr;
    default: return true;
    }
}

TEST(LineFilterForTest, GivesTheAskedPathWhereTheProcessorHasIt)
{
    EXPECT_EQ(lane_path_for(KernelPath::literal).filter_line, nullptr);
    EXPECT_EQ(lane_path_for(KernelPath::scalar).filter_line, scalar_lanes().filter_line);
    const LineFilter fastest = lane_path_for(KernelPath::fastest).filter_line;
    EXPECT_NE(fastest, nullptr);
    for (const auto& [path, filter] : {std::pair{KernelPath::avx2, avx2_lanes().filter_line},
                                      std::pair{KernelPath::avx512, avx512_lanes().filter_line}}) {
        EXPECT_EQ(lane_path_for(path).filter_line, filter != nullptr ? filter : fastest);
    }
}

using PathAndThreads = std::tuple<KernelPath, int>;

class EveryPath : public testing::TestWithParam<PathAndThreads> {
protected:
    void SetUp() override
    {
        const auto [path, threads] = GetParam();
        if (!path_available(path)) {
            GTEST_SKIP() << "this processor lacks the instructions";
        }
        filter_state.kernel_path = path;
        filter_state.thread_count = threads;
    }
    void TearDown() override
    {
        filter_state.kernel_path = KernelPath::fastest;
        filter_state.thread_count = 0;
    }

    static void expect_literal_results(const SceneSet& set)
    {
        for (std::size_t i = 0; i < set.scenes.size(); ++i) {
            const Scene& s = set.scenes[i];
            const std::vector<double> actual = run_filter(s);
            const long at = first_difference(actual, set.expected[i]);
            ASSERT_EQ(at, -1) << s.description << "; first difference at index " << at << ": "
                              << actual[at] << " instead of " << set.expected[i][at];
        }
    }
};

TEST_P(EveryPath, MatchesTheLiteralEvaluationOnSmallImages)
{
    expect_literal_results(small_images());
}

TEST_P(EveryPath, MatchesTheLiteralEvaluationOnLargeImages)
{
    expect_literal_results(large_images());
}

std::string path_name(const testing::TestParamInfo<PathAndThreads>& info)
{
    const char* names[] = {"fastest", "literal", "scalar", "avx2", "avx512"};
    const auto [path, threads] = info.param;
    return std::string(names[static_cast<int>(path)]) + "_" +
           (threads == 0 ? std::string("automatic") : std::to_string(threads) + "_threads");
}

INSTANTIATE_TEST_SUITE_P(
    LaneKernelTest, EveryPath,
    testing::Values(PathAndThreads{KernelPath::literal, 1}, PathAndThreads{KernelPath::scalar, 1},
                    PathAndThreads{KernelPath::scalar, 3}, PathAndThreads{KernelPath::avx2, 1},
                    PathAndThreads{KernelPath::avx2, 3}, PathAndThreads{KernelPath::avx512, 1},
                    PathAndThreads{KernelPath::avx512, 3}, PathAndThreads{KernelPath::fastest, 0}),
    path_name);

}  // namespace

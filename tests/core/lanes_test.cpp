#include "filter/lanes/lanes.h"

#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "filter/lumasift.h"
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

TEST(LaneKernelsForTest, GivesTheAskedSetWhereTheProcessorHasIt)
{
    EXPECT_EQ(lane_kernels_for(KernelChoice::literal).filter_line, nullptr);
    const LineFilter fastest = lane_kernels_for(KernelChoice::fastest).filter_line;
    EXPECT_NE(fastest, nullptr);
    EXPECT_EQ(fastest, lane_kernels_for(INSTRUCTION_SETS[0].choice).filter_line);
    for (const InstructionSet& set : INSTRUCTION_SETS) {
        const LineFilter own = set.kernels().filter_line;
        EXPECT_EQ(lane_kernels_for(set.choice).filter_line, own != nullptr ? own : fastest) << set.name;
        EXPECT_EQ(has_kernels(set.choice), own != nullptr) << set.name;
    }
    EXPECT_NE(scalar_kernels().filter_line, nullptr);
}

using PathAndThreads = std::tuple<KernelChoice, int>;

class EveryPath : public testing::TestWithParam<PathAndThreads> {
protected:
    void SetUp() override
    {
        const auto [choice, threads] = GetParam();
        if (!has_kernels(choice)) {
            GTEST_SKIP() << "this processor lacks the instructions";
        }
        options.kernels = choice;
        options.threads = threads;
    }

    void expect_literal_results(const SceneSet& set) const
    {
        for (std::size_t i = 0; i < set.scenes.size(); ++i) {
            const Scene& s = set.scenes[i];
            const std::vector<double> actual = run_filter(s, options);
            const long at = first_difference(actual, set.expected[i]);
            ASSERT_EQ(at, -1) << s.description << "; first difference at index " << at << ": "
                              << actual[at] << " instead of " << set.expected[i][at];
        }
    }

    CallOptions options;
};

TEST_P(EveryPath, MatchesTheLiteralEvaluationOnSmallImages)
{
    expect_literal_results(small_images());
}

TEST_P(EveryPath, MatchesTheLiteralEvaluationOnLargeImages)
{
    expect_literal_results(large_images());
}

// Every lane path on the windows and edges that reach each kernel: interior
// spans with and without edges in each group, border spans, and the
// wedge-by-wedge kernel past the largest schedule.
class EveryLanePath : public EveryPath {
protected:
    // The product against the rule at some pixels: whole columns through
    // interior spans and the border, and whole rows.
    void expect_rule_at(const Scene& s, const std::vector<int>& columns, const std::vector<int>& rows) const
    {
        std::vector<std::pair<int, int>> pixels;
        for (const int c : columns) {
            for (int r = 0; r < s.rows; ++r) {
                pixels.emplace_back(r, c);
            }
        }
        for (const int r : rows) {
            for (int c = 0; c < s.cols; ++c) {
                pixels.emplace_back(r, c);
            }
        }
        static std::map<std::string, std::vector<double>> known;
        std::vector<double>& expected = known[s.description];
        if (expected.empty()) {
            expected = reference_lumasift_at(s.x1.data(), s.x2.data(), s.rows, s.cols, s.x3, s.x4, pixels);
        }
        const std::vector<double> actual = run_filter(s, options);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const auto [r, c] = pixels[i];
            const double y = actual[static_cast<std::size_t>(c) * s.rows + r];
            ASSERT_EQ(first_difference({y}, {expected[i]}), -1)
                << s.description << "; pixel (" << r << ", " << c << "): " << y << " instead of " << expected[i];
        }
    }
};

// Reach 32, the largest scheduled reach (100) and one past it, on an image
// just large enough for interior spans at reach 100: 215 lines, and 240
// positions of which 101 to 138 are interior. Catches, among others, a mark
// buffer or an edge row's front sized for a smaller reach, and a schedule
// built one reach too far.
TEST_P(EveryLanePath, WideWindowsAtAndPastTheLargestSchedule)
{
    std::uint64_t seed = 30;
    for (const int reach : {32, MAX_SCHEDULED_REACH, MAX_SCHEDULED_REACH + 1}) {
        for (const EdgeKind kind : {EDGE_LINES, reach == 32 ? SPARSE_EDGES : BORDER_EDGES}) {
            const Scene s = make_scene(240, 215, (reach + 0.5 - 1.0) / 3.0, 0.6, kind, kind == SPARSE_EDGES, ++seed);
            expect_rule_at(s, {0, 1, 57, 106, 107, 108, 150, 213, 214}, {0, 100, 119, 120, 239});
        }
    }
}

// Blocks without edges, wider than two spans, with one lone edge moved over
// every place of the spans and their windows, along positions and along
// lines. Catches an edge spread one position short of the reach, a window
// that ORs one line too few, and a group's pattern bit given to the group
// beside it: each makes a shadowed lane take the plain kernel's near weights.
TEST_P(EveryLanePath, LoneEdgesAnywhereInEdgeFreeBlocks)
{
    for (const double x3 : {1.0, 3.0}) {  // reach 4 and 10
        Scene s = make_scene(150, 70, x3, 0.2, NO_EDGES, false, 40);
        for (int row = 25; row < 120; ++row) {
            s.x2.assign(s.x2.size(), 0.0);
            s.x2[static_cast<std::size_t>(35) * s.rows + row] = 200.0;
            s.description = "lone edge at row " + std::to_string(row) + ", x3 " + std::to_string(x3);
            expect_rule_at(s, {35 - 11, 35 - 4, 34, 35, 36, 35 + 4, 35 + 11}, {row - 10, row - 1, row, row + 3});
        }
        for (int col = 15; col < 56; ++col) {
            s.x2.assign(s.x2.size(), 0.0);
            s.x2[static_cast<std::size_t>(col) * s.rows + 70] = 200.0;
            s.description = "lone edge at column " + std::to_string(col) + ", x3 " + std::to_string(x3);
            expect_rule_at(s, {col - 10, col - 4, col, col + 1, col + 4, col + 10}, {60, 69, 70, 71, 80});
        }
    }
}

// Whole 1000 x 1000 images, byte for byte, at reach 1, 4 and 10, with lines
// of edges and edges on the border: every kernel at once, every border.
TEST_P(EveryLanePath, MegapixelImagesByteForByte)
{
    static std::vector<std::vector<double>> expected;
    const double widths[] = {0.0, 1.0, 3.0};
    for (int k = 0; k < 3; ++k) {
        Scene s = lined_scene(1000, 1000, widths[k], 0.4);
        for (int i = 0; i < 1000; i += 3) {
            s.x2[i] = s.x2[999 * 1000 + i] = s.x2[static_cast<std::size_t>(i) * 1000] = 180.0;
        }
        if (expected.size() <= static_cast<std::size_t>(k)) {
            expected.push_back(reference_lumasift(s.x1.data(), s.x2.data(), 1000, 1000, s.x3, s.x4));
        }
        const long at = first_difference(run_filter(s, options), expected[k]);
        ASSERT_EQ(at, -1) << "x3 " << s.x3 << ": first difference at row " << at % 1000 << ", column " << at / 1000;
    }
}

// Each instruction set on several threads, and the fastest as chosen.
std::vector<PathAndThreads> lane_choices()
{
    std::vector<PathAndThreads> choices;
    for (const KernelChoice choice : every_kernel_choice(false)) {
        choices.emplace_back(choice, choice == KernelChoice::fastest ? 0 : 3);
    }
    return choices;
}

// Every choice on one thread and on several, the literal evaluation on its
// one, and the fastest as chosen.
std::vector<PathAndThreads> every_choice()
{
    std::vector<PathAndThreads> choices;
    for (const KernelChoice choice : every_kernel_choice(true)) {
        if (choice == KernelChoice::fastest) {
            choices.emplace_back(choice, 0);
            continue;
        }
        choices.emplace_back(choice, 1);
        if (choice != KernelChoice::literal) {
            choices.emplace_back(choice, 3);
        }
    }
    return choices;
}

std::string path_name(const testing::TestParamInfo<PathAndThreads>& info)
{
    const auto [choice, threads] = info.param;
    return kernel_name(choice) + "_" + (threads == 0 ? std::string("automatic") : std::to_string(threads) + "_threads");
}

INSTANTIATE_TEST_SUITE_P(LaneKernelTest, EveryLanePath, testing::ValuesIn(lane_choices()), path_name);

INSTANTIATE_TEST_SUITE_P(LaneKernelTest, EveryPath, testing::ValuesIn(every_choice()), path_name);

}  // namespace

#include "filter/filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "reference.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

std::vector<double> run_filter(const std::vector<double>& x1, const std::vector<double>& x2,
                               int rows, int cols, double x3, double x4)
{
    filter_state.rows = rows;
    filter_state.cols = cols;
    filter_state.sigma_near = x3;
    filter_state.sigma_far = x4;
    filter_state.sigma_active = x3;
    filter_state.window_radius = RADIUS_FACTOR * x3 + 1.0;
    std::vector<double> y(x1.size(), -7.0);
    filter_image(x1.data(), y.data(), x2.data());
    return y;
}

bool same_bits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// Index of the first element where the two images differ, or -1.
long first_difference(const std::vector<double>& a, const std::vector<double>& b)
{
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same_bits(a[i], b[i])) {
            return static_cast<long>(i);
        }
    }
    return a.size() == b.size() ? -1 : static_cast<long>(a.size());
}

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
    filter_state.rows = 0;
    filter_state.cols = 5;
    filter_image(nullptr, nullptr, nullptr);
    filter_state.rows = 5;
    filter_state.cols = 0;
    filter_image(nullptr, nullptr, nullptr);
}

TEST(FilterImageTest, NonPositiveOrNanReachGivesNan)
{
    for (const double x3 : {-0.7, -5.0, -Inf, NaN}) {
        EXPECT_TRUE(std::isnan(run_filter({1.0, 2.0}, {0.0, 0.0}, 1, 2, x3, 1.0)[1])) << x3;
    }
}

// A random image of one of several kinds, described for failure messages.
struct Scene {
    int rows;
    int cols;
    double x3;
    double x4;
    std::vector<double> x1;
    std::vector<double> x2;
    std::string description;
};

enum EdgeKind { NO_EDGES, SPARSE_EDGES, EDGE_LINES, BORDER_EDGES, ODD_VALUES, DENSE_EDGES, EDGE_KINDS };

std::vector<double> make_edges(EdgeKind kind, int rows, int cols, std::mt19937_64& rng)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x2(static_cast<std::size_t>(rows) * cols, 0.0);
    auto at = [&](int r, int c) -> double& { return x2[static_cast<std::size_t>(c) * rows + r]; };
    const double odd_values[] = {100.0, 100.9, 101.0, -500.0, NaN, Inf, -Inf, 1e10, -1e10,
                                 2147483648.0, 2147483647.9, 0.0, 150.0};
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const double u = unit(rng);
            switch (kind) {
            case SPARSE_EDGES: at(r, c) = u < 0.08 ? 101 + 150 * unit(rng) : 100 * unit(rng); break;
            case DENSE_EDGES: at(r, c) = u < 0.6 ? 255.0 : 0.0; break;
            case ODD_VALUES: at(r, c) = odd_values[rng() % std::size(odd_values)]; break;
            case BORDER_EDGES:
                if ((r == 0 || c == 0 || r == rows - 1 || c == cols - 1) && u < 0.5) {
                    at(r, c) = 200.0;
                }
                break;
            default: break;
            }
        }
    }
    if (kind == EDGE_LINES) {
        const int line_row = static_cast<int>(rng() % rows);
        const int line_col = static_cast<int>(rng() % cols);
        for (int c = 0; c < cols; ++c) {
            at(line_row, c) = 200.0;
        }
        for (int r = 0; r < rows; ++r) {
            at(r, line_col) = 200.0;
            at(r, (r + line_col) % cols) = 200.0;
        }
    }
    return x2;
}

std::vector<double> make_values(bool with_non_finite, int rows, int cols, std::mt19937_64& rng)
{
    std::uniform_real_distribution<double> value(-2.0, 3.0);
    std::vector<double> x1(static_cast<std::size_t>(rows) * cols);
    for (double& v : x1) {
        v = value(rng);
        if (with_non_finite && rng() % 40 == 0) {
            const double specials[] = {NaN, Inf, -Inf};
            v = specials[rng() % 3];
        }
    }
    return x1;
}

std::vector<Scene> make_scenes(int count)
{
    struct Size {
        int rows, cols;
    };
    const Size sizes[] = {{1, 1},  {1, 7},  {9, 1},    {2, 2},    {3, 5},    {5, 3},
                          {7, 7},  {13, 6}, {16, 17},  {31, 29},  {1, 1000}, {1000, 1},
                          {3, 1000}, {1000, 2}, {40, 33}, {8, 64}};
    const double near_widths[] = {-0.7, -0.5, -1e-9, 0.0, 1e-300, 0.3, 0.5, 1.0,
                                  1.37, 2.5, 3.3, 1e9, Inf, NaN};
    const double far_widths[] = {4.0, 0.0, -2.0, NaN, 0.7, 1.0, Inf, 1e-3};
    std::mt19937_64 rng(20261208);
    std::vector<Scene> scenes;
    for (int i = 0; i < count; ++i) {
        const Size size = sizes[i % std::size(sizes)];
        Scene s{size.rows, size.cols, near_widths[rng() % std::size(near_widths)],
                far_widths[rng() % std::size(far_widths)], {}, {}, {}};
        // The literal evaluation walks its whole window even outside the
        // image; keep wide windows to small images so the sweep stays short.
        if (std::max(s.rows, s.cols) > 64 && !(std::fabs(s.x3) <= 1.37)) {
            s.x3 = 1.37;
        }
        const auto kind = static_cast<EdgeKind>((i / std::size(sizes)) % EDGE_KINDS);
        const bool non_finite = i % 5 == 0;
        s.x1 = make_values(non_finite, s.rows, s.cols, rng);
        s.x2 = make_edges(kind, s.rows, s.cols, rng);
        std::ostringstream text;
        text << "scene " << i << ": " << s.rows << "x" << s.cols << ", x3 " << s.x3 << ", x4 "
             << s.x4 << ", edge kind " << kind << (non_finite ? ", non-finite x1" : "");
        s.description = text.str();
        scenes.push_back(std::move(s));
    }
    return scenes;
}

TEST(FilterImageTest, MatchesTheLiteralEvaluationBitForBit)
{
    for (const Scene& s : make_scenes(480)) {
        const std::vector<double> expected =
            reference_lumasift(s.x1.data(), s.x2.data(), s.rows, s.cols, s.x3, s.x4);
        const std::vector<double> actual = run_filter(s.x1, s.x2, s.rows, s.cols, s.x3, s.x4);
        const long at = first_difference(actual, expected);
        ASSERT_EQ(at, -1) << s.description << "; first difference at index " << at << ": "
                          << actual[at] << " instead of " << expected[at];
    }
}

TEST(FilterImageTest, LaterCallsAreNotAffectedByEarlierOnes)
{
    const std::vector<Scene> scenes = make_scenes(32);
    std::vector<std::vector<double>> first;
    for (const Scene& s : scenes) {
        first.push_back(run_filter(s.x1, s.x2, s.rows, s.cols, s.x3, s.x4));
    }
    for (std::size_t i = scenes.size(); i-- > 0;) {
        const Scene& s = scenes[i];
        EXPECT_EQ(first_difference(run_filter(s.x1, s.x2, s.rows, s.cols, s.x3, s.x4), first[i]), -1)
            << s.description;
    }
}

}  // namespace

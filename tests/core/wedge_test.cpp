#include "filter/wedge.h"

#include <cmath>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "filter/filter.h"
#include "filter/sample.h"

using namespace lumasift;

namespace {

constexpr double NEAR = 1.0;  // reach 4
constexpr double FAR = 4.0;

void set_up_image(int rows, int cols, const std::vector<std::pair<int, int>>& edge_pixels)
{
    filter_state.rows = rows;
    filter_state.cols = cols;
    filter_state.sigma_near = NEAR;
    filter_state.sigma_far = FAR;
    filter_state.window_radius = 3.0 * NEAR + 1.0;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            filter_state.edge_plane[r][c] = 0;
        }
    }
    for (const auto& [r, c] : edge_pixels) {
        filter_state.edge_plane[r][c] = 200;
    }
}

// With value 1 at one sample and 0 everywhere else, the sum that wedge_sum
// returns is exactly the weight that sample entered with (twice over if it
// was visited twice, 0 if never).
double probe_weight(int a, int b, int dr, int dc)
{
    for (int r = 0; r < filter_state.rows; ++r) {
        for (int c = 0; c < filter_state.cols; ++c) {
            filter_state.value_plane[r][c] = 0.0;
            filter_state.label_plane[r][c] = NO_LABEL;
        }
    }
    filter_state.value_plane[a + dr][b + dc] = 1.0;
    filter_state.weight_total = 0.0;
    const double sum = wedge_sum(a, b, a * filter_state.cols + b);
    EXPECT_EQ(filter_state.sigma_active, NEAR) << "width left switched after the call";
    return sum;
}

// Checks every in-image offset of the reach-4 window around (a, b): visited
// once with the width that `uses_far` names, except the centre, which enters
// twice with weight 1.
void expect_widths(int a, int b, const std::function<bool(int dr, int dc)>& uses_far)
{
    for (int dr = -4; dr <= 4; ++dr) {
        for (int dc = -4; dc <= 4; ++dc) {
            const int r = a + dr;
            const int c = b + dc;
            if (r < 0 || r >= filter_state.rows || c < 0 || c >= filter_state.cols) {
                continue;
            }
            const double distance = std::sqrt(static_cast<double>(dr * dr + dc * dc));
            const double expected =
                (dr == 0 && dc == 0) ? 2.0 : sample_weight(distance, uses_far(dr, dc) ? FAR : NEAR);
            EXPECT_EQ(probe_weight(a, b, dr, dc), expected) << "offset (" << dr << ", " << dc << ")";
        }
    }
}

TEST(WindowReachTest, TruncatesTowardZeroAndClampsToTheImage)
{
    EXPECT_EQ(window_reach(4.0, 20, 20), 4);
    EXPECT_EQ(window_reach(1.9, 20, 20), 1);
    EXPECT_EQ(window_reach(0.5, 20, 20), 0);
    EXPECT_EQ(window_reach(-0.999, 20, 20), 0);
    EXPECT_EQ(window_reach(-1.0, 20, 20), -1);
    EXPECT_EQ(window_reach(-1e300, 20, 20), -1);
    EXPECT_EQ(window_reach(-std::numeric_limits<double>::infinity(), 20, 20), -1);
    EXPECT_EQ(window_reach(std::numeric_limits<double>::quiet_NaN(), 20, 20), -1);
    EXPECT_EQ(window_reach(3e9 + 1, 7, 1000), 1000);
    EXPECT_EQ(window_reach(std::numeric_limits<double>::infinity(), 30, 2), 30);
    EXPECT_EQ(window_reach(20.0, 20, 3), 20);
}

TEST(WedgeSumTest, WithoutEdgesEverySampleUsesTheNearWidth)
{
    set_up_image(11, 11, {});
    expect_widths(5, 5, [](int, int) { return false; });
    expect_widths(0, 0, [](int, int) { return false; });
    expect_widths(10, 3, [](int, int) { return false; });
}

TEST(WedgeSumTest, EdgeAtTheCentreShadowsTheCentreRowAndTheLowerHalvesOfBothSides)
{
    set_up_image(11, 11, {{5, 5}});
    expect_widths(5, 5, [](int dr, int dc) { return dr >= 0 && std::abs(dc) >= dr; });
}

TEST(WedgeSumTest, VerticalEdgeLineShadowsEverythingFromItOutward)
{
    std::vector<std::pair<int, int>> line;
    for (int r = 0; r < 11; ++r) {
        line.emplace_back(r, 7);
    }
    set_up_image(11, 13, line);
    expect_widths(5, 5, [](int, int dc) { return dc >= 2; });
}

TEST(WedgeSumTest, TopRowEdgeOnADiagonalWalkPassesNoShadowOn)
{
    set_up_image(8, 10, {{0, 4}});
    expect_widths(2, 2, [](int dr, int dc) { return dr == -2 && dc == 2; });
}

TEST(WedgeSumTest, TopRowEdgeOnARayShadowsTheRayAndItsLowerDiagonals)
{
    set_up_image(6, 10, {{0, 5}});
    expect_widths(0, 3, [](int dr, int dc) { return dc - dr >= 2; });
}

TEST(WedgeSumTest, MarkPastTheLastColumnIsDropped)
{
    set_up_image(2, PLANE_STRIDE, {{0, PLANE_STRIDE - 1}});
    probe_weight(0, PLANE_STRIDE - 1, 0, 0);
    EXPECT_EQ(filter_state.label_plane[1][0], NO_LABEL);
}

}  // namespace

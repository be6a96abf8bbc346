// The float approximation of narrower classes against the exact evaluation:
// the same bits on images made to sit on rounding boundaries, the exact
// fallback seen to run, and the bound held to a plain statement of it.
#include "filter/certify.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filter/lanes/lanes.h"
#include "filter/lanes/tables.h"
#include "filter/wedge.h"
#include "filter/lumasift.h"
#include "support/reference.h"
#include "support/scenes.h"

using namespace lumasift;

namespace {

// Images of values in [0, 255] whose results fall on, or next to, the
// rounding boundaries of bytes, with edges of a scene of the same size.
struct Picture {
    std::string name;
    std::vector<double> values;
};

std::vector<Picture> boundary_pictures(int rows, int cols, std::uint64_t seed)
{
    const auto at = [rows](int i) { return std::pair{i % rows, i / rows}; };
    std::vector<Picture> pictures;
    const int n = rows * cols;
    const auto make = [&](const std::string& name, auto value) {
        Picture picture{name, std::vector<double>(n)};
        for (int i = 0; i < n; ++i) {
            const auto [r, c] = at(i);
            picture.values[i] = value(r, c, i);
        }
        pictures.push_back(picture);
    };
    std::uint64_t state = seed;
    const auto random = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<int>(state >> 56);
    };
    // Two adjacent values in a checkerboard: most means lie near k + 1/2.
    make("checkerboard 127/128", [](int r, int c, int) { return (r + c) % 2 == 0 ? 127.0 : 128.0; });
    make("checkerboard 0/1", [](int r, int c, int) { return (r + c) % 2 == 0 ? 0.0 : 1.0; });
    make("checkerboard 254/255", [](int r, int c, int) { return (r + c) % 2 == 0 ? 254.0 : 255.0; });
    // Ramps across the columns, one grey level a column: means of halves.
    make("ramp", [](int, int c, int) { return static_cast<double>(c % 256); });
    make("constant 200", [](int, int, int) { return 200.0; });
    make("extremes 0 and 255", [&random](int, int, int) { return random() % 2 == 0 ? 0.0 : 255.0; });
    make("random", [&random](int, int, int) { return static_cast<double>(random()); });
    return pictures;
}

// A grey image through the tiles, in a layout, with the approximation or not.
template <class T>
std::vector<T> smooth(const std::vector<double>& values, const std::vector<double>& edges, int rows, int cols,
                      ElementClass type, const Layout& layout, double x3, double x4, const CallOptions& options)
{
    const double shift = type == ElementClass::int8 ? 128.0 : 0.0;
    std::vector<T> input(values.size());
    for (int col = 0; col < cols; ++col) {
        for (int row = 0; row < rows; ++row) {
            input[offset_of(layout, row, col, 0)] = static_cast<T>(values[col * rows + row] - shift);
        }
    }
    std::vector<T> result(input.size());
    const TiledImage image{{input.data(), type, rows, cols, 1, layout}, edges.data(), ElementClass::float64, false,
                           column_major(rows, cols), result.data(), layout, 0.0};
    EXPECT_TRUE(filter_tiled(image, x3, x4, options));
    return result;
}

class ApproximationPaths : public testing::TestWithParam<KernelChoice> {
protected:
    void SetUp() override
    {
        if (!has_kernels(GetParam())) {
            GTEST_SKIP() << "this processor lacks the instructions";
        }
    }
};

// Every picture, grey as uint8 and int8 in two layouts and as colour, at
// three widths, with the approximation and without: the same bits, and the
// exact fallback taken on the pictures made for it. The approximation's
// results are the rule's converted: the tiles' own tests hold the exact path
// to the literal evaluation.
TEST_P(ApproximationPaths, GiveTheExactBits)
{
    const int rows = 70;
    const int cols = 1100;  // two tiles across
    const Scene scene = make_scene(rows, cols, 1.0, 0.5, SPARSE_EDGES, false, 3);
    for (const double x3 : {0.9, 1.4, 2.4}) {
        for (const Picture& picture : boundary_pictures(rows, cols, 11)) {
            PathCounts counts;
            CallOptions approximate{GetParam(), 2, nullptr};
            approximate.counts = &counts;
            CallOptions exact = approximate;
            exact.approximate = false;
            const std::string what = picture.name + ", x3 " + std::to_string(x3);
            for (const Layout& layout : {column_major(rows, cols), Layout{cols, 1, rows * cols}}) {
                EXPECT_EQ((smooth<std::uint8_t>(picture.values, scene.x2, rows, cols, ElementClass::uint8, layout,
                                                x3, 0.5, approximate)),
                          (smooth<std::uint8_t>(picture.values, scene.x2, rows, cols, ElementClass::uint8, layout,
                                                x3, 0.5, exact)))
                    << what;
            }
            EXPECT_EQ((smooth<std::int8_t>(picture.values, scene.x2, rows, cols, ElementClass::int8,
                                           column_major(rows, cols), x3, 0.5, approximate)),
                      (smooth<std::int8_t>(picture.values, scene.x2, rows, cols, ElementClass::int8,
                                           column_major(rows, cols), x3, 0.5, exact)))
                << what;
            // Colour, which takes the exact path, whatever is asked: the
            // picture in red, shifted in green and mirrored in blue.
            const std::size_t n = picture.values.size();
            std::vector<std::uint8_t> rgb(3 * n);
            for (std::size_t i = 0; i < n; ++i) {
                rgb[i] = static_cast<std::uint8_t>(picture.values[i]);
                rgb[i + n] = static_cast<std::uint8_t>(picture.values[(i + 37) % n]);
                rgb[i + 2 * n] = static_cast<std::uint8_t>(255 - picture.values[i]);
            }
            const Layout layout = column_major(rows, cols);
            const ChannelWidths widths[COLOUR_CHANNELS] = {{x3, 0.5, 12.0}, {x3 * 0.8, 0.5, 9.0}, {x3 * 1.2, 0.5, 6.0}};
            std::vector<std::uint8_t> colour[2];
            for (int k = 0; k < 2; ++k) {
                colour[k].resize(rgb.size());
                const TiledImage image{{rgb.data(), ElementClass::uint8, rows, cols, 3, layout}, nullptr,
                                       ElementClass::float64, false, layout, colour[k].data(), layout, 0.0};
                EXPECT_TRUE(filter_colour_tiled(image, widths, k == 0 ? approximate : exact));
            }
            EXPECT_EQ(colour[0], colour[1]) << what << ", colour";
            if (picture.name.rfind("checkerboard", 0) == 0 && x3 > 1.0) {
                EXPECT_GT(counts.undecided, 0) << what << ": the fallback never ran";
            }
            EXPECT_GT(counts.approximated, 0) << what;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ApproximationTest, ApproximationPaths, testing::ValuesIn(every_kernel_choice(false)),
                         [](const testing::TestParamInfo<KernelChoice>& info) { return kernel_name(info.param); });

// The bound as the proof states it, in long double, apart from the
// product's arithmetic: for approximation y of a window of n samples of
// values never negative.
long double stated_bound(int n, long double y)
{
    const long double u = std::ldexp(1.0L, -53);
    const long double v = std::ldexp(1.0L, -24);
    const auto gamma = [](long double k, long double r) { return k * r / (1 - k * r); };
    const long double block = std::ceil(std::sqrt(static_cast<long double>(n)));
    const long double depth = 1 + block + std::ceil(n / block);
    const long double rho_s = gamma(depth + 2, v);
    const long double rho_t = gamma(depth + 1, v);
    const long double alpha = (rho_s + rho_t + v * (1 + rho_s)) / (1 - rho_t);
    const long double g = gamma(n, u);
    const long double alpha_d = (2 * g + u * (1 + g)) / (1 - g);
    const long double absolute = (3.0L * n + 2) * 256 * std::ldexp(1.0L, -58);
    const long double magnitude = (y + absolute) / (1 - alpha);
    return (alpha + alpha_d) * magnitude + absolute;
}

// The approximations of a uint8 picture, as the float kernels give them, lie
// within the stated bound of the exact rule; and the pixels the product
// leaves undecided are those whose interval the stated bound leaves so.
// A bound half as wide in certify.cpp fails the count.
TEST(ApproximationTest, UndecidedPixelsAreTheBoundsOwn)
{
    const int rows = 300;
    const int cols = 200;
    const Scene scene = make_scene(rows, cols, 1.4, 0.5, SPARSE_EDGES, false, 5);
    const LaneKernels kernels = lane_kernels_for(KernelChoice::fastest);
    for (const Picture& picture : boundary_pictures(rows, cols, 17)) {
        LanePass pass(cols, rows);
        std::vector<float> floats(picture.values.begin(), picture.values.end());
        std::vector<double> approximations(picture.values.size());
        pass.view = {picture.values.data(), approximations.data(), floats.data(), rows, rows, cols, rows,
                     0, cols, 0, rows};
        const int reach = window_reach(window_radius_for(scene.x3), rows, cols);
        build_tables(pass, reach, scene.x3, scene.x4, rows, std::min(rows, cols));
        for (int line = 0; line < cols; ++line) {
            pack_line_edges(pass, kernels, line, scene.x2.data() + line * rows, rows);
        }
        CallState call{};
        ASSERT_TRUE(filter_lane_view(call, pass, kernels.approximate_line));
        const std::vector<double> exact =
            reference_lumasift(picture.values.data(), scene.x2.data(), rows, cols, scene.x3, scene.x4);
        const int samples = (2 * reach + 1) * (2 * reach + 1);
        std::int64_t stated_undecided = 0;
        double worst = 0.0;
        for (std::size_t i = 0; i < exact.size(); ++i) {
            const long double bound = stated_bound(samples, approximations[i]);
            const long double error = std::fabs(static_cast<long double>(approximations[i]) - exact[i]);
            ASSERT_LE(error, bound) << picture.name << ", pixel " << i;
            worst = std::max(worst, static_cast<double>(error / bound));
            const long double low = approximations[i] - bound;
            const long double high = approximations[i] + bound;
            stated_undecided += std::floor(low + 0.5L) != std::floor(high + 0.5L);
        }
        PathCounts counts;
        CallOptions options;
        options.counts = &counts;
        smooth<std::uint8_t>(picture.values, scene.x2, rows, cols, ElementClass::uint8, column_major(rows, cols),
                             scene.x3, scene.x4, options);
        EXPECT_EQ(counts.approximated, rows * cols) << picture.name;
        EXPECT_EQ(counts.undecided, stated_undecided) << picture.name << "; worst error " << worst << " of the bound";
    }
}

}  // namespace

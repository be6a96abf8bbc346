#include "filter/tiles.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "filter/edge_blocks.h"
#include "filter/lanes/lanes.h"
#include "filter/lumasift.h"
#include "support/host_conversion.h"
#include "support/reference.h"
#include "support/scenes.h"

using namespace lumasift;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The rule on the whole image, with planes as large as it; worked out once
// for all paths.
const std::vector<double>& whole_image_rule(const Scene& s)
{
    static std::map<std::string, std::vector<double>> known;
    std::vector<double>& rule = known[s.description];
    if (rule.empty()) {
        rule = reference_lumasift(s.x1.data(), s.x2.data(), s.rows, s.cols, s.x3, s.x4,
                                  s.rows > s.cols ? s.rows : s.cols);
    }
    return rule;
}

std::vector<double> run_tiled(const Scene& s, const CallOptions& options)
{
    std::vector<double> y(s.x1.size(), -7.0);
    const Layout layout = column_major(s.rows, s.cols);
    const TiledImage image{{s.x1.data(), ElementClass::float64, s.rows, s.cols, 1, layout}, s.x2.data(),
                           ElementClass::float64, false, layout, y.data(), layout, 0.0};
    EXPECT_TRUE(tiles_fit(s.rows, s.cols, s.x3)) << s.description;
    EXPECT_TRUE(filter_tiled(image, s.x3, s.x4, options)) << s.description;
    return y;
}

class TiledPaths : public testing::TestWithParam<KernelChoice> {
protected:
    void SetUp() override
    {
        if (!has_kernels(GetParam())) {
            GTEST_SKIP() << "this processor lacks the instructions";
        }
        options.kernels = GetParam();
    }

    void expect_rule(const Scene& s) const
    {
        const std::vector<double> expected = whole_image_rule(s);
        const std::vector<double> actual = run_tiled(s, options);
        const long at = first_difference(actual, expected);
        ASSERT_EQ(at, -1) << s.description << "; first difference at row " << at % s.rows << ", column "
                          << at / s.rows << ": " << actual[at] << " instead of " << expected[at];
    }

    CallOptions options;
};

// Tall and wide images cut into tiles along one dimension, at reach 1, 4,
// 10 and 19, with edges on the border, lone edges, lines, odd edge values and
// NaN or infinite values.
TEST_P(TiledPaths, LongImagesGiveTheWholeImagesBits)
{
    const double widths[] = {0.0, 1.0, 3.0, 6.0};  // reach 1, 4, 10, 19
    const EdgeKind kinds[] = {BORDER_EDGES, SPARSE_EDGES, EDGE_LINES, ODD_VALUES};
    std::uint64_t seed = 1;
    for (const SceneSize size : {SceneSize{1500, 37}, SceneSize{41, 1400}}) {
        for (int k = 0; k < 4; ++k) {
            expect_rule(make_scene(size.rows, size.cols, widths[k], k % 2 == 0 ? 0.5 : 4.0, kinds[k],
                                   k == 1, seed++));
        }
    }
}

// Both dimensions cut, so that pixels near the corners of four tiles read
// all four tiles' margins.
TEST_P(TiledPaths, LargeImagesGiveTheWholeImagesBits)
{
    expect_rule(make_scene(1100, 1050, 0.0, 0.3, SPARSE_EDGES, true, 11));
    expect_rule(make_scene(1003, 1210, 1.0, 2.0, BORDER_EDGES, false, 12));
}

// The widest window that tiles take: two kept rows per tile, 501 tiles.
TEST_P(TiledPaths, WidestWindowGivesTheWholeImagesBits)
{
    const double x3 = (widest_tiled_reach() + 0.5 - 1.0) / 3.0;
    ASSERT_TRUE(tiles_fit(2049, 2, x3));
    expect_rule(make_scene(2049, 2, x3, 1.0, EDGE_LINES, false, 13));
}

// Up to 1000 a side the image is one tile: filter_call's bits, in place.
TEST_P(TiledPaths, ImagesThatFitThePlanesGiveTheModulesBits)
{
    for (const Scene& s : make_scenes(12, {{1, 1}, {7, 40}, {1000, 3}, {64, 65}},
                                      {-0.7, 0.3, 1.0, 2.5, 1e9, NaN}, 64, 14)) {
        const long at = first_difference(run_tiled(s, options), run_filter(s, options));
        EXPECT_EQ(at, -1) << s.description;
    }
}

// Edges made from the image: the statistics do not depend on the threads,
// the whole map's on this path equals the plain kernels' (NaN in some
// channels, so that NaN must lose to a number), and a
// tiled call that makes each tile's edges gives the bits of the same call
// handed the whole map, as does a call on a region of it. The statistics
// gathered from parts' records are the image's, and the image read in C
// order gives the same maps and results. Three channels over 1000 a side
// both ways, so tiles and units of columns start and end everywhere.
TEST_P(TiledPaths, EdgesMadeTileByTileAreTheWholeMapsEdges)
{
    const int rows = 1300;
    const int cols = 1150;
    const std::size_t pixels = static_cast<std::size_t>(rows) * cols;
    std::vector<double> values;
    for (int c = 0; c < 3; ++c) {
        const Scene channel = make_scene(rows, cols, 1.0, 0.5, NO_EDGES, c == 1, 41 + c);
        values.insert(values.end(), channel.x1.begin(), channel.x1.end());
    }
    for (const std::size_t at : {std::size_t{0}, pixels / 2, pixels - 1}) {
        for (int c = 0; c < 3; ++c) {
            values[c * pixels + at] = NaN;  // no channel has a magnitude near these
        }
    }
    const Layout layout = column_major(rows, cols);
    const HostImage image{values.data(), ElementClass::float64, rows, cols, 3, layout};
    ImageStatistics statistics;
    ImageStatistics on_one_thread;
    ASSERT_TRUE(measure_image(image, on_one_thread, {options.kernels, 1, nullptr}));
    ASSERT_TRUE(measure_image(image, statistics, {options.kernels, 3, nullptr}));
    ASSERT_EQ(statistics.noise, on_one_thread.noise);
    ASSERT_EQ(statistics.scale, on_one_thread.scale);
    ASSERT_EQ(statistics.texture, on_one_thread.texture);
    ASSERT_EQ(statistics.fine_texture, on_one_thread.fine_texture);
    // Gathered as a cluster gathers them: two parts' records, the second
    // part starting on a whole block.
    ImageRange range{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    ASSERT_TRUE(measure_range(image, scale_block_side(rows, cols), range));
    std::vector<BlockRecord> records;
    for (const std::ptrdiff_t first_col : {0, 640}) {
        BlockLattice lattice = noise_lattice(rows, cols, 3, ElementClass::float64, range);
        lattice.first_col = first_col;
        const HostImage part{values.data() + first_col * rows, ElementClass::float64, rows,
                             first_col == 0 ? 640 : cols - 640, 3, layout};
        std::vector<BlockRecord> part_records(most_block_records(part, lattice));
        std::size_t count = 0;
        ASSERT_TRUE(record_blocks(part, lattice, part_records.data(), count, options));
        records.insert(records.end(), part_records.begin(), part_records.begin() + static_cast<std::ptrdiff_t>(count));
    }
    ImageStatistics gathered{0.0, scale_of(range), 0.0, 0.0, 0.0};
    statistics_of_records(records.data(), records.size(), gathered);
    ASSERT_EQ(gathered.scale, statistics.scale);
    ASSERT_EQ(gathered.noise, statistics.noise);
    ASSERT_EQ(gathered.texture, statistics.texture);
    ASSERT_EQ(gathered.fine_texture, statistics.fine_texture);
    const double threshold = default_parameters(statistics, 3).threshold;
    ASSERT_GT(threshold, 0.0);

    std::vector<double> edges(pixels);
    ASSERT_TRUE(edge_map(image, threshold, edges.data(), layout, options));
    std::vector<double> plain_edges(pixels);
    const EdgeBlock whole{0, rows, 0, cols, plain_edges.data(), rows, nullptr, nullptr};
    CallState call{};
    ASSERT_TRUE(make_edges(call, image, threshold, scalar_kernels().edges, whole));
    ASSERT_EQ(first_difference(edges, plain_edges), -1);

    std::vector<double> given(values.size(), -7.0);
    std::vector<double> made(values.size(), -7.0);
    const TiledImage with_map{image, edges.data(), ElementClass::float64, false, layout, given.data(), layout, 0.0};
    const TiledImage without_map{image, nullptr, ElementClass::float64, false, layout, made.data(), layout, threshold};
    ASSERT_TRUE(filter_tiled(with_map, 1.0, 0.5, options));
    ASSERT_TRUE(filter_tiled(without_map, 1.0, 0.5, options));
    EXPECT_EQ(first_difference(made, given), -1);

    // The image in numpy's C order, channels interleaved, read through its
    // strides into maps and results in C order: the same bits.
    const Layout c_order{cols * 3, 3, 1};
    std::vector<double> interleaved(values.size());
    for (int c = 0; c < 3; ++c) {
        for (std::size_t at = 0; at < pixels; ++at) {
            interleaved[offset_of(c_order, at % rows, at / rows, c)] = values[c * pixels + at];
        }
    }
    const HostImage c_image{interleaved.data(), ElementClass::float64, rows, cols, 3, c_order};
    const Layout c_map{cols, 1, 0};
    std::vector<double> c_edges(pixels);
    ASSERT_TRUE(edge_map(c_image, threshold, c_edges.data(), c_map, options));
    std::vector<double> c_made(values.size(), -7.0);
    const TiledImage c_without_map{c_image, nullptr, ElementClass::float64, false, c_order, c_made.data(), c_order,
                                   threshold};
    ASSERT_TRUE(filter_tiled(c_without_map, 1.0, 0.5, options));
    for (std::size_t at = 0; at < values.size(); ++at) {
        const std::ptrdiff_t row = at % rows;
        const std::ptrdiff_t col = at / rows % cols;
        if (at < pixels) {
            ASSERT_EQ(std::memcmp(&c_edges[offset_of(c_map, row, col, 0)], &edges[at], sizeof(double)), 0) << at;
        }
        ASSERT_EQ(std::memcmp(&c_made[offset_of(c_order, row, col, at / pixels)], &made[at], sizeof(double)), 0) << at;
    }

    // As colour: the opponent channels' statistics on any threads and
    // gathered from parts' records, and each channel's own edges made tile by
    // tile, at widths of three reaches, the bits of whole maps given.
    ImageStatistics colour[COLOUR_CHANNELS];
    ImageStatistics colour_on_one_thread[COLOUR_CHANNELS];
    ASSERT_TRUE(measure_colour(image, colour, {options.kernels, 3, nullptr}));
    ASSERT_TRUE(measure_colour(image, colour_on_one_thread, {options.kernels, 1, nullptr}));
    ChannelWidths widths[COLOUR_CHANNELS] = {{1.0, 0.5, 0.0}, {2.0, 0.7, 0.0}, {0.6, 0.3, 0.0}};
    std::vector<double> colour_edges(values.size());
    for (int c = 0; c < COLOUR_CHANNELS; ++c) {
        ASSERT_EQ(colour[c].noise, statistics.noise);
        ASSERT_EQ(colour[c].texture, colour_on_one_thread[c].texture);
        ASSERT_EQ(colour[c].fine_texture, colour_on_one_thread[c].fine_texture);
        std::vector<BlockRecord> opponent_records;
        for (const std::ptrdiff_t first_col : {0, 640}) {
            BlockLattice lattice = texture_lattice(rows, cols);
            lattice.first_col = first_col;
            const HostImage part{values.data() + first_col * rows, ElementClass::float64, rows,
                                 first_col == 0 ? 640 : cols - 640, 3, layout};
            const HostImage opponent = opponent_channel(part, c);
            std::vector<BlockRecord> part_records(most_block_records(opponent, lattice));
            std::size_t count = 0;
            ASSERT_TRUE(record_blocks(opponent, lattice, part_records.data(), count, options));
            opponent_records.insert(opponent_records.end(), part_records.begin(),
                                    part_records.begin() + static_cast<std::ptrdiff_t>(count));
        }
        ImageStatistics opponent_gathered = gathered;
        texture_of_records(opponent_records.data(), opponent_records.size(), opponent_gathered);
        ASSERT_EQ(opponent_gathered.texture, colour[c].texture);
        ASSERT_EQ(opponent_gathered.fine_texture, colour[c].fine_texture);
        widths[c].edge_threshold = default_parameters(colour[c], 1).threshold;
        ASSERT_TRUE(edge_map(opponent_channel(image, c), widths[c].edge_threshold, colour_edges.data() + c * pixels,
                             layout, options));
    }
    std::vector<double> colour_given(values.size(), -7.0);
    std::vector<double> colour_made(values.size(), -7.0);
    const TiledImage colour_with_maps{image, colour_edges.data(), ElementClass::float64, true, layout,
                                      colour_given.data(), layout, 0.0};
    const TiledImage colour_without_maps{image, nullptr, ElementClass::float64, false, layout, colour_made.data(),
                                         layout, 0.0};
    ASSERT_TRUE(filter_colour_tiled(colour_with_maps, widths, options));
    ASSERT_TRUE(filter_colour_tiled(colour_without_maps, widths, options));
    EXPECT_EQ(first_difference(colour_made, colour_given), -1);
    std::vector<double> c_colour_made(values.size(), -7.0);
    const TiledImage c_colour{c_image, nullptr, ElementClass::float64, false, c_order, c_colour_made.data(), c_order,
                              0.0};
    ASSERT_TRUE(filter_colour_tiled(c_colour, widths, options));
    for (std::size_t at = 0; at < values.size(); ++at) {
        const std::ptrdiff_t at_c = offset_of(c_order, at % rows, at / rows % cols, at / pixels);
        ASSERT_EQ(std::memcmp(&c_colour_made[at_c], &colour_made[at], sizeof(double)), 0) << at;
    }

    // A region alone, the rest of the image its context, over tiles that
    // begin outside it: those pixels' bits.
    const PixelRegion kept{137, 1100, 301, 700};
    std::vector<double> region(static_cast<std::size_t>(kept.rows * kept.cols * 3), -7.0);
    const TiledImage region_only{image,     nullptr,   ElementClass::float64, false, layout, region.data(),
                                 column_major(kept.rows, kept.cols), threshold, &kept};
    ASSERT_TRUE(filter_tiled(region_only, 1.0, 0.5, options));
    std::vector<double> colour_region(region.size(), -7.0);
    const TiledImage colour_region_only{image, nullptr, ElementClass::float64, false, layout, colour_region.data(),
                                        column_major(kept.rows, kept.cols), 0.0, &kept};
    ASSERT_TRUE(filter_colour_tiled(colour_region_only, widths, options));
    for (const auto& [whole, part] : {std::pair{&made, &region}, std::pair{&colour_made, &colour_region}}) {
        std::vector<double> cut;
        for (int c = 0; c < 3; ++c) {
            for (std::ptrdiff_t col = kept.first_col; col < kept.first_col + kept.cols; ++col) {
                const double* line = whole->data() + c * pixels + col * rows + kept.first_row;
                cut.insert(cut.end(), line, line + kept.rows);
            }
        }
        EXPECT_EQ(first_difference(*part, cut), -1);
    }
}

INSTANTIATE_TEST_SUITE_P(TilesTest, TiledPaths, testing::ValuesIn(every_kernel_choice(false)),
                         [](const testing::TestParamInfo<KernelChoice>& info) { return kernel_name(info.param); });

TEST(TilesTest, WindowsWiderThanATileAreRefused)
{
    const double widest = (widest_tiled_reach() + 0.5 - 1.0) / 3.0;
    const double too_wide = (widest_tiled_reach() + 1.5 - 1.0) / 3.0;
    EXPECT_TRUE(tiles_fit(1000, 1000, 1e9));
    EXPECT_TRUE(tiles_fit(2000, 2000, 1e9));
    EXPECT_TRUE(tiles_fit(2049, 5, widest));
    EXPECT_FALSE(tiles_fit(2049, 5, too_wide));
    EXPECT_FALSE(tiles_fit(5, 2049, too_wide));
    EXPECT_FALSE(tiles_fit(3000, 4000, std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(tiles_fit(3000, 4000, NaN));
    EXPECT_TRUE(tiles_fit(3000, 4000, -5.0));
}

// Calls from several threads at once, each on threads of its own: a call's
// workspace is its own, so each gives the bits it gives alone. A colour
// photograph's defaults (its statistics, the edges its tiles make, colour
// tiles) beside doubles given their edges, over two tiles each.
TEST(TilesTest, OverlappingCallsKeepTheirOwnBits)
{
    const int rows = 1100;
    const int cols = 24;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(rows) * cols * COLOUR_CHANNELS);
    std::uint32_t state = 7;
    for (std::uint8_t& pixel : pixels) {
        state = state * 1664525u + 1013904223u;
        pixel = static_cast<std::uint8_t>(state >> 24);
    }
    const HostImage photograph{pixels.data(), ElementClass::uint8, rows, cols, COLOUR_CHANNELS,
                               column_major(rows, cols)};
    const auto smooth_photograph = [&photograph, &pixels](const CallOptions& options) {
        CallParameters parameters;
        std::vector<std::uint8_t> result(pixels.size());
        const bool finished = settle_parameters(photograph, true, {}, {}, {}, false, parameters, options) &&
                              smooth_block(photograph, nullptr, parameters, result.data(), photograph.layout, options,
                                           nullptr);
        return finished ? result : std::vector<std::uint8_t>();
    };
    const Scene scene = make_scene(rows, cols, 1.3, 0.4, SPARSE_EDGES, true, 31);
    const std::vector<std::uint8_t> photograph_alone = smooth_photograph({});
    const std::vector<double> scene_alone = run_tiled(scene, {});
    int mismatches[4] = {};
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 4; ++caller) {
        callers.emplace_back([&, caller] {
            CallOptions options;
            options.threads = 1 + caller / 2;
            for (int call = 0; call < 3; ++call) {
                mismatches[caller] += caller % 2 == 0 ? smooth_photograph(options) != photograph_alone
                                                      : first_difference(run_tiled(scene, options), scene_alone) != -1;
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    for (const int count : mismatches) {
        EXPECT_EQ(count, 0);
    }
}

// Three channels of 1100 x 70 (two tiles down, two groups of lines across)
// with values spread over every class's range and beyond it, one edge map
// per channel. Each channel's result must be the rule on the channel's
// values as the class holds them, converted back as the host converts.
template <class T>
void expect_rule_in_class(ElementClass type)
{
    const int channels = 3;
    const Scene shape = make_scene(1100, 70, 1.0, 0.5, SPARSE_EDGES, false, 21);
    const std::size_t pixels = shape.x1.size();
    std::vector<T> input(pixels * channels);
    std::vector<double> edges(pixels * channels);
    for (std::size_t i = 0; i < input.size(); ++i) {
        const double scale[] = {1.0, 300.0, 7e4, 4e9};
        input[i] = host_conversion<T>(shape.x1[i % pixels] * scale[(i / 7) % 4] + (i % 13 == 0 ? 0.5 : 0.0));
        edges[i] = shape.x2[(i * 7) % pixels];
    }
    std::vector<T> expected;
    for (int c = 0; c < channels; ++c) {
        const std::vector<double> as_doubles(input.begin() + c * pixels, input.begin() + (c + 1) * pixels);
        for (const double y : reference_lumasift(as_doubles.data(), edges.data() + c * pixels, shape.rows,
                                                 shape.cols, shape.x3, shape.x4, shape.rows)) {
            expected.push_back(host_conversion<T>(y));
        }
    }
    ASSERT_EQ(result_class(type), type);
    // Column-major as the hosts keep it; numpy's C order, channels
    // interleaved; and rows reversed in memory with channels outermost.
    // Each layout holds the same image, so gives the same bits.
    const std::ptrdiff_t rows = shape.rows;
    const std::ptrdiff_t cols = shape.cols;
    const std::ptrdiff_t last_row = (rows - 1) * cols;
    const std::pair<Layout, std::ptrdiff_t> layouts[] = {{column_major(rows, cols), 0},
                                                         {{cols * channels, channels, 1}, 0},
                                                         {{-cols, 1, rows * cols}, last_row}};
    for (const auto& [layout, origin] : layouts) {
        std::vector<T> laid_out(input.size());
        std::vector<double> laid_out_edges(input.size());
        for (std::ptrdiff_t c = 0; c < channels; ++c) {
            for (std::ptrdiff_t col = 0; col < cols; ++col) {
                for (std::ptrdiff_t row = 0; row < rows; ++row) {
                    const std::ptrdiff_t at = origin + offset_of(layout, row, col, c);
                    laid_out[at] = input[(c * cols + col) * rows + row];
                    laid_out_edges[at] = edges[(c * cols + col) * rows + row];
                }
            }
        }
        std::vector<T> result(input.size());
        const TiledImage image{{laid_out.data() + origin, type, rows, cols, channels, layout},
                               laid_out_edges.data() + origin, ElementClass::float64, true, layout,
                               result.data() + origin, layout, 0.0};
        ASSERT_TRUE(filter_tiled(image, shape.x3, shape.x4));
        for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(input.size()); ++i) {
            const std::ptrdiff_t c = i / (rows * cols);
            const std::ptrdiff_t at = origin + offset_of(layout, i % rows, i / rows % cols, c);
            ASSERT_EQ(std::memcmp(&result[at], &expected[i], sizeof(T)), 0)
                << "class " << static_cast<int>(type) << ", steps " << layout.row_step << " " << layout.col_step
                << ", element " << i;
        }
    }
}

TEST(TilesTest, EveryClassGivesTheRuleConvertedAsTheHostConverts)
{
    expect_rule_in_class<double>(ElementClass::float64);
    expect_rule_in_class<float>(ElementClass::float32);
    expect_rule_in_class<std::int8_t>(ElementClass::int8);
    expect_rule_in_class<std::uint8_t>(ElementClass::uint8);
    expect_rule_in_class<std::int16_t>(ElementClass::int16);
    expect_rule_in_class<std::uint16_t>(ElementClass::uint16);
    expect_rule_in_class<std::int32_t>(ElementClass::int32);
    expect_rule_in_class<std::uint32_t>(ElementClass::uint32);
    expect_rule_in_class<std::int64_t>(ElementClass::int64);
    expect_rule_in_class<std::uint64_t>(ElementClass::uint64);
}

// The opponent basis as its definition states it, rows (1, 1, 1) / sqrt(3),
// (1, 0, -1) / sqrt(2) and (1, -2, 1) / sqrt(6), each entry the double
// nearest; its transpose undoes it.
constexpr double THIRD = 0.57735026918962576451;
constexpr double HALF = 0.70710678118654752440;
constexpr double SIXTH = 0.40824829046386301637;
constexpr double BASIS[3][3] = {{THIRD, THIRD, THIRD}, {HALF, 0.0, -HALF}, {SIXTH, -2.0 * SIXTH, SIXTH}};

// A colour image of each class, in three channels and in four with alpha,
// 1100 x 70 (two tiles down) with widths of three reaches: each opponent
// channel, (b0 x0 + b1 x1) + b2 x2 of the values as doubles, is the rule's
// result with its own widths and its channel of E, or the shared E, and
// each stored channel the transpose's sums of those, converted as the host
// converts; alpha comes back as it was.
template <class T>
void expect_colour_rule_in_class(ElementClass type)
{
    const Scene shape = make_scene(1100, 70, 1.0, 0.5, SPARSE_EDGES, false, 23);
    const std::size_t pixels = shape.x1.size();
    const ChannelWidths widths[COLOUR_CHANNELS] = {{1.0, 0.5, 0.0}, {2.2, 0.7, 0.0}, {0.5, 0.2, 0.0}};
    for (const std::ptrdiff_t channels : {3, 4}) {
        for (const bool edges_per_channel : {true, false}) {
            std::vector<T> input(pixels * channels);
            std::vector<double> edges(pixels * (edges_per_channel ? channels : 1));
            for (std::size_t i = 0; i < input.size(); ++i) {
                const double scale = std::is_floating_point_v<T> ? 300.0 : std::numeric_limits<T>::max() / 2.0;
                input[i] = host_conversion<T>(shape.x1[(i * 5) % pixels] * scale + (i % 11 == 0 ? 0.5 : 0.0));
            }
            for (std::size_t i = 0; i < edges.size(); ++i) {
                edges[i] = shape.x2[(i * 7) % pixels];
            }
            std::vector<double> smoothed[3];
            for (int c = 0; c < 3; ++c) {
                std::vector<double> opponent(pixels);
                for (std::size_t p = 0; p < pixels; ++p) {
                    opponent[p] = (BASIS[c][0] * static_cast<double>(input[p]) +
                                   BASIS[c][1] * static_cast<double>(input[pixels + p])) +
                                  BASIS[c][2] * static_cast<double>(input[2 * pixels + p]);
                }
                smoothed[c] = reference_lumasift(opponent.data(), edges.data() + (edges_per_channel ? c * pixels : 0),
                                                 shape.rows, shape.cols, widths[c].sigma_near, widths[c].sigma_far,
                                                 shape.rows);
            }
            std::vector<T> expected(input);  // alpha as it was
            for (int k = 0; k < 3; ++k) {
                for (std::size_t p = 0; p < pixels; ++p) {
                    expected[k * pixels + p] = host_conversion<T>(
                        (BASIS[0][k] * smoothed[0][p] + BASIS[1][k] * smoothed[1][p]) + BASIS[2][k] * smoothed[2][p]);
                }
            }
            // Column-major, and numpy's C order with channels interleaved.
            const Layout layouts[] = {column_major(shape.rows, shape.cols),
                                      {shape.cols * channels, channels, 1}};
            for (const Layout& layout : layouts) {
                // A shared map in C order has the layout of one channel.
                const bool interleaved = layout.channel_step == 1;
                const Layout edge_layout =
                    edges_per_channel || !interleaved ? layout : Layout{shape.cols, 1, 0};
                std::vector<T> laid_out(input.size());
                std::vector<double> laid_out_edges(edges.size());
                for (std::size_t i = 0; i < input.size(); ++i) {
                    const std::ptrdiff_t row = i % shape.rows;
                    const std::ptrdiff_t col = i / shape.rows % shape.cols;
                    laid_out[offset_of(layout, row, col, i / pixels)] = input[i];
                    if (i < edges.size()) {
                        laid_out_edges[offset_of(edge_layout, row, col, i / pixels)] = edges[i];
                    }
                }
                std::vector<T> result(input.size());
                const TiledImage image{{laid_out.data(), type, shape.rows, shape.cols, channels, layout},
                                       laid_out_edges.data(), ElementClass::float64, edges_per_channel, edge_layout,
                                       result.data(), layout, 0.0};
                ASSERT_TRUE(filter_colour_tiled(image, widths));
                for (std::size_t i = 0; i < input.size(); ++i) {
                    const std::ptrdiff_t at = offset_of(layout, i % shape.rows, i / shape.rows % shape.cols,
                                                        i / pixels);
                    ASSERT_EQ(std::memcmp(&result[at], &expected[i], sizeof(T)), 0)
                        << "class " << static_cast<int>(type) << ", " << channels << " channels, steps "
                        << layout.row_step << " " << layout.col_step << ", element " << i;
                }
            }
        }
    }
}

TEST(TilesTest, ColourIsTheRuleOnEachOpponentChannel)
{
    expect_colour_rule_in_class<double>(ElementClass::float64);
    expect_colour_rule_in_class<float>(ElementClass::float32);
    expect_colour_rule_in_class<std::uint8_t>(ElementClass::uint8);
    expect_colour_rule_in_class<std::int16_t>(ElementClass::int16);
    expect_colour_rule_in_class<std::int64_t>(ElementClass::int64);
}

TEST(TilesTest, LogicalValuesAndEdgesAndSharedEdgeMaps)
{
    const Scene shape = make_scene(40, 1200, 1.0, 0.5, NO_EDGES, false, 31);
    const std::size_t pixels = shape.x1.size();
    std::vector<std::uint8_t> mask(pixels);
    std::vector<std::uint8_t> logical_values(2 * pixels);
    std::vector<double> mask_as_edges(pixels);
    std::vector<double> values_as_doubles(2 * pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        mask[i] = (i * 2654435761u) % 97 < 3;
        mask_as_edges[i] = mask[i] ? 101.0 : 100.0;
    }
    for (std::size_t i = 0; i < 2 * pixels; ++i) {
        logical_values[i] = shape.x1[i % pixels] > (i < pixels ? 0.5 : 1.5);
        values_as_doubles[i] = logical_values[i];
    }
    std::vector<double> expected;
    for (int c = 0; c < 2; ++c) {
        const std::vector<double> part = reference_lumasift(values_as_doubles.data() + c * pixels,
                                                            mask_as_edges.data(), shape.rows, shape.cols,
                                                            shape.x3, shape.x4, shape.cols);
        expected.insert(expected.end(), part.begin(), part.end());
    }
    std::vector<double> result(2 * pixels, -7.0);
    const Layout layout = column_major(shape.rows, shape.cols);
    const TiledImage image{{logical_values.data(), ElementClass::logical, shape.rows, shape.cols, 2, layout},
                           mask.data(), ElementClass::logical, false, layout, result.data(), layout, 0.0};
    ASSERT_EQ(result_class(ElementClass::logical), ElementClass::float64);
    ASSERT_TRUE(filter_tiled(image, shape.x3, shape.x4));
    EXPECT_EQ(first_difference(result, expected), -1);
}

}  // namespace

#include "exact_arithmetic.h"

#include "tiles.h"

#include <algorithm>
#include <bitset>
#include <limits>
#include <type_traits>

#include "block_io.h"
#include "certify.h"
#include "edge_blocks.h"
#include "huge_pages.h"
#include "lanes/edge_bits.h"
#include "lanes/lanes.h"
#include "lanes/tables.h"
#include "parallel.h"
#include "wedge.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// One tile's extent along one dimension of the image, and the part of it
// that the tile keeps.
struct TileSpan {
    std::ptrdiff_t begin;
    std::ptrdiff_t end;
    std::ptrdiff_t kept_begin;
    std::ptrdiff_t kept_end;
};

struct TileCut {
    std::ptrdiff_t length;
    int margin;
    std::ptrdiff_t kept_first;
    std::ptrdiff_t kept_length;
    std::ptrdiff_t count;

    // The kept pixels [kept_first, kept_first + kept_length) of a dimension
    // `length` long, in parts of nearly equal length, each with its margins
    // at most `side` long: one part where they fit one tile.
    TileCut(std::ptrdiff_t length_, int margin_, std::ptrdiff_t kept_first_, std::ptrdiff_t kept_length_,
            std::ptrdiff_t side)
        : length(length_), margin(margin_), kept_first(kept_first_), kept_length(kept_length_),
          count(tile_of(kept_first_, kept_first_ + kept_length_).end - tile_of(kept_first_, kept_first_).begin <= side
                    ? 1
                    : (kept_length_ + (side - 2 * margin_) - 1) / (side - 2 * margin_))
    {
    }

    TileSpan tile_of(std::ptrdiff_t kept_begin, std::ptrdiff_t kept_end) const
    {
        return {kept_begin > margin ? kept_begin - margin : 0,
                kept_end + margin < length ? kept_end + margin : length, kept_begin, kept_end};
    }

    TileSpan tile(std::ptrdiff_t index) const
    {
        return tile_of(kept_first + index * kept_length / count, kept_first + (index + 1) * kept_length / count);
    }

    std::ptrdiff_t longest() const
    {
        std::ptrdiff_t longest = 0;
        for (std::ptrdiff_t index = 0; index < count; ++index) {
            const TileSpan span = tile(index);
            longest = span.end - span.begin > longest ? span.end - span.begin : longest;
        }
        return longest;
    }
};

// A plane of the call's workspace, on huge pages where the system allows:
// a call makes its planes anew, and faulting in their pages one by one
// would cost as much as filling them.
template <class T = double>
Scratch<T> new_plane(std::ptrdiff_t count)
{
    Scratch<T> plane(new T[static_cast<std::size_t>(count)]);
    prefer_huge_pages(plane.get(), static_cast<std::size_t>(count) * sizeof(T));
    return plane;
}

int image_reach(std::ptrdiff_t rows, std::ptrdiff_t cols, double sigma_near)
{
    constexpr std::ptrdiff_t LARGEST = std::numeric_limits<int>::max();
    return window_reach(window_radius_for(sigma_near), static_cast<int>(rows < LARGEST ? rows : LARGEST),
                        static_cast<int>(cols < LARGEST ? cols : LARGEST));
}

int tile_margin(int reach)
{
    return reach + 1 > 0 ? reach + 1 : 0;
}

// Tiles of a larger image are PREFERRED_TILE_SIDE a side, which bounds a
// call's workspace whatever the image's size and keeps a tile's lines at
// hand in cache; windows whose margins would leave such a tile little to
// keep take longer tiles, up to the lane engine's longest line.
constexpr std::ptrdiff_t PREFERRED_TILE_SIDE = COMMON_PASS_SIDE;

std::ptrdiff_t tile_side(int margin)
{
    return std::min<std::ptrdiff_t>(std::max<std::ptrdiff_t>(4 * margin, PREFERRED_TILE_SIDE), MAX_PASS_SIDE);
}

// Undecided pixels' flags, a line's worth, bit p - first for position p.
constexpr int UNDECIDED_WORDS = MAX_PASS_SIDE / 64 + 1;

// Ziv's test on up to 64 approximations: bit i set unless every value within
// reach[i] of centre[i] converts to the same value of T.
// - An unsigned class converts t to g(trunc(t + 1/2)) for a g that
//   saturates, so the same value wherever trunc(t + 1/2) is the same; and
//   truncation is monotone. The ends, moved out by `slack` (more than three
//   roundings of values up to twice the class's largest), bracket the exact
//   ends' truncations, so equal ones decide. Values in int's range, as those
//   of classes up to 16 bits are.
// - Any other class converts both ends, as the host does.
template <class T>
std::uint64_t undecided_of(const double* centre, const double* reach, int count)
{
    std::uint64_t bits = 0;
    if constexpr (std::is_unsigned_v<T> && sizeof(T) <= 2) {
        constexpr double slack = (static_cast<double>(std::numeric_limits<T>::max()) + 1.0) * 0x1p-48;
        std::int32_t differs[64];
        std::int32_t any = 0;
        for (int i = 0; i < count; ++i) {
            const double low = centre[i] - reach[i] - slack + 0.5;
            const double high = centre[i] + reach[i] + slack + 0.5;
            const bool ordered = low <= high;
            // NaN, which the approximations never are, would not truncate.
            differs[i] = !ordered || static_cast<std::int32_t>(ordered ? low : 0.0) !=
                                         static_cast<std::int32_t>(ordered ? high : 0.0);
            any |= differs[i];
        }
        // Most runs are decided whole: their flags need no gathering.
        for (int i = 0; any != 0 && i < count; ++i) {
            bits |= static_cast<std::uint64_t>(differs[i] != 0) << i;
        }
    } else {
        for (int i = 0; i < count; ++i) {
            const double low = centre[i] - reach[i];
            const double high = centre[i] + reach[i];
            bits |= static_cast<std::uint64_t>(!(low <= high) || converted<T>(low) != converted<T>(high)) << i;
        }
    }
    return bits;
}

// Evaluates exactly the undecided pixels among positions [first, end) of a
// line.
void evaluate_undecided(const LanePass& pass, int line, int first, int end, const std::uint64_t* undecided)
{
    for (int p = first; p < end; ++p) {
        if (undecided[(p - first) / 64] >> ((p - first) % 64) & 1u) {
            filter_pixels(pass, line, p, p + 1);
        }
    }
}

void count_paths(PathCounts* counts, std::int64_t approximated, std::int64_t undecided)
{
    if (counts != nullptr) {
        counts->approximated += approximated;
        counts->undecided += undecided;
    }
}

// One channel of one tile: where its values, edges and results are, and
// whether they pass through the call's planes.
struct TileWork {
    CallState* call;
    LanePass* pass;
    // The call's planes for values and results, a line every plane_stride.
    double* value_plane;
    double* result_plane;
    std::ptrdiff_t plane_stride;
    const LaneKernels* kernels;
    const TiledImage* image;
    const HostImage* edge_source;  // what made edges come from: the image, or one opponent channel of it
    double edge_threshold;
    std::ptrdiff_t channel;
    TileSpan rows;
    TileSpan cols;
    const PixelRegion* kept;  // the pixels the result holds
    bool load_values;  // values of another class than double go through the value plane
    bool load_edges;   // false where the edge bits still hold this tile's shared edge map
    bool store_results;
    // Not null: the values are read from held_values and the results wait
    // in `held` for the other colour channels', a line every held_stride,
    // the tile's first pixel first.
    const double* held_values;
    double* held;
    std::ptrdiff_t held_stride;
    // Not null: the tile is approximated from these floats, a line every
    // plane_stride, and its results certified within `bound` (certify.h).
    float* approximate_plane;
    const LinearBound* bound;
};

// Where element (position, line) of the tile's lane view lies in a layout:
// lines are the image's columns, positions its rows.
std::ptrdiff_t element_index(const TileWork& work, const Layout& layout, std::ptrdiff_t channel, std::ptrdiff_t line,
                             std::ptrdiff_t position)
{
    return offset_of(layout, work.rows.begin + position, work.cols.begin + line, channel);
}

// Where the result of element (position, line) of the tile's lane view lies.
std::ptrdiff_t result_index(const TileWork& work, std::ptrdiff_t line, std::ptrdiff_t position)
{
    return offset_of(work.image->result_layout, work.rows.begin + position - work.kept->first_row,
                     work.cols.begin + line - work.kept->first_col, work.channel);
}

// Lines whose elements lie rows apart (numpy's C order, say) are read and
// written across this many at a time (read_columns, write_columns).
constexpr int LINE_GROUP = TRANSPOSED_COLUMNS;

// Lines [first, first + count) of the tile's lane view, of group `group`.
struct LineGroup {
    int first;
    int count;
};

LineGroup line_group(int group, int first_line, int end_line)
{
    const int first = first_line + group * LINE_GROUP;
    return {first, end_line - first < LINE_GROUP ? end_line - first : LINE_GROUP};
}

int line_groups(int first_line, int end_line)
{
    return (end_line - first_line + LINE_GROUP - 1) / LINE_GROUP;
}

// The values of a group of lines as doubles.
void gather_values(const TileWork& work, const LineGroup& lines, int length)
{
    read_columns(work.image->pixels, work.channel, work.cols.begin + lines.first, lines.count, work.rows.begin, length,
                 work.value_plane + lines.first * work.plane_stride, work.plane_stride);
}

// The pass before filtering, for line `line` of the tile's lane view: its
// values as doubles, unless gather_values read them with their group.
void prepare_line(const TileWork& work, int line)
{
    double* values = work.value_plane + line * work.plane_stride;
    const TiledImage& image = *work.image;
    const int length = static_cast<int>(work.rows.end - work.rows.begin);
    const HostImage& pixels = image.pixels;
    if (pixels.layout.row_step == 1) {
        if (pixels.value_class == ElementClass::uint8) {
            const std::ptrdiff_t origin = element_index(work, pixels.layout, work.channel, line, 0);
            work.kernels->load_bytes(static_cast<const std::uint8_t*>(pixels.values) + origin, values, length);
        } else {
            read_column(pixels, work.channel, work.cols.begin + line, work.rows.begin, length, values);
        }
    }
    if (work.approximate_plane != nullptr) {
        float* floats = work.approximate_plane + line * work.plane_stride;
        for (int p = 0; p < length; ++p) {
            floats[p] = static_cast<float>(values[p]);
        }
    }
}

// Edge maps whose elements lie rows apart (numpy's C order, say) are read
// this many lines at a time, through scratch on the stack, and rows are
// asked for ahead: each row's elements of the lines then share a cache
// line, where line by line each element would take one of its own.
constexpr int GATHERED_EDGE_LINES = 8;

// The edge bits of a group of lines of the tile's lane view, from the
// given edge map.
void prepare_edges(const TileWork& work, const LineGroup& lines)
{
    LanePass& pass = *work.pass;
    const TiledImage& image = *work.image;
    const int length = static_cast<int>(work.rows.end - work.rows.begin);
    const Layout& layout = image.edge_layout;
    const std::ptrdiff_t channel = image.edges_per_channel ? work.channel : 0;
    with_element_type(image.edge_class, [&](auto* type) {
        using T = std::remove_pointer_t<decltype(type)>;
        const auto pack = [&](const T* edges, int line) {
            if constexpr (std::is_same_v<T, double>) {
                pack_line_edges(pass, *work.kernels, line, edges, length);
            } else {
                pack_edge_bits(edges, length, pass.edge_row(line), pass.row_words);
                find_near_edges(pass, line);
            }
        };
        const T* first = static_cast<const T*>(image.edges) + element_index(work, layout, channel, lines.first, 0);
        if (layout.row_step == 1) {
            for (int k = 0; k < lines.count; ++k) {
                pack(first + k * layout.col_step, lines.first + k);
            }
            return;
        }
        T gathered[GATHERED_EDGE_LINES][MAX_PASS_SIDE];
        for (int done = 0; done < lines.count; done += GATHERED_EDGE_LINES) {
            const int count = lines.count - done < GATHERED_EDGE_LINES ? lines.count - done : GATHERED_EDGE_LINES;
            const T* block = first + done * layout.col_step;
            for (int p = 0; p < length; ++p) {
                const T* row = block + p * layout.row_step;
                if (p + TRANSPOSED_ROWS_AHEAD < length) {
                    prefetch_elements(row + TRANSPOSED_ROWS_AHEAD * layout.row_step, layout.col_step, count);
                }
                for (int k = 0; k < count; ++k) {
                    gathered[k][p] = row[k * layout.col_step];
                }
            }
            for (int k = 0; k < count; ++k) {
                pack(gathered[k], lines.first + done + k);
            }
        }
    });
}

// The tile's edges, made from the image's pixels around it and packed into
// edge bits as soon as a unit of lines has them.
struct MadeEdges {
    const TileWork* work;
    int length;
};

void pack_made_edges(void* context, std::ptrdiff_t first, std::ptrdiff_t end, const double* values,
                     std::ptrdiff_t stride)
{
    const MadeEdges& made = *static_cast<const MadeEdges*>(context);
    for (std::ptrdiff_t col = first; col < end; ++col) {
        const int line = static_cast<int>(col - made.work->cols.begin);
        pack_line_edges(*made.work->pass, *made.work->kernels, line, values + (col - first) * stride, made.length);
    }
}

bool make_tile_edges(const TileWork& work)
{
    MadeEdges made{&work, static_cast<int>(work.rows.end - work.rows.begin)};
    const EdgeBlock block{work.rows.begin, work.rows.end, work.cols.begin, work.cols.end, nullptr, 0,
                          &pack_made_edges, &made};
    return make_edges(*work.call, *work.edge_source, work.edge_threshold, work.kernels->edges, block);
}

// The results of part of a line, from the result plane into the result's
// class, in a layout whose columns are contiguous.
void store_part(const TileWork& work, const LinePart& part)
{
    const TiledImage& image = *work.image;
    write_line(work.result_plane + part.line * work.plane_stride + part.first, part.end - part.first, image.result,
               result_class(image.pixels.value_class), result_index(work, part.line, part.first),
               work.kernels->store_bytes);
}

// Ziv's test on part of a line of approximations in the result plane; the
// pixels it leaves undecided are evaluated exactly, in place.
void settle_part(const TileWork& work, const LinePart& part)
{
    const LinearBound bound = *work.bound;
    const double* results = work.result_plane + part.line * work.plane_stride;
    std::uint64_t undecided[UNDECIDED_WORDS] = {};
    int count = 0;
    with_element_type(result_class(work.image->pixels.value_class), [&](auto* type) {
        using T = std::remove_pointer_t<decltype(type)>;
        if constexpr (std::is_integral_v<T>) {
            for (int first = part.first; first < part.end; first += 64) {
                const int n = part.end - first < 64 ? part.end - first : 64;
                double reach[64];
                for (int i = 0; i < n; ++i) {
                    reach[i] = bound.at(results[first + i]);
                }
                const std::uint64_t bits = undecided_of<T>(results + first, reach, n);
                undecided[(first - part.first) / 64] = bits;
                count += static_cast<int>(std::bitset<64>(bits).count());
            }
        }
    });
    evaluate_undecided(*work.pass, part.line, part.first, part.end, undecided);
    count_paths(work.call->options.counts, part.end - part.first, count);
}

// The kept results of a group of lines, from the result plane into the
// result's class and layout.
void scatter_results(const TileWork& work, const LineGroup& lines)
{
    const TiledImage& image = *work.image;
    const LaneView& view = work.pass->view;
    const PixelRegion& kept = *work.kept;
    write_columns(work.result_plane + lines.first * work.plane_stride + view.first_position, work.plane_stride,
                  image.result,
                  result_class(image.pixels.value_class), image.result_layout, work.channel,
                  work.cols.begin + lines.first - kept.first_col, lines.count,
                  work.rows.begin + view.first_position - kept.first_row, view.end_position - view.first_position,
                  work.kernels->store_bytes);
}

bool filter_tile(const TileWork& work)
{
    CallState& call = *work.call;
    const TiledImage& image = *work.image;
    const int lines = static_cast<int>(work.cols.end - work.cols.begin);
    const int length = static_cast<int>(work.rows.end - work.rows.begin);
    LaneView& view = work.pass->view;
    view.values = work.held_values != nullptr ? work.held_values
                  : work.load_values          ? work.value_plane
                                              : static_cast<const double*>(image.pixels.values) +
                                           element_index(work, image.pixels.layout, work.channel, 0, 0);
    if (work.held != nullptr) {
        view.results = work.held;
        view.result_stride = work.held_stride;
    } else {
        view.results = work.store_results ? work.result_plane
                                          : static_cast<double*>(image.result) + result_index(work, 0, 0);
        view.result_stride = work.store_results ? work.plane_stride : image.result_layout.col_step;
    }
    view.approximate_values = work.approximate_plane;
    view.lines = lines;
    view.length = length;
    view.first_line = static_cast<int>(work.cols.kept_begin - work.cols.begin);
    view.end_line = static_cast<int>(work.cols.kept_end - work.cols.begin);
    view.first_position = static_cast<int>(work.rows.kept_begin - work.rows.begin);
    view.end_position = static_cast<int>(work.rows.kept_end - work.rows.begin);

    if (work.load_edges && image.edges == nullptr && !make_tile_edges(work)) {
        return false;
    }
    const int workers = worker_count(call, static_cast<double>(lines) * length, PIXELS_PER_THREAD);
    const bool gather_rows = work.load_values && image.pixels.layout.row_step != 1;
    const bool given_edges = work.load_edges && image.edges != nullptr;
    if ((work.load_values || given_edges) &&
        !run_parallel(call, line_groups(0, lines), workers, [&work, gather_rows, given_edges, lines,
                                                             length](int group) {
            const LineGroup group_lines = line_group(group, 0, lines);
            if (gather_rows) {
                gather_values(work, group_lines, length);
            }
            if (work.load_values) {
                for (int line = group_lines.first; line < group_lines.first + group_lines.count; ++line) {
                    prepare_line(work, line);
                }
            }
            if (given_edges) {
                prepare_edges(work, group_lines);
            }
        })) {
        return false;
    }
    const bool approximate = work.approximate_plane != nullptr;
    const LineFilter line_filter = approximate ? work.kernels->approximate_line : work.kernels->filter_line;
    if (!work.store_results || work.held != nullptr) {
        return filter_lane_view(call, *work.pass, line_filter);
    }
    const auto settle = [&work, approximate](const LinePart& part) {
        if (approximate) {
            settle_part(work, part);
        }
    };
    if (image.result_layout.row_step == 1) {
        return filter_lane_view(call, *work.pass, line_filter, [&work, &settle](const LinePart& part) {
            settle(part);
            store_part(work, part);
        });
    }
    // Results whose elements lie rows apart wait in the result plane for
    // the whole tile, then go out a group of lines at a time.
    return filter_lane_view(call, *work.pass, line_filter, settle) &&
           run_parallel(call, line_groups(view.first_line, view.end_line), workers, [&work, &view](int group) {
               scatter_results(work, line_group(group, view.first_line, view.end_line));
           });
}

}  // namespace

ElementClass result_class(ElementClass value_class)
{
    return value_class == ElementClass::logical ? ElementClass::float64 : value_class;
}

bool tiles_fit(std::ptrdiff_t rows, std::ptrdiff_t cols, double sigma_near)
{
    const int margin = tile_margin(image_reach(rows, cols, sigma_near));
    const std::ptrdiff_t side = tile_side(margin);
    return (rows <= side && cols <= side) || 2 * margin + 1 <= side;
}

int widest_tiled_reach()
{
    return (MAX_PASS_SIDE - 1) / 2 - 1;
}

namespace {

// A colour tile whose opponent channels' results wait in `held`, a plane
// apart, a line every `stride`, the tile's first pixel first.
struct HeldTile {
    const TiledImage* image;
    const PixelRegion* kept;
    TileSpan rows;
    TileSpan cols;
    double* held;
    std::ptrdiff_t stride;
    std::ptrdiff_t plane;
    DoublesToBytes store_bytes;
};

// A group of a held tile's lines back in the stored basis and out into the
// result; alpha copied as it is. Each pixel's three values are read before
// any is written over.
void write_colour_lines(const HeldTile& tile, const LineGroup& lines)
{
    const TiledImage& image = *tile.image;
    const PixelRegion& kept = *tile.kept;
    const int first = static_cast<int>(tile.rows.kept_begin - tile.rows.begin);
    const int end = static_cast<int>(tile.rows.kept_end - tile.rows.begin);
    const ChannelMix* inverse = OPPONENT_INVERSE.row;
    for (int line = lines.first; line < lines.first + lines.count; ++line) {
        double* y0 = tile.held + line * tile.stride;
        double* y1 = y0 + tile.plane;
        double* y2 = y1 + tile.plane;
        for (int position = first; position < end; ++position) {
            const double x0 = mixed(inverse[0], y0[position], y1[position], y2[position]);
            const double x1 = mixed(inverse[1], y0[position], y1[position], y2[position]);
            const double x2 = mixed(inverse[2], y0[position], y1[position], y2[position]);
            y0[position] = x0;
            y1[position] = x1;
            y2[position] = x2;
        }
    }
    const std::ptrdiff_t first_col = tile.cols.begin + lines.first - kept.first_col;
    const std::ptrdiff_t first_row = tile.rows.kept_begin - kept.first_row;
    const ElementClass type = result_class(image.pixels.value_class);
    const double* results = tile.held + lines.first * tile.stride + first;
    if (image.result_layout.row_step != 1) {
        write_columns(results, tile.stride, image.result, type, image.result_layout, 0, first_col, lines.count,
                      first_row, end - first, tile.store_bytes, COLOUR_CHANNELS, tile.plane);
    } else {
        // Columns that are contiguous take each line as it is.
        for (int k = 0; k < COLOUR_CHANNELS; ++k) {
            for (int line = 0; line < lines.count; ++line) {
                write_line(results + k * tile.plane + line * tile.stride, end - first, image.result, type,
                           offset_of(image.result_layout, first_row, first_col + line, k), tile.store_bytes);
            }
        }
    }
    if (image.pixels.channels > COLOUR_CHANNELS) {
        with_element_type(image.pixels.value_class, [&](auto* type) {
            using T = std::remove_pointer_t<decltype(type)>;
            using Result = std::conditional_t<std::is_same_v<T, LogicalElement>, double, T>;
            const T* alpha = static_cast<const T*>(image.pixels.values);
            Result* out = static_cast<Result*>(image.result);
            for (int line = lines.first; line < lines.first + lines.count; ++line) {
                const std::ptrdiff_t col = tile.cols.begin + line;
                for (std::ptrdiff_t row = tile.rows.kept_begin; row < tile.rows.kept_end; ++row) {
                    const T value = alpha[offset_of(image.pixels.layout, row, col, COLOUR_CHANNELS)];
                    Result& copy = out[offset_of(image.result_layout, row - kept.first_row, col - kept.first_col,
                                                 COLOUR_CHANNELS)];
                    if constexpr (std::is_same_v<T, LogicalElement>) {
                        copy = as_double(value);
                    } else {
                        copy = value;
                    }
                }
            }
        });
    }
}

// The opponent channels of a tile's pixels, all three from one read of the
// stored ones, into `planes`, a plane apart, a line every `stride`.
bool load_opponent_tile(CallState& call, const HostImage& opponent, const TileSpan& rows, const TileSpan& cols,
                        double* planes, std::ptrdiff_t stride, std::ptrdiff_t plane)
{
    const int lines = static_cast<int>(cols.end - cols.begin);
    const std::ptrdiff_t length = rows.end - rows.begin;
    const int workers = worker_count(call, static_cast<double>(lines) * static_cast<double>(length), PIXELS_PER_THREAD);
    return run_parallel(call, line_groups(0, lines), workers, [&](int group) {
        const LineGroup group_lines = line_group(group, 0, lines);
        double* first = planes + group_lines.first * stride;
        if (opponent.layout.row_step == 1) {
            for (int line = 0; line < group_lines.count; ++line) {
                read_column(opponent, 0, cols.begin + group_lines.first + line, rows.begin, length,
                            first + line * stride, COLOUR_CHANNELS, plane);
            }
        } else {
            read_columns(opponent, 0, cols.begin + group_lines.first, group_lines.count, rows.begin, length, first,
                         stride, COLOUR_CHANNELS, plane);
        }
    });
}

// Whether a pass's tables meet what the approximation's bound assumes: the
// centre's weight is 1 at either width, which a zero or NaN width breaks.
// Every other weight is exp(-n / q) with n >= 0 and q > 0, so in [0, 1].
bool tables_fit_bound(const LanePass& pass)
{
    return pass.weight_side > 0 && pass.near_weight(0, 0) == 1.0 && pass.far_weight(0, 0) == 1.0;
}

// Whether a grey call's results may come from the approximation, and the
// bound that certifies them. Only the scheduled kernels sum in blocks; every
// tile of an image whose sides exceed the reach has sides that exceed it.
bool approximation_fits(const TiledImage& image, const LaneKernels& kernels, const CallOptions& options,
                        const LanePass& pass, LinearBound& bound)
{
    const int side = 2 * (pass.reach > 0 ? pass.reach : 0) + 1;
    const bool scheduled = pass.schedule_length > 0 && image.pixels.rows > pass.reach && image.pixels.cols > pass.reach;
    if (!options.approximate || kernels.approximate_line == nullptr || !scheduled ||
        !approximation_pays(image.pixels.value_class, side * side) || !tables_fit_bound(pass)) {
        return false;
    }
    const double limit = class_value_limit(image.pixels.value_class);
    const bool nonnegative = image.pixels.value_class == ElementClass::uint8 ||
                             image.pixels.value_class == ElementClass::uint16;
    bound = linear_bound(approximation_bound(side * side, limit), nonnegative, limit);
    return true;
}

// Every tile, channel after channel: with one set of widths for every
// channel, or as colour with a set for each opponent channel.
bool run_tiles(const TiledImage& image, const ChannelWidths* widths, bool colour, const CallOptions& options)
{
    CallState call{options};
    const PixelRegion whole{0, image.pixels.rows, 0, image.pixels.cols};
    const PixelRegion& kept = image.kept != nullptr ? *image.kept : whole;
    if (kept.rows <= 0 || kept.cols <= 0 || image.pixels.channels <= 0) {
        return true;
    }
    const int sets = colour ? COLOUR_CHANNELS : 1;
    int reach[COLOUR_CHANNELS] = {};
    int widest = -1;
    for (int set = 0; set < sets; ++set) {
        reach[set] = image_reach(image.pixels.rows, image.pixels.cols, widths[set].sigma_near);
        widest = reach[set] > widest ? reach[set] : widest;
    }
    // The tiles run on the lane engine only: the literal evaluation asked for
    // runs on the plainest lanes, which give the same bits.
    const LaneKernels kernels = lane_kernels_or_plain(options.kernels);

    // Margins for the widest window serve the narrower ones too.
    const int margin = tile_margin(widest);
    const TileCut row_cut(image.pixels.rows, margin, kept.first_row, kept.rows, tile_side(margin));
    const TileCut col_cut(image.pixels.cols, margin, kept.first_col, kept.cols, tile_side(margin));
    // Doubles in columns that follow one another are read and written in
    // place; everything else passes through the planes, as do the results of
    // a region, whose tiles begin outside it. Colour tiles hold their own.
    const bool load_values =
        !colour && (image.pixels.value_class != ElementClass::float64 || !has_forward_columns(image.pixels.layout));
    const bool store_results = result_class(image.pixels.value_class) != ElementClass::float64 ||
                               !has_forward_columns(image.result_layout) || image.kept != nullptr;
    // The call's workspace, sized to its longest tile: the lane pass, and
    // the planes that values and results pass through. No tile's smaller
    // side exceeds the smaller of the longest extents.
    const std::ptrdiff_t longest_rows = row_cut.longest();
    const std::ptrdiff_t longest_cols = col_cut.longest();
    const std::ptrdiff_t plane = longest_rows * longest_cols;
    LanePass pass(static_cast<int>(longest_cols), static_cast<int>(longest_rows));
    const Scratch<double> value_plane = load_values ? new_plane(plane) : nullptr;
    const Scratch<double> result_plane = store_results && !colour ? new_plane(plane) : nullptr;
    pass.view.value_stride = colour || load_values ? longest_rows : image.pixels.layout.col_step;
    const int smaller_side = static_cast<int>(longest_rows < longest_cols ? longest_rows : longest_cols);
    const auto build = [&](int set) {
        build_tables(pass, reach[set], widths[set].sigma_near, widths[set].sigma_far, pass.view.value_stride,
                     smaller_side);
    };
    // A colour tile's planes: the three opponent channels' values in planes 1
    // to 3, made from one read of the stored channels, and their results,
    // channel c's into plane c, where channel c - 1's values were.
    const Scratch<double> held = colour ? new_plane((COLOUR_CHANNELS + 1) * plane) : nullptr;
    const HostImage opponent = colour ? opponent_channels(image.pixels) : image.pixels;
    const std::ptrdiff_t filtered = colour ? COLOUR_CHANNELS : image.pixels.channels;
    // Grey results of a narrower class from the float approximation, where
    // it pays; colour measured slower that way (certified after the inverse,
    // with three exact evaluations for each undecided pixel).
    LinearBound bound{};
    bool approximate = false;
    if (!colour) {
        build(0);
        approximate = approximation_fits(image, kernels, options, pass, bound);
    }
    const Scratch<float> approximate_plane = approximate ? new_plane<float>(plane) : nullptr;

    for (std::ptrdiff_t tile_col = 0; tile_col < col_cut.count; ++tile_col) {
        for (std::ptrdiff_t tile_row = 0; tile_row < row_cut.count; ++tile_row) {
            if (colour && !load_opponent_tile(call, opponent, row_cut.tile(tile_row), col_cut.tile(tile_col),
                                              held.get() + plane, longest_rows, plane)) {
                return false;
            }
            for (std::ptrdiff_t channel = 0; channel < filtered; ++channel) {
                const int set = colour ? static_cast<int>(channel) : 0;
                if (colour) {
                    build(set);
                }
                const HostImage edge_source =
                    colour ? opponent_channel(image.pixels, static_cast<int>(channel)) : image.pixels;
                // Each opponent channel has edge bits of its own reach.
                const bool load_edges = colour || channel == 0 || image.edges_per_channel;
                const TileWork work{&call,
                                    &pass,
                                    value_plane.get(),
                                    result_plane.get(),
                                    longest_rows,
                                    &kernels,
                                    &image,
                                    &edge_source,
                                    colour ? widths[set].edge_threshold : image.edge_threshold,
                                    channel,
                                    row_cut.tile(tile_row),
                                    col_cut.tile(tile_col),
                                    &kept,
                                    load_values,
                                    load_edges,
                                    store_results,
                                    colour ? held.get() + (channel + 1) * plane : nullptr,
                                    colour ? held.get() + channel * plane : nullptr,
                                    longest_rows,
                                    approximate_plane.get(),
                                    &bound};
                if (!filter_tile(work)) {
                    return false;
                }
            }
            if (colour) {
                const HeldTile tile{&image, &kept, row_cut.tile(tile_row), col_cut.tile(tile_col), held.get(),
                                    longest_rows, plane, kernels.store_bytes};
                const int first_line = static_cast<int>(tile.cols.kept_begin - tile.cols.begin);
                const int end_line = static_cast<int>(tile.cols.kept_end - tile.cols.begin);
                const double values = static_cast<double>(end_line - first_line) *
                                      static_cast<double>(tile.rows.kept_end - tile.rows.kept_begin);
                if (!run_parallel(call, line_groups(first_line, end_line),
                                  worker_count(call, values, PIXELS_PER_THREAD), [&](int group) {
                                      write_colour_lines(tile, line_group(group, first_line, end_line));
                                  })) {
                    return false;
                }
            }
        }
    }
    return true;
}

}  // namespace

bool filter_tiled(const TiledImage& image, double sigma_near, double sigma_far, const CallOptions& options)
{
    const ChannelWidths widths{sigma_near, sigma_far, image.edge_threshold};
    return run_tiles(image, &widths, false, options);
}

bool filter_colour_tiled(const TiledImage& image, const ChannelWidths (&widths)[COLOUR_CHANNELS],
                         const CallOptions& options)
{
    return run_tiles(image, widths, true, options);
}

}  // namespace lumasift

// The lane kernels, written once for any lane traits. Included by one source
// per instruction set, after it defines LANES_TARGET (the instruction set
// its functions are compiled for) and, in an anonymous namespace, its traits:
//
//   WIDTH, Vec (WIDTH doubles), Mask (one flag per lane)
//   zero(), broadcast(x), load(p), load(p, valid), add(a, b), mul(a, b),
//   divide(a, b), store(p, v), add_where(valid, acc, x),
//   select(far, near_weight, far_weight), from_bits(bits)
//
// Flags shared by all lanes in flight (edges, widths, marks, validity) are
// kept as bits of one integer, lane i of group g at bit g * WIDTH + i, so that
// one integer operation updates them all; a group's Mask is made from its
// bits only where a vector operation needs it.
//
// Everything here has internal linkage, so the copies compiled for different
// instruction sets never meet at link time.
//
// The kernels work in the lane view (FilterState::lane_view): the host's
// column-major arrays read as a row-major image with rows and columns
// swapped, and the wedges swapped to match (TRANSPOSED_WEDGES), so that the
// same samples are visited in the same order.
//
// Why the kernels give the literal evaluation's bits:
// - Weights come from tables filled by the same calls on the same arguments.
// - Each lane visits its samples in the literal order and forms its sums with
//   the same separate multiply and add, so no sum is reordered.
// - A shadow mark is read only by the same pixel, in the same wedge, at the
//   same position of the next ray step's matching walk (the mark target lies
//   one step further out along the axis). A small per-lane buffer indexed by
//   position along the walk holds exactly what the label plane would.
// - Samples outside the image become lanes that add nothing and mark nothing.
#ifndef LUMASIFT_LANE_KERNEL_H
#define LUMASIFT_LANE_KERNEL_H

#include <cstddef>
#include <cstdint>

#include "filter.h"
#include "wedge.h"

#if defined(__GNUC__)
#define LANES_INLINE inline __attribute__((always_inline))
#else
#define LANES_INLINE inline
#endif

// Loops over the groups in flight are unrolled, so that each group's sums,
// total and width stay in registers.
#if defined(__clang__)
#define FOR_EACH_GROUP _Pragma("unroll") for
#elif defined(__GNUC__)
#define FOR_EACH_GROUP _Pragma("GCC unroll 8") for
#else
#define FOR_EACH_GROUP for
#endif

namespace {

// The flags of all lanes in flight, GROUPS_IN_FLIGHT * WIDTH of them.
using LaneBits = std::uint32_t;

// Lane groups processed side by side: independent chains of additions keep
// the adders busy while each waits for its previous sum.
constexpr int GROUPS_IN_FLIGHT = 4;

template <class L, int GROUPS>
struct LaneSums {
    typename L::Vec sum[GROUPS];
    typename L::Vec total[GROUPS];
};

template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void start_sums(LaneSums<L, GROUPS>& sums)
{
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        sums.sum[g] = L::zero();
        sums.total[g] = L::zero();
    }
}

template <class L>
LANES_TARGET LANES_INLINE typename L::Mask group_mask(LaneBits bits, int g)
{
    return L::from_bits((bits >> (g * L::WIDTH)) & ((1u << L::WIDTH) - 1u));
}

// Adds one sample to every group: the far weight in the lanes of `far`.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void add_sample(LaneSums<L, GROUPS>& sums, const double* values,
                                          LaneBits far, double near_weight, double far_weight)
{
    const typename L::Vec near = L::broadcast(near_weight);
    const typename L::Vec far_vec = L::broadcast(far_weight);
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        const typename L::Vec weight = L::select(group_mask<L>(far, g), near, far_vec);
        sums.sum[g] = L::add(sums.sum[g], L::mul(L::load(values + g * L::WIDTH), weight));
        sums.total[g] = L::add(sums.total[g], weight);
    }
}

// Divides and stores the results of the lane view's pixels (a, b) onward
// that lie inside the image: contiguous in the column-major result. Lanes
// past the last column computed what they liked.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void store_results(const LaneSums<L, GROUPS>& sums, int a, int b)
{
    const LaneView& view = filter_state.lane_view;
    double* results = view.results + (static_cast<std::ptrdiff_t>(a) * view.cols + b);
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        const int count = view.cols - (b + g * L::WIDTH);
        if (count >= L::WIDTH) {
            L::store(results + g * L::WIDTH, L::divide(sums.sum[g], sums.total[g]));
        } else if (count > 0) {
            double quotients[L::WIDTH];
            L::store(quotients, L::divide(sums.sum[g], sums.total[g]));
            for (int lane = 0; lane < count; ++lane) {
                results[g * L::WIDTH + lane] = quotients[lane];
            }
        }
    }
}

// Edge flags of the columns col, col + 1, ... of a row, one per bit from bit
// 0, 64 of them; col must lie inside the image.
LANES_TARGET LANES_INLINE std::uint64_t edge_run_inside(int row, int col)
{
    const std::uint64_t* words = filter_state.edge_bits[row];
    const int shift = col & 63;
    // Two shifts for the upper word, so that a shift of 0 shifts it out.
    return (words[col >> 6] >> shift) | ((words[(col >> 6) + 1] << 1) << (63 - shift));
}

// The same for any column: those outside the image read as no edge.
LANES_TARGET LANES_INLINE std::uint64_t edge_run(int row, int col)
{
    if (col >= filter_state.lane_view.cols || col <= -64) {
        return 0;
    }
    return col >= 0 ? edge_run_inside(row, col) : edge_run_inside(row, 0) << -col;
}

// ---------------------------------------------------------------------------
// Windows inside the image: flat passes over the visiting schedule.

// The pixels (a, b) to (a, b + GROUPS_IN_FLIGHT * WIDTH - 1), whose windows
// lie inside the image and hold no edge: every sample has the near width,
// and the weight total is known.
template <class L>
LANES_TARGET void filter_scheduled_plain(int a, int b)
{
    constexpr int GROUPS = GROUPS_IN_FLIGHT;
    const FilterState& state = filter_state;
    const double* values = state.lane_view.values + (a * state.lane_view.cols + b);
    LaneSums<L, GROUPS> sums;
    start_sums(sums);
    const int length = state.schedule_length;
    for (int i = 0; i < length; ++i) {
        const ScheduleEntry& entry = state.schedule[i];
        const double* sample = values + entry.offset;
        const typename L::Vec weight = L::broadcast(entry.near_weight);
        FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
            sums.sum[g] = L::add(sums.sum[g], L::mul(L::load(sample + g * L::WIDTH), weight));
        }
    }
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        sums.total[g] = L::broadcast(state.plain_weight_total);
    }
    store_results(sums, a, b);
}

// The same pixels when their windows, still inside the image and away from
// its border rows and columns, may hold edges: every sample is valid and
// passes its shadow on.
template <class L>
LANES_TARGET void filter_scheduled(int a, int b)
{
    constexpr int GROUPS = GROUPS_IN_FLIGHT;
    constexpr LaneBits ALL_LANES = static_cast<LaneBits>((1ull << (GROUPS * L::WIDTH)) - 1u);
    const FilterState& state = filter_state;
    const double* values = state.lane_view.values + (a * state.lane_view.cols + b);
    LaneSums<L, GROUPS> sums;
    start_sums(sums);
    LaneBits marks[2 * MAX_SCHEDULED_REACH + 1];
    const int mark_count = 2 * state.reach + 1;
    const int segment_count = state.segment_count;

    for (int s = 0; s < segment_count; ++s) {
        const ScheduleSegment& segment = state.segments[s];
        if (segment.starts_wedge) {
            for (int i = 0; i < mark_count; ++i) {
                marks[i] = 0;
            }
        }
        LaneBits* slot = marks + segment.mark_slot;
        LaneBits far = 0;
        const ScheduleEntry* entry = state.schedule + segment.begin;
        const ScheduleEntry* const end = state.schedule + segment.end;
        for (; entry != end; ++entry, ++slot) {
            const LaneBits edges =
                static_cast<LaneBits>(edge_run_inside(a + entry->dr, b + entry->dc)) & ALL_LANES;
            const LaneBits shadow = edges | *slot;
            *slot = shadow;
            far |= shadow;
            add_sample(sums, values + entry->offset, far,
                       entry->near_weight, entry->far_weight);
        }
    }
    store_results(sums, a, b);
}

// ---------------------------------------------------------------------------
// Any window: wedge by wedge, with lanes masked where samples leave the image.

// Marks for the next ray step: one slot for the ray point, and one per
// position along each diagonal walk.
struct LaneMarks {
    LaneBits ray;
    LaneBits first_walk[PLANE_STRIDE + 1];
    LaneBits second_walk[PLANE_STRIDE + 1];
};

// Bits of the lanes whose column first + lane lies in [low, high).
LANES_TARGET LANES_INLINE LaneBits lane_bits(int first, int low, int high, int lanes)
{
    const int begin = low - first > 0 ? low - first : 0;
    const int end = high - first < lanes ? high - first : lanes;
    if (begin >= end) {
        return 0;
    }
    return static_cast<LaneBits>(((1ull << end) - 1u) & ~((1ull << begin) - 1u));
}

// Visits the sample at offset (dr, dc) for every lane, as the literal visit
// would: a shadowed sample switches its lane to the far width and marks the
// next point out, then the sample is weighted and added. Returns false when
// the sample lies outside the image for every lane.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE bool visit(LaneSums<L, GROUPS>& sums, LaneBits& far, int a, int b,
                                     int dr, int dc, int along, int across, LaneBits& mark,
                                     bool on_ray)
{
    constexpr int LANES = GROUPS * L::WIDTH;
    const FilterState& state = filter_state;
    const LaneView& view = state.lane_view;
    const int row = a + dr;
    const int col = b + dc;
    const LaneBits valid = lane_bits(col, 0, view.cols, LANES);
    if (row < 0 || row >= view.rows || valid == 0) {
        return false;
    }
    const LaneBits shadow = (static_cast<LaneBits>(edge_run(row, col)) | mark) & valid;
    far |= shadow;
    // Diagonal samples on the image's border pass no shadow on.
    const bool row_passes = on_ray || (row > 0 && row < view.rows - 1);
    mark = shadow & (on_ray ? valid : row_passes ? lane_bits(col, 1, view.cols - 1, LANES) : 0u);

    const double* values = view.values + (static_cast<std::ptrdiff_t>(row) * view.cols + col);
    const typename L::Vec near = L::broadcast(state.near_weight[along][across]);
    const typename L::Vec far_vec = L::broadcast(state.far_weight[along][across]);
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        const typename L::Mask lanes_inside = group_mask<L>(valid, g);
        const typename L::Vec weight = L::select(group_mask<L>(far, g), near, far_vec);
        const typename L::Vec value = L::load(values + g * L::WIDTH, lanes_inside);
        sums.sum[g] = L::add_where(lanes_inside, sums.sum[g], L::mul(value, weight));
        sums.total[g] = L::add_where(lanes_inside, sums.total[g], weight);
    }
    return true;
}

// One diagonal walk from the ray point `step` steps out. It keeps whatever
// width its lanes have when it starts.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void walk(LaneSums<L, GROUPS>& sums, LaneBits far, int a, int b,
                                    const Wedge& wedge, int step, int cross_sign, LaneBits* marks)
{
    const int reach = filter_state.reach;
    for (int j = 1; j <= reach - step; ++j) {
        const int along = step + j;
        const int across = j * cross_sign;
        const int dr = along * wedge.axis_dr + across * wedge.cross_dr;
        const int dc = along * wedge.axis_dc + across * wedge.cross_dc;
        // Past the first point outside the image, the walk has none inside.
        if (!visit(sums, far, a, b, dr, dc, along, j, marks[j], false)) {
            break;
        }
    }
}

// The pixels (a, b) to (a, b + GROUPS * WIDTH - 1), wherever they lie.
template <class L, int GROUPS>
LANES_TARGET void filter_lane_groups(int a, int b)
{
    LaneSums<L, GROUPS> sums;
    start_sums(sums);
    LaneMarks marks;
    const int reach = filter_state.reach;
    for (const Wedge& wedge : TRANSPOSED_WEDGES) {
        // Each wedge starts unmarked; later steps read only slots that the
        // step before them wrote.
        marks.ray = 0;
        for (int j = 0; j <= reach; ++j) {
            marks.first_walk[j] = 0;
            marks.second_walk[j] = 0;
        }
        for (int step = wedge.first_step; step <= reach; ++step) {
            LaneBits far = 0;
            // Later ray points lie further out: none is inside either.
            if (!visit(sums, far, a, b, step * wedge.axis_dr, step * wedge.axis_dc, step, 0,
                       marks.ray, true)) {
                break;
            }
            walk(sums, far, a, b, wedge, step, +1, marks.first_walk);
            walk(sums, LaneBits{0}, a, b, wedge, step, -1, marks.second_walk);
        }
    }
    store_results(sums, a, b);
}

// ---------------------------------------------------------------------------

// True when no edge pixel lies in the lane view's rows a - reach to
// a + reach, columns first - reach to last + reach, all inside the image.
LANES_TARGET LANES_INLINE bool windows_without_edges(int a, int first, int last)
{
    const FilterState& state = filter_state;
    for (int row = a - state.reach; row <= a + state.reach; ++row) {
        for (int col = first - state.reach; col <= last + state.reach; col += 64) {
            const int count = last + state.reach + 1 - col;
            const std::uint64_t wanted = count >= 64 ? ~0ull : (1ull << count) - 1u;
            if ((edge_run_inside(row, col) & wanted) != 0) {
                return false;
            }
        }
    }
    return true;
}

template <class L>
LANES_TARGET void filter_row(int a)
{
    constexpr int SPAN = GROUPS_IN_FLIGHT * L::WIDTH;
    static_assert(SPAN <= 32, "every lane in flight has a bit of a LaneBits");
    const FilterState& state = filter_state;
    const int rows = state.lane_view.rows;
    const int cols = state.lane_view.cols;
    const int reach = state.reach;
    const bool rows_interior = state.schedule_length > 0 && a - reach >= 1 && a + reach <= rows - 2;
    int b = 0;
    for (; b + SPAN <= cols; b += SPAN) {
        const bool interior = rows_interior && b - reach >= 1 && b + SPAN - 1 + reach <= cols - 2;
        if (!interior) {
            filter_lane_groups<L, GROUPS_IN_FLIGHT>(a, b);
        } else if (windows_without_edges(a, b, b + SPAN - 1)) {
            filter_scheduled_plain<L>(a, b);
        } else {
            filter_scheduled<L>(a, b);
        }
    }
    // The last few pixels, one lane group at a time.
    for (; b < cols; b += L::WIDTH) {
        filter_lane_groups<L, 1>(a, b);
    }
}

}  // namespace

#endif

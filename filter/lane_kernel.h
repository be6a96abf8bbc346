// The lane kernels, written once for any lane traits. Included by one source
// per instruction set, after it defines LANES_TARGET (the instruction set
// its functions are compiled for) and, in an anonymous namespace, its traits:
//
//   WIDTH, Vec (WIDTH doubles), Mask (one flag per lane)
//   zero(), broadcast(x), load(p), load(p, valid), add(a, b), mul(a, b),
//   divide(a, b), store(p, v), add_where(valid, acc, x),
//   select(far, near_weight, far_weight), either(a, b), both(a, b), none(),
//   from_bits(b), load_mask(p), store_mask(p, m)
//
// Everything here has internal linkage, so the copies compiled for different
// instruction sets never meet at link time.
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

// A group's marks for one position: one bit per lane. Not a character type,
// whose stores the compiler must assume to change anything, the state too.
using MarkSlot = std::uint16_t;

// Lane groups processed side by side: independent chains of additions keep
// the adders busy while each waits for its previous sum.
constexpr int GROUPS_IN_FLIGHT = 4;

// Kept apart from the marks, so that the compiler can hold it in registers.
template <class L, int GROUPS>
struct LaneSums {
    typename L::Vec sum[GROUPS];
    typename L::Vec total[GROUPS];
    typename L::Mask far[GROUPS];
};

template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void start_sums(LaneSums<L, GROUPS>& sums)
{
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        sums.sum[g] = L::zero();
        sums.total[g] = L::zero();
        sums.far[g] = L::none();
    }
}

template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void reset_widths(LaneSums<L, GROUPS>& sums)
{
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        sums.far[g] = L::none();
    }
}

// Divides and stores the results of the pixels (a, b) onward that lie inside
// the image, straight into the column-major result; lanes past the image's
// last column computed what they liked.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void store_results(const LaneSums<L, GROUPS>& sums, int a, int b)
{
    const FilterState& state = filter_state;
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        double quotients[L::WIDTH];
        L::store(quotients, L::divide(sums.sum[g], sums.total[g]));
        const int col = b + g * L::WIDTH;
        for (int lane = 0; lane < L::WIDTH && col + lane < state.cols; ++lane) {
            state.result_columns[static_cast<std::ptrdiff_t>(col + lane) * state.rows + a] = quotients[lane];
        }
    }
}

// Edge flags of the columns col, col + 1, ... of a row, one per bit from bit
// 0, 64 of them. Columns left of the image read as no edge, and so do those
// right of it: their bits are clear.
LANES_TARGET LANES_INLINE std::uint64_t edge_run(int row, int col)
{
    const std::uint64_t* words = filter_state.edge_bits[row];
    if (col >= filter_state.cols) {
        return 0;
    }
    if (col < 0) {
        return col > -64 ? edge_run(row, 0) << -col : 0;
    }
    const int shift = col & 63;
    // Two shifts for the upper word, so that a shift of 0 shifts it out.
    return (words[col >> 6] >> shift) | ((words[(col >> 6) + 1] << 1) << (63 - shift));
}

LANES_TARGET LANES_INLINE unsigned group_bits(std::uint64_t run, int g, int width)
{
    return static_cast<unsigned>(run >> (g * width)) & ((1u << width) - 1u);
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
    const double* values = &state.value_plane[0][0] + (a * PLANE_STRIDE + b);
    LaneSums<L, GROUPS> sums;
    start_sums(sums);
    const int length = state.schedule_length;
    for (int i = 0; i < length; ++i) {
        const ScheduleEntry& entry = state.schedule[i];
        const double* sample = values + (entry.dr * PLANE_STRIDE + entry.dc);
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
    static_assert(GROUPS * L::WIDTH <= 56, "one edge run covers every lane of a sample");
    const FilterState& state = filter_state;
    const double* values = &state.value_plane[0][0] + (a * PLANE_STRIDE + b);
    LaneSums<L, GROUPS> sums;
    start_sums(sums);
    MarkSlot marks[(2 * MAX_SCHEDULED_REACH + 1) * GROUPS];
    const int mark_count = (2 * state.reach + 1) * GROUPS;
    const int segment_count = state.segment_count;

    for (int s = 0; s < segment_count; ++s) {
        const ScheduleSegment& segment = state.segments[s];
        if (segment.starts_wedge) {
            for (int i = 0; i < mark_count; ++i) {
                marks[i] = 0;
            }
        }
        MarkSlot* slot = marks + segment.mark_slot * GROUPS;
        reset_widths(sums);
        for (int i = segment.begin; i < segment.end; ++i, slot += GROUPS) {
            const ScheduleEntry& entry = state.schedule[i];
            const double* sample = values + (entry.dr * PLANE_STRIDE + entry.dc);
            const std::uint64_t edges = edge_run(a + entry.dr, b + entry.dc);
            const typename L::Vec near_weight = L::broadcast(entry.near_weight);
            const typename L::Vec far_weight = L::broadcast(entry.far_weight);
            FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
                const typename L::Mask shadow =
                    L::either(L::from_bits(group_bits(edges, g, L::WIDTH)), L::load_mask(slot + g));
                sums.far[g] = L::either(sums.far[g], shadow);
                L::store_mask(slot + g, shadow);
                const typename L::Vec weight = L::select(sums.far[g], near_weight, far_weight);
                sums.sum[g] = L::add(sums.sum[g], L::mul(L::load(sample + g * L::WIDTH), weight));
                sums.total[g] = L::add(sums.total[g], weight);
            }
        }
    }
    store_results(sums, a, b);
}

// ---------------------------------------------------------------------------
// Any window: wedge by wedge, with lanes masked where samples leave the image.

// Marks for the next ray step: one slot per group for the ray point, and per
// position along each diagonal walk.
template <int GROUPS>
struct LaneMarks {
    MarkSlot ray[GROUPS];
    MarkSlot first_walk[(PLANE_STRIDE + 1) * GROUPS];
    MarkSlot second_walk[(PLANE_STRIDE + 1) * GROUPS];
};

// Bits of the lanes whose column first + lane lies in [low, high).
LANES_TARGET LANES_INLINE unsigned lane_bits(int first, int low, int high, int width)
{
    const int begin = low - first > 0 ? low - first : 0;
    const int end = high - first < width ? high - first : width;
    if (begin >= end) {
        return 0;
    }
    return ((1u << end) - 1u) & ~((1u << begin) - 1u);
}

// Visits the sample at offset (dr, dc) for every lane of every group, as the
// literal visit would: a shadowed sample switches its lane to the far width
// and marks the next point out, then the sample is weighted and added.
// Returns false when the sample lies outside the image for every lane.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE bool visit(LaneSums<L, GROUPS>& sums, int a, int b, int dr, int dc,
                                     int along, int across, MarkSlot* marks, bool on_ray)
{
    const FilterState& state = filter_state;
    const int row = a + dr;
    if (row < 0 || row >= state.rows) {
        return false;
    }
    const double* values = &state.value_plane[0][0] + (row * PLANE_STRIDE + b + dc);
    const typename L::Vec near_weight = L::broadcast(state.near_weight[along][across]);
    const typename L::Vec far_weight = L::broadcast(state.far_weight[along][across]);
    // Diagonal samples on the image's border pass no shadow on.
    const bool row_passes = on_ray || (row > 0 && row < state.rows - 1);
    bool inside = false;
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        const int col = b + dc + g * L::WIDTH;
        const unsigned valid_bits = lane_bits(col, 0, state.cols, L::WIDTH);
        const typename L::Mask valid = L::from_bits(valid_bits);
        const unsigned edge_bits = group_bits(edge_run(row, col), 0, L::WIDTH) & valid_bits;
        const typename L::Mask shadow =
            L::both(L::either(L::from_bits(edge_bits), L::load_mask(marks + g)), valid);
        sums.far[g] = L::either(sums.far[g], shadow);
        const unsigned passing_bits =
            on_ray ? valid_bits : row_passes ? lane_bits(col, 1, state.cols - 1, L::WIDTH) : 0u;
        L::store_mask(marks + g, L::both(shadow, L::from_bits(passing_bits)));
        const typename L::Vec weight = L::select(sums.far[g], near_weight, far_weight);
        const typename L::Vec value = L::load(values + g * L::WIDTH, valid);
        sums.sum[g] = L::add_where(valid, sums.sum[g], L::mul(value, weight));
        sums.total[g] = L::add_where(valid, sums.total[g], weight);
        inside = inside || valid_bits != 0;
    }
    return inside;
}

// One diagonal walk from the ray point `step` steps out. It keeps whatever
// width its lanes have when it starts.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void walk(LaneSums<L, GROUPS>& sums, int a, int b, const Wedge& wedge,
                                    int step, int cross_sign, MarkSlot* marks)
{
    const int reach = filter_state.reach;
    for (int j = 1; j <= reach - step; ++j) {
        const int along = step + j;
        const int across = j * cross_sign;
        const int dr = along * wedge.axis_dr + across * wedge.cross_dr;
        const int dc = along * wedge.axis_dc + across * wedge.cross_dc;
        // Past the first point outside the image, the walk has none inside.
        if (!visit(sums, a, b, dr, dc, along, j, marks + j * GROUPS, false)) {
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
    LaneMarks<GROUPS> marks;
    const int reach = filter_state.reach;
    for (const Wedge& wedge : WEDGES) {
        // Each wedge starts unmarked; later steps read only slots that the
        // step before them wrote.
        for (int i = 0; i < (reach + 1) * GROUPS; ++i) {
            marks.first_walk[i] = 0;
            marks.second_walk[i] = 0;
        }
        FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
            marks.ray[g] = 0;
        }
        for (int step = wedge.first_step; step <= reach; ++step) {
            reset_widths(sums);
            // Later ray points lie further out: none is inside either.
            if (!visit(sums, a, b, step * wedge.axis_dr, step * wedge.axis_dc, step, 0, marks.ray,
                       true)) {
                break;
            }
            walk(sums, a, b, wedge, step, +1, marks.first_walk);
            reset_widths(sums);
            walk(sums, a, b, wedge, step, -1, marks.second_walk);
        }
    }
    store_results(sums, a, b);
}

// ---------------------------------------------------------------------------

// True when no edge pixel lies in rows a - reach to a + reach, columns
// first - reach to last + reach, all inside the image.
LANES_TARGET LANES_INLINE bool windows_without_edges(int a, int first, int last)
{
    const FilterState& state = filter_state;
    for (int row = a - state.reach; row <= a + state.reach; ++row) {
        for (int col = first - state.reach; col <= last + state.reach; col += 64) {
            const int count = last + state.reach + 1 - col;
            const std::uint64_t wanted = count >= 64 ? ~0ull : (1ull << count) - 1u;
            if ((edge_run(row, col) & wanted) != 0) {
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
    const FilterState& state = filter_state;
    const int reach = state.reach;
    const bool rows_interior = state.schedule_length > 0 && a - reach >= 1 && a + reach <= state.rows - 2;
    int b = 0;
    for (; b + SPAN <= state.cols; b += SPAN) {
        const bool interior = rows_interior && b - reach >= 1 && b + SPAN - 1 + reach <= state.cols - 2;
        if (!interior) {
            filter_lane_groups<L, GROUPS_IN_FLIGHT>(a, b);
        } else if (windows_without_edges(a, b, b + SPAN - 1)) {
            filter_scheduled_plain<L>(a, b);
        } else {
            filter_scheduled<L>(a, b);
        }
    }
    // The last few pixels, one lane group at a time.
    for (; b < state.cols; b += L::WIDTH) {
        filter_lane_groups<L, 1>(a, b);
    }
}

}  // namespace

#endif

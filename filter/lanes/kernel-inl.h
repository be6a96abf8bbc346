// The lane kernels, written once for any lane traits. Included by one source
// per instruction set, after it defines LANES_TARGET (the instruction set
// its functions are compiled for) and, in an anonymous namespace, its traits:
//
//   WIDTH, Vec (WIDTH doubles), Mask (one flag per lane)
//   zero(), broadcast(x), load(p), load(p, valid), add(a, b), mul(a, b),
//   divide(a, b), store(p, v), add_where(valid, acc, x),
//   select(far, near_weight, far_weight), from_bits(bits)
//
// Words of the lane engine:
// - Lane view: the image with rows and columns swapped, so that the host's
//   column-major arrays are read in place. Its lines are the image's
//   columns, its positions the image's rows; position p of line l is the
//   pixel (p, l). The wedges trade offsets to match (LANE_VIEW_WEDGES), so
//   every pixel visits the same samples in the same order.
// - Lane: one centre pixel, with its own sums, width and marks. A lane group
//   is WIDTH lanes at adjacent positions of one line, one vector; a span is
//   the GROUPS_IN_FLIGHT groups that run side by side.
// - Reach: the window's half-width, trunc(window_radius), clamped.
// - Ray point: the sample `step` steps out from the centre along a wedge's
//   axis. A walk: the diagonal run of samples from a ray point outward, one
//   step along the axis and one across per sample; each ray point has two.
// - Mark slot: a shadowed sample marks the point one step further along the
//   axis, which is the sample at the same place of the next ray step's
//   matching walk. So a slot per place along a walk holds, for every lane,
//   what the label plane would hold there.
// - Segment: a run of the visiting schedule that starts from the near width:
//   a ray point with its first walk, or a second walk.
//
// The right wedge at reach 3, in the image's offsets; a digit s is a sample
// of the walk from ray point Rs, s' of its second walk:
//
//          dc:  0   1   2   3
//     dr -3                 0'
//        -2             0'  1'
//        -1         0'  1'  2'
//         0    R0  R1  R2  R3     axis: a shadowed sample marks the one
//         1         0   1   2     to its right, the same place of the
//         2             0   1     next ray step's walk
//         3                 0
//
// Flags shared by all lanes in flight (edges, widths, marks, validity) are
// kept as bits of one integer, lane i of group g at bit g * WIDTH + i, so that
// one integer operation updates them all; a group's Mask is made from its
// bits only where a vector operation needs it.
//
// Everything here has internal linkage, so the copies compiled for different
// instruction sets never meet at link time.
//
// Why the kernels give the literal evaluation's bits:
// - Weights come from tables filled by the same calls on the same arguments.
// - Each lane visits its samples in the literal order and forms its sums with
//   the same separate multiply and add, so no sum is reordered.
// - A mark slot holds exactly what the label plane would at the place that
//   reads it, as above.
// - Samples outside the image become lanes that add nothing and mark nothing.
#ifndef LUMASIFT_LANES_KERNEL_INL_H
#define LUMASIFT_LANES_KERNEL_INL_H

#ifndef LANES_TARGET
#error "define LANES_TARGET, and the lane traits, before including kernel-inl.h"
#endif

#include <cstddef>
#include <cstdint>

#include "../filter.h"
#include "../wedge.h"
#include "lanes.h"

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

namespace lumasift LUMASIFT_HIDDEN {

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

// Divides and stores the results of the pixels from `position` on of a line
// that are to be filtered: contiguous in the column-major result. Lanes past
// the last of them computed what they liked.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void store_results(const LaneSums<L, GROUPS>& sums, int line, int position)
{
    const LaneView& view = filter_state.lane_view;
    double* results = view.results + (line * view.result_stride + position);
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        const int count = view.end_position - (position + g * L::WIDTH);
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

// Edge flags of the positions p, p + 1, ... of a line, one per bit from bit
// 0, 64 of them; p must lie inside the line.
LANES_TARGET LANES_INLINE std::uint64_t edge_run_inside(int line, int position)
{
    const std::uint64_t* words = filter_state.edge_bits[line];
    const int shift = position & 63;
    // Two shifts for the upper word, so that a shift of 0 shifts it out.
    return (words[position >> 6] >> shift) | ((words[(position >> 6) + 1] << 1) << (63 - shift));
}

// The same for any position: those outside the line read as no edge.
LANES_TARGET LANES_INLINE std::uint64_t edge_run(int line, int position)
{
    if (position >= filter_state.lane_view.length || position <= -64) {
        return 0;
    }
    return position >= 0 ? edge_run_inside(line, position) : edge_run_inside(line, 0) << -position;
}

// ---------------------------------------------------------------------------
// Windows inside the image: flat passes over the visiting schedule.

// The span at (line, position), whose windows lie inside the image and hold
// no edge: every sample has the near width, and the weight total is known.
template <class L>
LANES_TARGET void filter_scheduled_plain(int line, int position)
{
    constexpr int GROUPS = GROUPS_IN_FLIGHT;
    const FilterState& state = filter_state;
    const double* values = state.lane_view.values + (line * state.lane_view.value_stride + position);
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
    store_results(sums, line, position);
}

// The same span when its windows, still inside the image and away from its
// border lines and positions, may hold edges: every sample is valid and
// passes its shadow on.
template <class L>
LANES_TARGET void filter_scheduled(int line, int position)
{
    constexpr int GROUPS = GROUPS_IN_FLIGHT;
    constexpr LaneBits ALL_LANES = static_cast<LaneBits>((1ull << (GROUPS * L::WIDTH)) - 1u);
    const FilterState& state = filter_state;
    const double* values = state.lane_view.values + (line * state.lane_view.value_stride + position);
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
            const LaneBits edges = static_cast<LaneBits>(edge_run_inside(line + entry->dline,
                                                                         position + entry->dposition)) &
                                   ALL_LANES;
            const LaneBits shadow = edges | *slot;
            *slot = shadow;
            far |= shadow;
            add_sample(sums, values + entry->offset, far, entry->near_weight, entry->far_weight);
        }
    }
    store_results(sums, line, position);
}

// ---------------------------------------------------------------------------
// Any window: wedge by wedge, with lanes masked where samples leave the image.

// Mark slots for the next ray step: one for the ray point, and one per place
// along each walk.
struct LaneMarks {
    LaneBits ray;
    LaneBits first_walk[LANE_VIEW_SIDE + 1];
    LaneBits second_walk[LANE_VIEW_SIDE + 1];
};

// Bits of the lanes whose position first + lane lies in [low, high).
LANES_TARGET LANES_INLINE LaneBits lane_bits(int first, int low, int high, int lanes)
{
    const int begin = low - first > 0 ? low - first : 0;
    const int end = high - first < lanes ? high - first : lanes;
    if (begin >= end) {
        return 0;
    }
    return static_cast<LaneBits>(((1ull << end) - 1u) & ~((1ull << begin) - 1u));
}

// Visits the sample at offset (dline, dposition) for every lane, as the
// literal visit would: a shadowed sample switches its lane to the far width
// and marks the next point out, then the sample is weighted and added.
// Returns false when the sample lies outside the image for every lane.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE bool visit(LaneSums<L, GROUPS>& sums, LaneBits& far, int line, int position,
                                     int dline, int dposition, int along, int across, LaneBits& mark,
                                     bool on_ray)
{
    constexpr int LANES = GROUPS * L::WIDTH;
    const FilterState& state = filter_state;
    const LaneView& view = state.lane_view;
    const int sample_line = line + dline;
    const int sample_position = position + dposition;
    const LaneBits valid = lane_bits(sample_position, 0, view.length, LANES);
    if (sample_line < 0 || sample_line >= view.lines || valid == 0) {
        return false;
    }
    const LaneBits shadow =
        (static_cast<LaneBits>(edge_run(sample_line, sample_position)) | mark) & valid;
    far |= shadow;
    // Diagonal samples on the image's border pass no shadow on.
    const bool line_passes = on_ray || (sample_line > 0 && sample_line < view.lines - 1);
    mark = shadow & (on_ray        ? valid
                     : line_passes ? lane_bits(sample_position, 1, view.length - 1, LANES)
                                   : 0u);

    const double* values = view.values + (sample_line * view.value_stride + sample_position);
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
LANES_TARGET LANES_INLINE void walk(LaneSums<L, GROUPS>& sums, LaneBits far, int line, int position,
                                    const Wedge& wedge, int step, int cross_sign, LaneBits* marks)
{
    const int reach = filter_state.reach;
    for (int j = 1; j <= reach - step; ++j) {
        const int along = step + j;
        const int across = j * cross_sign;
        const int dline = along * wedge.axis[0] + across * wedge.cross[0];
        const int dposition = along * wedge.axis[1] + across * wedge.cross[1];
        // Past the first point outside the image, the walk has none inside.
        if (!visit(sums, far, line, position, dline, dposition, along, j, marks[j], false)) {
            break;
        }
    }
}

// The GROUPS lane groups from (line, position) on, wherever they lie.
template <class L, int GROUPS>
LANES_TARGET void filter_lane_groups(int line, int position)
{
    LaneSums<L, GROUPS> sums;
    start_sums(sums);
    LaneMarks marks;
    const int reach = filter_state.reach;
    for (const Wedge& wedge : LANE_VIEW_WEDGES) {
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
            if (!visit(sums, far, line, position, step * wedge.axis[0], step * wedge.axis[1], step, 0,
                       marks.ray, true)) {
                break;
            }
            walk(sums, far, line, position, wedge, step, +1, marks.first_walk);
            walk(sums, LaneBits{0}, line, position, wedge, step, -1, marks.second_walk);
        }
    }
    store_results(sums, line, position);
}

// ---------------------------------------------------------------------------

// True when no edge pixel lies in the lines line - reach to line + reach,
// positions first - reach to last + reach, all inside the image.
LANES_TARGET LANES_INLINE bool windows_without_edges(int line, int first, int last)
{
    const FilterState& state = filter_state;
    for (int l = line - state.reach; l <= line + state.reach; ++l) {
        for (int p = first - state.reach; p <= last + state.reach; p += 64) {
            const int count = last + state.reach + 1 - p;
            const std::uint64_t wanted = count >= 64 ? ~0ull : (1ull << count) - 1u;
            if ((edge_run_inside(l, p) & wanted) != 0) {
                return false;
            }
        }
    }
    return true;
}

template <class L>
LANES_TARGET void filter_line(int line, int first, int end)
{
    constexpr int SPAN = GROUPS_IN_FLIGHT * L::WIDTH;
    static_assert(SPAN <= 32, "every lane in flight has a bit of a LaneBits");
    const FilterState& state = filter_state;
    const int lines = state.lane_view.lines;
    const int length = state.lane_view.length;
    const int reach = state.reach;
    const bool lines_interior =
        state.schedule_length > 0 && line - reach >= 1 && line + reach <= lines - 2;
    int position = first;
    for (; position + SPAN <= end; position += SPAN) {
        const bool interior = lines_interior && position - reach >= 1 &&
                              position + SPAN - 1 + reach <= length - 2;
        if (!interior) {
            filter_lane_groups<L, GROUPS_IN_FLIGHT>(line, position);
        } else if (windows_without_edges(line, position, position + SPAN - 1)) {
            filter_scheduled_plain<L>(line, position);
        } else {
            filter_scheduled<L>(line, position);
        }
    }
    // The last few pixels, one lane group at a time.
    for (; position < end; position += L::WIDTH) {
        filter_lane_groups<L, 1>(line, position);
    }
}

}  // namespace

}  // namespace lumasift

#endif

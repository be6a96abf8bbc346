// The lane kernels, written once for any lane traits. Included by one source
// per instruction set, after it defines LANES_TARGET (the instruction set
// its functions are compiled for) and, in an anonymous namespace, its traits:
//
//   WIDTH, Value (double, or float for an approximation), Vec (WIDTH
//   values), Mask (one flag per lane)
//   zero(), broadcast(x), load(p), load(p, valid), add(a, b), mul(a, b),
//   divide(a, b), store(p, v), add_where(valid, acc, x),
//   select(far, near_weight, far_weight), from_bits(bits),
//   edge_flags(p): bit i set where p[i] marks an edge, for WIDTH values,
//   load_bytes(bytes, values) and store_bytes(values, bytes): WIDTH bytes to
//   doubles and back, as the host converts,
//   sub(a, b), sqrt(a), max_number(a, b): the last as std::fmax, NaN lost
//   to a number (edges-inl.h)
//
// has_lane_traits checks what types can say of that; the tests check the
// rest, every instruction set against the plain one and the definition.
// Every kernel reads what it works on from the LanePass it is handed.
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
// - Run: a stretch of the visiting schedule that starts from the near
//   width: a ray point with its first walk, or a second walk.
// - Interior: a span whose windows lie inside the image and off its border
//   lines and positions, so that every sample is there and passes its shadow
//   on. A plain group: one whose lanes' windows hold no edge, so that every
//   sample has the near width and the weight total is known.
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
//   reads it, as above. A sample outside the image leaves its slot alone:
//   the slot's next reader lies one step further out, outside too.
// - Samples outside the image become lanes that add nothing and mark nothing.
// - A plain group's lanes are never shadowed, so their weights are the near
//   ones and their total the plain one; skipping their blends and their
//   second additions changes no bit.
#ifndef LUMASIFT_LANES_KERNEL_INL_H
#define LUMASIFT_LANES_KERNEL_INL_H

#ifndef LANES_TARGET
#error "define LANES_TARGET, and the lane traits, before including kernel-inl.h"
#endif

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "../constants.h"
#include "../convert.h"
#include "../wedge.h"
#include "edge_bits.h"
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

#include "edges-inl.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// Lane groups processed side by side: independent chains of additions keep
// the adders busy while each waits for its previous sum.
constexpr int GROUPS_IN_FLIGHT = 4;

// The flags of all lanes in flight, GROUPS_IN_FLIGHT * WIDTH of them: 64
// for floats in 512-bit vectors.
template <class L>
using LaneBits = std::conditional_t<(GROUPS_IN_FLIGHT * L::WIDTH > 32), std::uint64_t, std::uint32_t>;

// Bits [0, count) of a word, count up to 64.
constexpr std::uint64_t low_bits(int count)
{
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1u;
}

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

// Lanes of floats, which approximate (certify.h): they read the view's
// floats, take the smallest weights as 0, and sum a block of the schedule at
// a time (summation_block). Lanes of doubles keep the literal order.
template <class L>
constexpr bool APPROXIMATE_LANES = std::is_same_v<typename L::Value, float>;

// Adds a block's sums into the running ones and starts the next block.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void fold_block(LaneSums<L, GROUPS>& folded, LaneSums<L, GROUPS>& block)
{
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        folded.sum[g] = L::add(folded.sum[g], block.sum[g]);
        folded.total[g] = L::add(folded.total[g], block.total[g]);
        block.sum[g] = L::zero();
        block.total[g] = L::zero();
    }
}

// Counts a schedule entry into its block, folding the block at its end.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void end_entry(LaneSums<L, GROUPS>& folded, LaneSums<L, GROUPS>& block, int& in_block,
                                         int block_length)
{
    if constexpr (APPROXIMATE_LANES<L>) {
        if (++in_block == block_length) {
            fold_block(folded, block);
            in_block = 0;
        }
    }
}

// The window's sums once every entry is in: the running ones for floats,
// the block's (all of them) for doubles.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void finish_sums(LaneSums<L, GROUPS>& folded, LaneSums<L, GROUPS>& block)
{
    if constexpr (APPROXIMATE_LANES<L>) {
        fold_block(folded, block);
        block = folded;
    }
}

template <class L>
LANES_TARGET LANES_INLINE typename L::Mask group_mask(LaneBits<L> bits, int g)
{
    return L::from_bits(static_cast<unsigned>((bits >> (g * L::WIDTH)) & low_bits(L::WIDTH)));
}

template <class L, int GROUPS>
constexpr LaneBits<L> ALL_LANES = static_cast<LaneBits<L>>(low_bits(GROUPS * L::WIDTH));

// The values the kernels read: the image's doubles, or their floats for an
// approximation.
template <class L>
LANES_TARGET LANES_INLINE const typename L::Value* lane_values(const LaneView& view)
{
    if constexpr (!APPROXIMATE_LANES<L>) {
        return view.values;
    } else {
        return view.approximate_values;
    }
}

// Float weights below this are taken as 0: their products would be
// subnormal, which costs the processor a hundred times a normal product,
// and what they leave out is within the approximation's bound (certify.h).
constexpr double SMALLEST_FLOAT_WEIGHT = 0x1p-60;

// A weight in every lane.
template <class L>
LANES_TARGET LANES_INLINE typename L::Vec weight_vector(double weight)
{
    if constexpr (!APPROXIMATE_LANES<L>) {
        return L::broadcast(weight);
    } else {
        return L::broadcast(weight < SMALLEST_FLOAT_WEIGHT ? 0.0 : weight);
    }
}

// A group's quotients, as doubles whatever the lanes hold.
template <class L>
LANES_TARGET LANES_INLINE void store_quotients(double* results, typename L::Vec quotients)
{
    if constexpr (!APPROXIMATE_LANES<L>) {
        L::store(results, quotients);
    } else {
        L::store_doubles(results, quotients);
    }
}

// Divides and stores the results of the span's lanes whose positions lie in
// [first, end): contiguous in the column-major result. The other lanes
// belong to the next part or to a tile's margin, or lie past the line.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void store_results(const LanePass& pass, const LaneSums<L, GROUPS>& sums, int line,
                                             int position, int first, int end)
{
    const LaneView& view = pass.view;
    double* results = view.results + (line * view.result_stride + position);
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        const int begin = position + g * L::WIDTH;
        if (begin >= first && begin + L::WIDTH <= end) {
            store_quotients<L>(results + g * L::WIDTH, L::divide(sums.sum[g], sums.total[g]));
        } else if (begin < end && begin + L::WIDTH > first) {
            double quotients[L::WIDTH];
            store_quotients<L>(quotients, L::divide(sums.sum[g], sums.total[g]));
            for (int lane = 0; lane < L::WIDTH; ++lane) {
                if (begin + lane >= first && begin + lane < end) {
                    results[g * L::WIDTH + lane] = quotients[lane];
                }
            }
        }
    }
}

// Where the edge flags of a span's first lane lie: its line's row of edge
// bits, and the bit within it.
struct EdgeCursor {
    const unsigned char* row;
    int bit;
};

LANES_TARGET LANES_INLINE EdgeCursor edge_cursor(const LanePass& pass, int line, int position)
{
    return {reinterpret_cast<const unsigned char*>(pass.edge_row(line)), EDGE_FRONT_BITS + position};
}

// The edge flags from a bit of a row on, a negative bit reaching back into
// the rows before: one unaligned read and one shift, which leave at least 57
// good bits. The shift rounds toward minus infinity, and & 7 leaves the
// remainder that goes with it.
LANES_TARGET LANES_INLINE std::uint64_t edge_flags_from(const unsigned char* row, int bit)
{
    std::uint64_t word;
    std::memcpy(&word, row + (bit >> 3), sizeof word);
    return word >> (bit & 7);
}

// The edge flags of a span's lanes from a bit on: one read where it leaves
// enough good bits, two of 32 where a span has more lanes than that.
template <class L>
LANES_TARGET LANES_INLINE LaneBits<L> lane_edge_flags(const unsigned char* row, int bit)
{
    if constexpr (GROUPS_IN_FLIGHT * L::WIDTH <= 57) {
        return static_cast<LaneBits<L>>(edge_flags_from(row, bit));
    } else {
        return (edge_flags_from(row, bit) & low_bits(32)) | (edge_flags_from(row, bit + 32) << 32);
    }
}

// The edge flags of the lanes' sample at a schedule entry, lane i at bit i.
template <class L>
LANES_TARGET LANES_INLINE LaneBits<L> entry_edges(const EdgeCursor& cursor, const ScheduleEntry& entry)
{
    return lane_edge_flags<L>(cursor.row, cursor.bit + edge_bit_of(entry));
}

// The edge flags of positions p, p + 1, ... of a line, any p within
// EDGE_FRONT_BITS of it.
template <class L>
LANES_TARGET LANES_INLINE LaneBits<L> edge_run(const LanePass& pass, int line, int position)
{
    const EdgeCursor cursor = edge_cursor(pass, line, position);
    return lane_edge_flags<L>(cursor.row, cursor.bit);
}

// ---------------------------------------------------------------------------
// Interior spans: flat passes over the visiting schedule.

// EDGED names the groups whose windows hold an edge: they blend their
// weights and add them up; the plain ones add the near weight's products
// only. A span with no edged group needs no shadow at all.
template <class L, unsigned EDGED>
LANES_TARGET void filter_interior_span(const LanePass& pass, int line, int position, int first, int end)
{
    constexpr int GROUPS = GROUPS_IN_FLIGHT;
    const typename L::Value* values = lane_values<L>(pass.view) + (line * pass.view.value_stride + position);
    LaneSums<L, GROUPS> sums;
    LaneSums<L, GROUPS> folded;
    start_sums(sums);
    start_sums(folded);
    const int block_length = APPROXIMATE_LANES<L> ? summation_block(pass.schedule_length) : 0;
    int in_block = 0;
    if constexpr (EDGED == 0) {
        const int length = pass.schedule_length;
        for (int i = 0; i < length; ++i) {
            const ScheduleEntry& entry = pass.schedule[i];
            const typename L::Value* sample = values + entry.offset;
            const typename L::Vec weight = weight_vector<L>(entry.near_weight);
            FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
                sums.sum[g] = L::add(sums.sum[g], L::mul(L::load(sample + g * L::WIDTH), weight));
            }
            end_entry(folded, sums, in_block, block_length);
        }
    } else {
        const EdgeCursor edges = edge_cursor(pass, line, position);
        LaneBits<L> marks[MARK_SLOTS];
        for (int i = 0; i < mark_slots_for(pass.reach); ++i) {
            marks[i] = 0;
        }
        LaneBits<L> far = 0;
        const ScheduleEntry* const last = pass.schedule.get() + pass.schedule_length;
        for (const ScheduleEntry* entry = pass.schedule.get(); entry != last; ++entry) {
            LaneBits<L>& slot = marks[mark_slot_of(*entry)];
            const LaneBits<L> shadow = (entry_edges<L>(edges, *entry) & ALL_LANES<L, GROUPS>) | slot;
            slot = shadow;
            far = static_cast<LaneBits<L>>(far & keeps_width_of(*entry)) | shadow;
            const typename L::Value* sample = values + entry->offset;
            const typename L::Vec near = weight_vector<L>(entry->near_weight);
            const typename L::Vec far_weight = weight_vector<L>(entry->far_weight);
            FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
                const typename L::Vec value = L::load(sample + g * L::WIDTH);
                if ((EDGED >> g) & 1u) {
                    const typename L::Vec weight = L::select(group_mask<L>(far, g), near, far_weight);
                    sums.sum[g] = L::add(sums.sum[g], L::mul(value, weight));
                    sums.total[g] = L::add(sums.total[g], weight);
                } else {
                    sums.sum[g] = L::add(sums.sum[g], L::mul(value, near));
                }
            }
            end_entry(folded, sums, in_block, block_length);
        }
    }
    finish_sums(folded, sums);
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        if (!((EDGED >> g) & 1u)) {
            sums.total[g] = L::broadcast(pass.plain_weight_total);
        }
    }
    store_results(pass, sums, line, position, first, end);
}

template <class L>
using SpanFilter = void (*)(const LanePass& pass, int line, int position, int first, int end);

template <class L, unsigned... EDGED>
constexpr std::array<SpanFilter<L>, sizeof...(EDGED)> interior_span_filters(
    std::integer_sequence<unsigned, EDGED...>)
{
    return {&filter_interior_span<L, EDGED>...};
}

// One interior kernel for each pattern of edged groups.
template <class L>
constexpr auto INTERIOR_SPAN_FILTERS =
    interior_span_filters<L>(std::make_integer_sequence<unsigned, 1u << GROUPS_IN_FLIGHT>{});

// Bits of the lanes whose position first + lane lies in [low, high).
LANES_TARGET LANES_INLINE std::uint64_t lane_bits_in(int first, int low, int high, int lanes)
{
    const int begin = low - first > 0 ? low - first : 0;
    const int end = high - first < lanes ? high - first : lanes;
    if (begin >= end) {
        return 0;
    }
    return low_bits(end) & ~low_bits(begin);
}

// The lanes whose shadowed sample marks the point one step further out: a
// ray point always, inside the image; a diagonal sample only from off the
// image's border, where its line and its position both lie.
template <class Bits>
LANES_TARGET LANES_INLINE Bits passed_shadow(Bits shadow, bool on_ray, Bits inside, bool line_off_border,
                                             Bits positions_off_border)
{
    return shadow & (on_ray ? inside : line_off_border ? positions_off_border : Bits{0});
}

// ---------------------------------------------------------------------------
// Border spans, whose windows the image cuts or whose samples lie on its
// border: the same schedule, with lanes masked where samples leave the
// image, and shadows passed on only from where the literal visit passes them.

// Adds a sample to the lanes of `inside` only, with the far weight in the
// lanes of `far`; the others' values are not read, since they may lie
// outside the image.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void add_sample_inside(LaneSums<L, GROUPS>& sums, const typename L::Value* values,
                                                 LaneBits<L> inside, LaneBits<L> far, double near_weight,
                                                 double far_weight)
{
    const typename L::Vec near = weight_vector<L>(near_weight);
    const typename L::Vec far_vec = weight_vector<L>(far_weight);
    FOR_EACH_GROUP (int g = 0; g < GROUPS; ++g) {
        const typename L::Mask lanes_inside = group_mask<L>(inside, g);
        const typename L::Vec weight = L::select(group_mask<L>(far, g), near, far_vec);
        const typename L::Vec value = L::load(values + g * L::WIDTH, lanes_inside);
        sums.sum[g] = L::add_where(lanes_inside, sums.sum[g], L::mul(value, weight));
        sums.total[g] = L::add_where(lanes_inside, sums.total[g], weight);
    }
}

// LINES_INSIDE: the window's lines all lie off the image's border, so that
// only positions can leave it.
template <class L, int GROUPS, bool LINES_INSIDE>
LANES_TARGET void filter_border_span(const LanePass& pass, int line, int position, int first, int end)
{
    constexpr int LANES = GROUPS * L::WIDTH;
    const LaneView& view = pass.view;
    const int reach = pass.reach;
    const typename L::Value* values = lane_values<L>(view) + (line * view.value_stride + position);
    const EdgeCursor edges = edge_cursor(pass, line, position);
    // By the samples' offset along the line: the lanes whose sample lies
    // inside the image, and those whose sample lies off its border.
    LaneBits<L> inside_at[2 * MAX_SCHEDULED_REACH + 1];
    LaneBits<L> off_border_at[2 * MAX_SCHEDULED_REACH + 1];
    for (int d = -reach; d <= reach; ++d) {
        inside_at[d + reach] = static_cast<LaneBits<L>>(lane_bits_in(position + d, 0, view.length, LANES));
        off_border_at[d + reach] = static_cast<LaneBits<L>>(lane_bits_in(position + d, 1, view.length - 1, LANES));
    }
    LaneSums<L, GROUPS> sums;
    LaneSums<L, GROUPS> folded;
    start_sums(sums);
    start_sums(folded);
    const int block_length = APPROXIMATE_LANES<L> ? summation_block(pass.schedule_length) : 0;
    int in_block = 0;
    LaneBits<L> marks[MARK_SLOTS];
    for (int i = 0; i < mark_slots_for(reach); ++i) {
        marks[i] = 0;
    }
    LaneBits<L> far = 0;
    const ScheduleEntry* const last = pass.schedule.get() + pass.schedule_length;
    for (const ScheduleEntry* entry = pass.schedule.get(); entry != last; ++entry) {
        const int sample_line = line + entry->dline;
        const LaneBits<L> inside = inside_at[entry->dposition + reach];
        // Skipped, as the literal visit skips it: nothing changes.
        if ((!LINES_INSIDE && (sample_line < 0 || sample_line >= view.lines)) || inside == 0) {
            end_entry(folded, sums, in_block, block_length);
            continue;
        }
        LaneBits<L>& slot = marks[mark_slot_of(*entry)];
        const LaneBits<L> shadow = (entry_edges<L>(edges, *entry) | slot) & inside;
        const bool line_off_border = LINES_INSIDE || (sample_line > 0 && sample_line < view.lines - 1);
        slot = passed_shadow(shadow, entry->ray_point, inside, line_off_border, off_border_at[entry->dposition + reach]);
        far = static_cast<LaneBits<L>>(far & keeps_width_of(*entry)) | shadow;
        add_sample_inside(sums, values + entry->offset, inside, far, entry->near_weight, entry->far_weight);
        end_entry(folded, sums, in_block, block_length);
    }
    finish_sums(folded, sums);
    store_results(pass, sums, line, position, first, end);
}

// ---------------------------------------------------------------------------
// Windows too wide for a schedule, or an image too thin for one: wedge by
// wedge, with lanes masked where samples leave the image.

// Mark slots for the next ray step: one for the ray point, and one per place
// along each walk.
template <class Bits>
struct LaneMarks {
    Bits ray;
    Bits first_walk[MAX_PASS_SIDE + 1];
    Bits second_walk[MAX_PASS_SIDE + 1];
};

// Visits the sample at offset (dline, dposition) for every lane, as the
// literal visit would: a shadowed sample switches its lane to the far width
// and marks the next point out, then the sample is weighted and added.
// Returns false when the sample lies outside the image for every lane.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE bool visit(const LanePass& pass, LaneSums<L, GROUPS>& sums, LaneBits<L>& far, int line,
                                     int position, int dline, int dposition, int along, int across, LaneBits<L>& mark,
                                     bool on_ray)
{
    constexpr int LANES = GROUPS * L::WIDTH;
    const LaneView& view = pass.view;
    const int sample_line = line + dline;
    const int sample_position = position + dposition;
    const auto inside = static_cast<LaneBits<L>>(lane_bits_in(sample_position, 0, view.length, LANES));
    if (sample_line < 0 || sample_line >= view.lines || inside == 0) {
        return false;
    }
    const LaneBits<L> shadow = (edge_run<L>(pass, sample_line, sample_position) | mark) & inside;
    far |= shadow;
    const bool line_off_border = sample_line > 0 && sample_line < view.lines - 1;
    mark = passed_shadow(shadow, on_ray, inside, line_off_border,
                         static_cast<LaneBits<L>>(lane_bits_in(sample_position, 1, view.length - 1, LANES)));

    add_sample_inside(sums, lane_values<L>(view) + (sample_line * view.value_stride + sample_position), inside, far,
                      pass.near_weight(along, across), pass.far_weight(along, across));
    return true;
}

// One diagonal walk from the ray point `step` steps out. It keeps whatever
// width its lanes have when it starts.
template <class L, int GROUPS>
LANES_TARGET LANES_INLINE void walk(const LanePass& pass, LaneSums<L, GROUPS>& sums, LaneBits<L> far, int line,
                                    int position, const Wedge& wedge, int step, int cross_sign, LaneBits<L>* marks)
{
    const int reach = pass.reach;
    for (int j = 1; j <= reach - step; ++j) {
        const int along = step + j;
        const int across = j * cross_sign;
        const int dline = along * wedge.axis[0] + across * wedge.cross[0];
        const int dposition = along * wedge.axis[1] + across * wedge.cross[1];
        // Past the first point outside the image, the walk has none inside.
        if (!visit(pass, sums, far, line, position, dline, dposition, along, j, marks[j], false)) {
            break;
        }
    }
}

template <class L, int GROUPS>
LANES_TARGET void filter_wedge_by_wedge(const LanePass& pass, int line, int position, int first, int end)
{
    LaneSums<L, GROUPS> sums;
    start_sums(sums);
    LaneMarks<LaneBits<L>> marks;
    const int reach = pass.reach;
    for (const Wedge& wedge : LANE_VIEW_WEDGES) {
        // Each wedge starts unmarked; later steps read only slots that the
        // step before them wrote.
        marks.ray = 0;
        for (int j = 0; j <= reach; ++j) {
            marks.first_walk[j] = 0;
            marks.second_walk[j] = 0;
        }
        for (int step = wedge.first_step; step <= reach; ++step) {
            LaneBits<L> far = 0;
            // Later ray points lie further out: none is inside either.
            if (!visit(pass, sums, far, line, position, step * wedge.axis[0], step * wedge.axis[1], step, 0,
                       marks.ray, true)) {
                break;
            }
            walk(pass, sums, far, line, position, wedge, step, +1, marks.first_walk);
            walk(pass, sums, LaneBits<L>{0}, line, position, wedge, step, -1, marks.second_walk);
        }
    }
    store_results(pass, sums, line, position, first, end);
}

// ---------------------------------------------------------------------------

// Runs a kernel templated on the number of lane groups with as few groups as
// cover `lanes` lanes, up to a span; returns the lanes it covered.
template <template <class, int> class Kernel, class L>
LANES_TARGET LANES_INLINE int with_groups_for(const LanePass& pass, int lanes, int line, int position, int first, int end)
{
    const int groups = (lanes + L::WIDTH - 1) / L::WIDTH;
    if (groups >= 4) {
        Kernel<L, 4>::run(pass, line, position, first, end);
        return 4 * L::WIDTH;
    }
    if (groups == 3) {
        Kernel<L, 3>::run(pass, line, position, first, end);
    } else if (groups == 2) {
        Kernel<L, 2>::run(pass, line, position, first, end);
    } else {
        Kernel<L, 1>::run(pass, line, position, first, end);
    }
    return groups * L::WIDTH;
}

template <class L, int GROUPS>
struct BorderKernel {
    LANES_TARGET static void run(const LanePass& pass, int line, int position, int first, int end)
    {
        filter_border_span<L, GROUPS, false>(pass, line, position, first, end);
    }
};

template <class L, int GROUPS>
struct BorderKernelInsideLines {
    LANES_TARGET static void run(const LanePass& pass, int line, int position, int first, int end)
    {
        filter_border_span<L, GROUPS, true>(pass, line, position, first, end);
    }
};

template <class L, int GROUPS>
struct WedgeKernel {
    LANES_TARGET static void run(const LanePass& pass, int line, int position, int first, int end)
    {
        filter_wedge_by_wedge<L, GROUPS>(pass, line, position, first, end);
    }
};

// Positions [first, end) of a line, span by span: interior spans wherever
// they fit, border spans of as few groups as cover the rest. WORDS: room
// for the window's near edges of a line of up to WORDS words.
// Whether the pass's windows follow its schedule: wider ones, and images too
// thin for theirs, go wedge by wedge.
inline bool follows_schedule(const LanePass& pass)
{
    return pass.schedule_length > 0 && pass.view.lines > pass.reach && pass.view.length > pass.reach;
}

template <class L, int WORDS>
LANES_TARGET void filter_line_of(const LanePass& pass, int line, int first, int end)
{
    constexpr int SPAN = GROUPS_IN_FLIGHT * L::WIDTH;
    const LaneView& view = pass.view;
    const int reach = pass.reach;
    if (!follows_schedule(pass)) {
        for (int position = first; position < end;) {
            position += with_groups_for<WedgeKernel, L>(pass, end - position, line, position, first, end);
        }
        return;
    }
    // Bit p: an edge lies in the window of position p.
    std::uint64_t window_edges[WORDS];
    const int words = pass.near_words;
    for (int w = 0; w < words; ++w) {
        window_edges[w] = 0;
    }
    const int top = line - reach > 0 ? line - reach : 0;
    const int bottom = line + reach < view.lines - 1 ? line + reach : view.lines - 1;
    for (int l = top; l <= bottom; ++l) {
        const std::uint64_t* near_edges = pass.near_edge_row(l);
        for (int w = 0; w < words; ++w) {
            window_edges[w] |= near_edges[w];
        }
    }
    const bool lines_interior = line - reach >= 1 && line + reach <= view.lines - 2;
    // The positions whose windows lie off the border, where lines allow.
    const int interior_first = lines_interior ? reach + 1 : view.length;
    const int interior_last = view.length - 2 - reach;
    for (int position = first; position < end;) {
        // The last interior span moves back so as to end with the interior,
        // covering again some pixels of the one before it rather than
        // leaving them to border spans.
        const int start = position + SPAN - 1 <= interior_last ? position : interior_last - SPAN + 1;
        if (position < interior_first || position > interior_last || start < interior_first) {
            const int stop = position < interior_first   ? (interior_first < end ? interior_first : end)
                             : position > interior_last ? end
                                                        : (interior_last + 1 < end ? interior_last + 1 : end);
            position += lines_interior
                            ? with_groups_for<BorderKernelInsideLines, L>(pass, stop - position, line, position, first, end)
                            : with_groups_for<BorderKernel, L>(pass, stop - position, line, position, first, end);
            continue;
        }
        position = start;
        const LaneBits<L> edged_lanes =
            static_cast<LaneBits<L>>(bits_from(window_edges, words, position)) & ALL_LANES<L, GROUPS_IN_FLIGHT>;
        unsigned pattern = 0;
        for (int g = 0; g < GROUPS_IN_FLIGHT; ++g) {
            pattern |= ((edged_lanes >> (g * L::WIDTH)) & low_bits(L::WIDTH)) != 0 ? 1u << g : 0u;
        }
        INTERIOR_SPAN_FILTERS<L>[pattern](pass, line, position, first, end);
        position += SPAN;
    }
}

// Lines of up to COMMON_PASS_SIDE positions, every whole image the
// definition takes and every tile but the longest, keep the window's near
// edges in an array of their size: room for MAX_EDGE_WORDS in the frame
// measured 4% slower on them, the same work.
template <class L>
LANES_TARGET void filter_line(const LanePass& pass, int line, int first, int end)
{
    constexpr int COMMON_WORDS = edge_words(COMMON_PASS_SIDE);
    if (pass.near_words <= COMMON_WORDS) {
        filter_line_of<L, COMMON_WORDS>(pass, line, first, end);
    } else {
        filter_line_of<L, MAX_EDGE_WORDS>(pass, line, first, end);
    }
}

// Positions [first, end) of a line one lane group at a time, each window as
// a border span's, which holds any window (filter_pixels).
template <class L>
LANES_TARGET void filter_few(const LanePass& pass, int line, int first, int end)
{
    const bool scheduled = follows_schedule(pass);
    for (int position = first; position < end; position += L::WIDTH) {
        if (scheduled) {
            filter_border_span<L, 1, false>(pass, line, position, first, end);
        } else {
            filter_wedge_by_wedge<L, 1>(pass, line, position, first, end);
        }
    }
}

// pack_edge_bits for doubles, WIDTH values a compare for whole words.
template <class L>
LANES_TARGET void pack_double_edges(const double* values, int length, std::uint64_t* row, int words)
{
    for (int w = 0; w < words; ++w) {
        int first;
        const int count = edge_word_positions(w, length, first);
        if (count < 64) {
            row[w] = edge_word(values, first, count);
            continue;
        }
        std::uint64_t bits = 0;
        for (int bit = 0; bit < 64; bit += L::WIDTH) {
            bits |= static_cast<std::uint64_t>(L::edge_flags(values + first + bit)) << bit;
        }
        row[w] = bits;
    }
}

// Bytes to doubles and back, WIDTH at a time by the traits' load_bytes and
// store_bytes, which convert as as_double and converted<std::uint8_t> do.
template <class L>
LANES_TARGET void bytes_to_doubles(const std::uint8_t* bytes, double* values, int count)
{
    int i = 0;
    for (; i + L::WIDTH <= count; i += L::WIDTH) {
        L::load_bytes(bytes + i, values + i);
    }
    for (; i < count; ++i) {
        values[i] = as_double(bytes[i]);
    }
}

template <class L>
LANES_TARGET void doubles_to_bytes(const double* values, std::uint8_t* bytes, int count)
{
    int i = 0;
    for (; i + L::WIDTH <= count; i += L::WIDTH) {
        L::store_bytes(values + i, bytes + i);
    }
    for (; i < count; ++i) {
        bytes[i] = converted<std::uint8_t>(values[i]);
    }
}

// The traits' contract, as far as types can state it. Vector types lose
// their alignment attributes as template arguments, which GCC warns of;
// only their identity matters here.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"
#endif
// What the filter's kernels ask of any traits, double or float.
template <class L>
constexpr bool has_filter_traits()
{
    using Vec = typename L::Vec;
    using Mask = typename L::Mask;
    using Value = typename L::Value;
    const Vec v{};
    const Mask m{};
    const Value* p = nullptr;
    static_assert(std::is_same_v<Value, double> || std::is_same_v<Value, float>, "lanes hold doubles or floats");
    static_assert(L::WIDTH >= 1 && GROUPS_IN_FLIGHT * L::WIDTH <= 64, "every lane in flight has a bit of a LaneBits");
    static_assert(std::is_same_v<decltype(L::zero()), Vec> && std::is_same_v<decltype(L::broadcast(1.0)), Vec> &&
                      std::is_same_v<decltype(L::load(p)), Vec> && std::is_same_v<decltype(L::load(p, m)), Vec>,
                  "zero, broadcast (of a double) and load make vectors");
    static_assert(std::is_same_v<decltype(L::add(v, v)), Vec> && std::is_same_v<decltype(L::mul(v, v)), Vec> &&
                      std::is_same_v<decltype(L::divide(v, v)), Vec>,
                  "arithmetic takes and gives vectors");
    static_assert(std::is_same_v<decltype(L::add_where(m, v, v)), Vec> &&
                      std::is_same_v<decltype(L::select(m, v, v)), Vec> &&
                      std::is_same_v<decltype(L::from_bits(0u)), Mask>,
                  "masks choose lanes");
    if constexpr (std::is_same_v<Value, float>) {
        static_assert(std::is_void_v<decltype(L::store_doubles(nullptr, v))>, "floats are stored as doubles");
    }
    return true;
}

// The rest of the contract, for the double traits that serve every pass.
template <class L>
constexpr bool has_lane_traits()
{
    using Vec = typename L::Vec;
    const Vec v{};
    const double* p = nullptr;
    std::uint8_t* bytes = nullptr;
    static_assert(has_filter_traits<L>() && std::is_same_v<typename L::Value, double>, "the exact lanes hold doubles");
    static_assert(std::is_same_v<decltype(L::sub(v, v)), Vec> && std::is_same_v<decltype(L::sqrt(v)), Vec> &&
                      std::is_same_v<decltype(L::max_number(v, v)), Vec> &&
                      std::is_same_v<decltype(L::edge_flags(p)), unsigned>,
                  "the edge map's arithmetic");
    static_assert(std::is_void_v<decltype(L::store(nullptr, v))> &&
                      std::is_void_v<decltype(L::load_bytes(bytes, nullptr))> &&
                      std::is_void_v<decltype(L::store_bytes(p, bytes))>,
                  "stores and byte conversions write through their pointers");
    return true;
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The kernels of one instruction set's traits: L for doubles, F for floats
// (the approximation), or none for F = void.
template <class L, class F = void>
constexpr LaneKernels kernels_for()
{
    static_assert(has_lane_traits<L>());
    LineFilter approximate_line = nullptr;
    if constexpr (!std::is_void_v<F>) {
        static_assert(has_filter_traits<F>() && std::is_same_v<typename F::Value, float>);
        approximate_line = &filter_line<F>;
    }
    return {&filter_line<L>,        approximate_line,    &pack_double_edges<L>,
            &bytes_to_doubles<L>, &doubles_to_bytes<L>, EDGE_KERNELS<L>};
}

}  // namespace

}  // namespace lumasift

#endif

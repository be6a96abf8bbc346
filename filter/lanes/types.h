// The lane engine's types: the lane view, the visiting schedule, their
// limits, and the pass that holds them for the kernels. The words used here
// are defined at the top of kernel-inl.h.
#ifndef LUMASIFT_LANES_TYPES_H
#define LUMASIFT_LANES_TYPES_H

#include <cstddef>
#include <cstdint>

#include "../hidden.h"
#include "../call.h"

namespace lumasift LUMASIFT_HIDDEN {

// The most lines, and the longest line, of a lane pass: the image itself up
// to the definition's planes, or a tile of a larger one. Tiles this long
// hold the widest windows that a call can afford to tile.
constexpr int MAX_PASS_SIDE = 2048;
// The longest line of most passes: the definition's planes, and the tiles
// of images larger than them where windows leave room.
constexpr int COMMON_PASS_SIDE = 1000;

// Largest reach whose window gets a visiting schedule; wider windows are
// walked wedge by wedge, which costs little next to their many samples.
constexpr int MAX_SCHEDULED_REACH = 100;
// A line's edge flags: EDGE_FRONT_BITS zero bits, then one bit per position,
// then zeros to the end of edge_row_words(length) words, so that a kernel
// may read 64 bits from any byte that a window within MAX_SCHEDULED_REACH of
// the line, or any sample inside it, starts in, and 64 more for a span of
// 64 lanes.
constexpr int EDGE_FRONT_BITS = 128;
constexpr int edge_row_words(int length)
{
    return (EDGE_FRONT_BITS + length + MAX_SCHEDULED_REACH + 64 + 64 + 63) / 64;
}
constexpr int MAX_EDGE_ROW_WORDS = edge_row_words(MAX_PASS_SIDE);
static_assert(EDGE_FRONT_BITS % 64 == 0 && EDGE_FRONT_BITS >= MAX_SCHEDULED_REACH + 8,
              "a window's first byte lies in the row");
// Words of a flag per position, from position 0, with a spare word for reads
// that straddle two.
constexpr int edge_words(int length)
{
    return length / 64 + 2;
}
constexpr int MAX_EDGE_WORDS = edge_words(MAX_PASS_SIDE);

// The image as the lane kernels see it: lines are the image's columns and
// positions its rows, so that the host's column-major arrays are read and
// written in place, each line contiguous. Position p of line l is
// values[l * value_stride + p].
struct LaneView {
    const double* values;
    double* results;
    // The values as floats, at the same offsets, where the pass is
    // approximated (LaneKernels::approximate_line).
    const float* approximate_values;
    std::ptrdiff_t value_stride;
    std::ptrdiff_t result_stride;
    // The extent that counts as the image: samples outside it are skipped,
    // and its border lines and positions pass no shadow on from a diagonal.
    std::int32_t lines;
    std::int32_t length;
    // The pixels to filter; a tile's margin around them is only read.
    std::int32_t first_line;
    std::int32_t end_line;
    std::int32_t first_position;
    std::int32_t end_position;
};

// One sample of a window that lies inside the image, in visiting order, at
// the lane view's offset (dline, dposition): the image's offset (dr, dc) is
// (dc, dr) here. What a kernel needs of it for a window inside the image
// takes four reads: the weights, the offset and the shadow code. Loads are
// what the kernels spend most of their time on, past the arithmetic.
struct alignas(32) ScheduleEntry {
    double near_weight;
    double far_weight;
    // dline * value_stride + dposition; build_tables gives no schedule to a
    // stride for which it would not fit.
    std::int32_t offset;
    // pack_shadow_code of where its edge flags lie, where it keeps its mark
    // and whether it keeps the width of the sample before.
    std::int32_t shadow_code;
    std::int8_t dline;
    std::int8_t dposition;
    // A ray point passes its shadow on even from the image's border.
    bool ray_point;
};
static_assert(sizeof(ScheduleEntry) == 32, "two schedule entries to a cache line, which alignas keeps them to");

// The float kernels sum each block of this many schedule entries on its
// own, then fold it into the running sums: about the square root of the
// window's samples, so that a product meets at most summation_depth
// roundings on its way into the sum, where one running sum would give it
// as many as the window has samples (certify.h bounds the error by it).
constexpr int summation_block(int samples)
{
    int block = 1;
    while (block * block < samples) {
        ++block;
    }
    return block;
}

// Roundings a sum of `samples` terms may put on one of them: its product,
// the additions within its block, and the folds of the blocks.
constexpr int summation_depth(int samples)
{
    const int block = summation_block(samples);
    return 1 + block + (samples + block - 1) / block;
}

// Mark slots of a window of this reach: for each wedge, one per place along
// its first walks, ray point included, and one per place along its second.
constexpr int mark_slots_for(int reach)
{
    return 4 * (2 * reach + 1);
}

constexpr int MARK_SLOTS = mark_slots_for(MAX_SCHEDULED_REACH);

// The shadow code: bits 0-10 the mark slot, bits 11-30 the edge bit (signed),
// bit 31 set where the sample keeps its width.
// - Edge bit: where the edge flags of the lanes' samples start, counted from
//   those of the span's first lane along the rows of edge bits: dline *
//   64 * edge_row_words + dposition.
// - Mark slot: where the sample keeps, for every lane, the mark it passes on
//   to the next ray step: MARK_SLOTS of them per span, zero at its start.
// - Keeps width: the sample continues the width of the sample before; else
//   its run starts from the near width.
constexpr int MAX_EDGE_BIT = MAX_SCHEDULED_REACH * MAX_EDGE_ROW_WORDS * 64 + MAX_SCHEDULED_REACH;
static_assert(MARK_SLOTS <= 1 << 11 && MAX_EDGE_BIT < 1 << 19, "a shadow code holds every slot and edge bit");
static_assert(MAX_SCHEDULED_REACH <= 127, "offsets within a window fit a signed byte");
static_assert((-9 >> 3) == -2, "signed shifts are arithmetic");

constexpr std::int32_t pack_shadow_code(int edge_bit, int mark_slot, bool keeps_width)
{
    return static_cast<std::int32_t>((keeps_width ? 1u << 31 : 0u) |
                                     ((static_cast<std::uint32_t>(edge_bit) << 11) & 0x7ffff800u) |
                                     static_cast<std::uint32_t>(mark_slot));
}

constexpr int mark_slot_of(const ScheduleEntry& entry)
{
    return entry.shadow_code & 0x7ff;
}

constexpr int edge_bit_of(const ScheduleEntry& entry)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(entry.shadow_code) << 1) >> 12;
}

// All lanes' bits where the sample keeps its width, none where it does not:
// the sign bit, spread over 64 bits by the arithmetic shift and the cast.
constexpr std::uint64_t keeps_width_of(const ScheduleEntry& entry)
{
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(entry.shadow_code >> 31));
}

// Everything a filter pass of the lane engine reads: the view, the reach,
// the weight tables, the schedule and the edge bits. The call that runs the
// pass owns it, sized to the lines it holds (at most MAX_PASS_SIDE each way)
// and freed with it; the driver fills it (build_tables, the edge packers),
// and the kernels only read it, on any number of threads.
struct LanePass {
    LanePass() = default;
    // Edge rows for `lines` lines of up to `length` positions.
    LanePass(int lines, int length)
        : row_words(edge_row_words(length)), near_words(edge_words(length)),
          edge_bits(new std::uint64_t[static_cast<std::size_t>(lines) * row_words]),
          near_edge_bits(new std::uint64_t[static_cast<std::size_t>(lines) * near_words])
    {
    }

    LaneView view{};
    std::int32_t reach = -1;
    // A sample's weight depends only on its offset and the width in use; by
    // symmetry the tables are indexed by the offset's larger and smaller
    // magnitude, reach + 1 of each (weight_side).
    std::int32_t weight_side = 0;
    Scratch<double> near_weights;
    Scratch<double> far_weights;
    // The samples of a window inside the image, for reach up to
    // MAX_SCHEDULED_REACH, and its weight total when it holds no edge.
    Scratch<ScheduleEntry> schedule;
    std::int32_t schedule_length = 0;
    double plain_weight_total = 0.0;
    // The edge pixels of each line as bits, position p at bit
    // EDGE_FRONT_BITS + p of its row of row_words; the kernels read their
    // lanes' edges from here, many at a time.
    std::int32_t row_words = 0;
    // Bit p of a line's near_words: an edge lies on the line within reach
    // of position p. Set with the edge bits where the kernels follow a
    // schedule.
    std::int32_t near_words = 0;
    Scratch<std::uint64_t> edge_bits;
    Scratch<std::uint64_t> near_edge_bits;

    double near_weight(int along, int across) const { return near_weights[along * weight_side + across]; }
    double far_weight(int along, int across) const { return far_weights[along * weight_side + across]; }
    std::uint64_t* edge_row(int line) { return edge_bits.get() + static_cast<std::ptrdiff_t>(line) * row_words; }
    const std::uint64_t* edge_row(int line) const
    {
        return edge_bits.get() + static_cast<std::ptrdiff_t>(line) * row_words;
    }
    std::uint64_t* near_edge_row(int line)
    {
        return near_edge_bits.get() + static_cast<std::ptrdiff_t>(line) * near_words;
    }
    const std::uint64_t* near_edge_row(int line) const
    {
        return near_edge_bits.get() + static_cast<std::ptrdiff_t>(line) * near_words;
    }
};

}  // namespace lumasift

#endif

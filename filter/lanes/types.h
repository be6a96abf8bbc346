// The lane engine's types, which FilterState holds: the lane view, the
// visiting schedule and their limits. The words used here are defined at
// the top of kernel-inl.h.
#ifndef LUMASIFT_LANES_TYPES_H
#define LUMASIFT_LANES_TYPES_H

#include <cstddef>
#include <cstdint>

#include "../hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// Most positions of a line, and most lines, that the engine takes at once:
// the size of the planes.
constexpr int LANE_VIEW_SIDE = 1000;
// Largest reach whose window gets a visiting schedule; wider windows are
// walked wedge by wedge, which costs little next to their many samples.
constexpr int MAX_SCHEDULED_REACH = 100;
constexpr int MAX_SCHEDULE_LENGTH = (2 * MAX_SCHEDULED_REACH + 1) * (2 * MAX_SCHEDULED_REACH + 1) + 1;
// A line's edge flags: EDGE_FRONT_BITS zero bits, then one bit per position,
// then zeros to the end of EDGE_ROW_WORDS words, so that a kernel may read
// 64 bits from any byte that a window within MAX_SCHEDULED_REACH of the
// line, or any sample inside it, starts in.
constexpr int EDGE_FRONT_BITS = 128;
constexpr int EDGE_ROW_WORDS = (EDGE_FRONT_BITS + LANE_VIEW_SIDE + MAX_SCHEDULED_REACH + 32 + 64 + 63) / 64;
constexpr int EDGE_ROW_BYTES = 8 * EDGE_ROW_WORDS;
static_assert(EDGE_FRONT_BITS % 64 == 0 && EDGE_FRONT_BITS >= MAX_SCHEDULED_REACH + 8,
              "a window's first byte lies in the row");
// Words of a flag per position, from position 0, with a spare word for reads
// that straddle two.
constexpr int EDGE_WORDS = LANE_VIEW_SIDE / 64 + 2;

// The image as the lane kernels see it: lines are the image's columns and
// positions its rows, so that the host's column-major arrays are read and
// written in place, each line contiguous. Position p of line l is
// values[l * value_stride + p].
struct LaneView {
    const double* values;
    double* results;
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
// (dc, dr) here.
struct ScheduleEntry {
    std::int32_t dline;
    std::int32_t dposition;
    // dline * value_stride + dposition.
    std::ptrdiff_t offset;
    double near_weight;
    double far_weight;
    // Where the edge flags of the lanes' samples start, from those of the
    // span's first lane: dline * EDGE_ROW_BYTES + floor(dposition / 8) bytes
    // on, then dposition mod 8 bits.
    std::int32_t edge_offset;
    std::int32_t edge_shift;
    // Where the sample keeps, for every lane, the mark it passes on to the
    // next ray step: MARK_SLOTS of them per span, zero at its start.
    std::int32_t mark_slot;
    // All ones where the sample continues the width of the sample before,
    // zero where its run starts from the near width.
    std::uint32_t keeps_width;
    // A ray point passes its shadow on even from the image's border.
    bool ray_point;
};

constexpr int MARK_SLOTS = 4 * (2 * MAX_SCHEDULED_REACH + 1);

}  // namespace lumasift

#endif

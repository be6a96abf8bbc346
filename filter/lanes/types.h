// The lane engine's types: the lane view, the visiting schedule, their
// limits, and the pass that holds them for the kernels. The words used here
// are defined at the top of kernel-inl.h.
#ifndef LUMASIFT_LANES_TYPES_H
#define LUMASIFT_LANES_TYPES_H

#include <cstddef>
#include <cstdint>

#include "../hidden.h"
#include "../constants.h"

namespace lumasift LUMASIFT_HIDDEN {

// Largest reach whose window gets a visiting schedule; wider windows are
// walked wedge by wedge, which costs little next to their many samples.
constexpr int MAX_SCHEDULED_REACH = 100;
constexpr int MAX_SCHEDULE_LENGTH = (2 * MAX_SCHEDULED_REACH + 1) * (2 * MAX_SCHEDULED_REACH + 1) + 1;
// A line's edge flags: EDGE_FRONT_BITS zero bits, then one bit per position,
// then zeros to the end of EDGE_ROW_WORDS words, so that a kernel may read
// 64 bits from any byte that a window within MAX_SCHEDULED_REACH of the
// line, or any sample inside it, starts in.
constexpr int EDGE_FRONT_BITS = 128;
constexpr int EDGE_ROW_WORDS = (EDGE_FRONT_BITS + PLANE_STRIDE + MAX_SCHEDULED_REACH + 32 + 64 + 63) / 64;
constexpr int EDGE_ROW_BYTES = 8 * EDGE_ROW_WORDS;
static_assert(EDGE_FRONT_BITS % 64 == 0 && EDGE_FRONT_BITS >= MAX_SCHEDULED_REACH + 8,
              "a window's first byte lies in the row");
// Words of a flag per position, from position 0, with a spare word for reads
// that straddle two.
constexpr int EDGE_WORDS = PLANE_STRIDE / 64 + 2;

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

// Mark slots of a window of this reach: for each wedge, one per place along
// its first walks, ray point included, and one per place along its second.
constexpr int mark_slots_for(int reach)
{
    return 4 * (2 * reach + 1);
}

constexpr int MARK_SLOTS = mark_slots_for(MAX_SCHEDULED_REACH);

// Everything a filter pass of the lane engine reads: the view, the reach,
// the weight tables, the schedule and the edge bits. The driver fills it
// (build_tables, the edge packers); the kernels only read it, on any number
// of threads.
struct LanePass {
    LaneView view;
    std::int32_t reach;
    // A sample's weight depends only on its offset and the width in use; by
    // symmetry the tables are indexed by the offset's larger and smaller
    // magnitude.
    double near_weight[PLANE_STRIDE + 1][PLANE_STRIDE + 1];
    double far_weight[PLANE_STRIDE + 1][PLANE_STRIDE + 1];
    // The samples of a window inside the image, for reach up to
    // MAX_SCHEDULED_REACH, and its weight total when it holds no edge.
    ScheduleEntry schedule[MAX_SCHEDULE_LENGTH];
    std::int32_t schedule_length;
    double plain_weight_total;
    // The edge pixels of each line as bits, position p at bit
    // EDGE_FRONT_BITS + p; the kernels read their lanes' edges from here,
    // many at a time.
    std::uint64_t edge_bits[PLANE_STRIDE][EDGE_ROW_WORDS];
    // Bit p: an edge lies on the line within reach of position p. Set with
    // the edge bits where the kernels follow a schedule.
    std::uint64_t near_edge_bits[PLANE_STRIDE][EDGE_WORDS];
};

}  // namespace lumasift

#endif

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
constexpr int MAX_SCHEDULE_SEGMENTS = 4 * 2 * (MAX_SCHEDULED_REACH + 1);
// 64-bit words of edge flags per line, with a spare word for reads that
// straddle two.
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
};

// A run of the schedule that starts from the near width: a ray point with
// its first diagonal walk, which inherits the ray point's width, or a second
// diagonal walk.
struct ScheduleSegment {
    std::int32_t begin;
    std::int32_t end;
    // Where the run's first sample keeps its mark for the next ray step; the
    // others follow. Marks of the ray point and first walk take slots 0 to
    // reach, those of the second walk reach + 1 onward.
    std::int32_t mark_slot;
    // The first run of a wedge, which finds no marks.
    bool starts_wedge;
};

}  // namespace lumasift

#endif

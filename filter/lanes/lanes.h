// The lane engine's entry points: line filters built on the lane kernels,
// one per instruction set, the choice among them, and the filter pass that
// hands the lane view's pixels to threads.
#ifndef LUMASIFT_LANES_LANES_H
#define LUMASIFT_LANES_LANES_H

#include <cstdint>

#include "../filter.h"
#include "../hidden.h"
#include "../parallel.h"

namespace lumasift LUMASIFT_HIDDEN {

// Filters positions [first, end) of one line of the lane view. Expects
// lane_view, edge_bits, near_edge_bits, reach and the tables of
// filter_state to be set up. Lines, and parts of one line, may run on
// different threads at once.
using LineFilter = void (*)(int line, int first, int end);

// pack_edge_bits for a line of doubles, many positions at a time.
using EdgePacker = void (*)(const double* line, int length, std::uint64_t* row);

// The conversions of photographs' bytes, as the host converts them.
using BytesToDoubles = void (*)(const std::uint8_t* bytes, double* values, int count);
using DoublesToBytes = void (*)(const double* values, std::uint8_t* bytes, int count);

// The edge map's steps along a line of `count` positions (edges-inl.h).
struct EdgeKernels {
    void (*smooth_along)(const double* x, double* out, int count);
    void (*smooth_across)(const double* const* lines, double* out, int count);
    void (*keep_strongest_gradient)(const double* before, const double* line, const double* after,
                                    double* strongest, int count);
    void (*scale_edges)(const double* strongest, double* edges, int count, double threshold);
};

// The lane kernels of one instruction set, and the passes around them that
// profit from its vectors.
struct LanePath {
    LineFilter filter_line;
    EdgePacker pack_edges;
    BytesToDoubles load_bytes;
    DoublesToBytes store_bytes;
    EdgeKernels edges;
};

// One pixel per lane group: portable, and the path where no wider one is.
LanePath scalar_lanes();
// With a null filter where the processor, or the compiler the module was
// built with, lacks the instructions.
LanePath avx2_lanes();
LanePath avx512_lanes();
LanePath neon_lanes();

// The lanes of a path: a null filter for the literal one, and the fastest
// the processor has for `fastest` or for a path it lacks.
LanePath lane_path_for(KernelPath path);

// Whether this build and processor have the path itself.
bool has_lane_path(KernelPath path);

// The near edge bits of a line from its edge bits, where a schedule exists.
void find_near_edges(int line);

// The part of a line that one unit of the filter pass covers.
struct LinePart {
    int line;
    int first;
    int end;
};

// The filter pass's units for lane_view and reach, worked out once a pass:
// parts of `step` positions, `per_line` of them on each line to filter.
struct LineParts {
    int step;
    int per_line;
    int count;
    int workers;  // threads worth starting for them

    LinePart at(int unit) const
    {
        const LaneView& view = filter_state.lane_view;
        const int first = view.first_position + (unit % per_line) * step;
        return {view.first_line + unit / per_line, first, first + step < view.end_position ? first + step : view.end_position};
    }
};

LineParts line_parts();

// Runs `line_filter` over lane_view's pixels to filter, on as many threads
// as the work justifies, in parts of lines short enough that a stop request
// is answered within milliseconds; after(part) follows each part on the
// thread that filtered it. False when a stop request ended the pass.
template <class After>
bool filter_lane_view(LineFilter line_filter, const After& after)
{
    const LineParts parts = line_parts();
    return run_parallel(parts.count, parts.workers, [&parts, line_filter, &after](int unit) {
        const LinePart part = parts.at(unit);
        line_filter(part.line, part.first, part.end);
        after(part);
    });
}

bool filter_lane_view(LineFilter line_filter);

}  // namespace lumasift

#endif

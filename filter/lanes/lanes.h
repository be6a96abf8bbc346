// The lane engine's entry points: the kernels of each instruction set, the
// choice among them, and the filter pass that hands a lane pass's pixels to
// threads. The engine reads only what it is handed: a LanePass, filled by
// the driver, and the call's state.
//
// Adding an instruction set:
// - a KernelChoice for it (call.h);
// - a source in this folder that defines LANES_TARGET and its lane traits
//   (the contract opens kernel-inl.h; has_lane_traits checks its types),
//   includes kernel-inl.h and defines its `..._kernels()`, empty where the
//   processor or the compiler lacks the instructions (processor.h asks);
//   float traits beside the double ones give it the approximation
//   (kernels_for<L, F>; has_filter_traits checks them);
// - its line in INSTRUCTION_SETS below, fastest first;
// - its name in the tests' and the fuzz target's lists, which come from
//   INSTRUCTION_SETS, and its source in the cross tests if it needs another
//   compiler.
#ifndef LUMASIFT_LANES_LANES_H
#define LUMASIFT_LANES_LANES_H

#include <cstdint>

#include "../call.h"
#include "../hidden.h"
#include "../parallel.h"
#include "types.h"

namespace lumasift LUMASIFT_HIDDEN {

// Filters positions [first, end) of one line of the pass's view. Lines, and
// parts of one line, may run on different threads at once.
using LineFilter = void (*)(const LanePass& pass, int line, int first, int end);

// pack_edge_bits for a line of doubles, many positions at a time.
using EdgePacker = void (*)(const double* line, int length, std::uint64_t* row, int words);

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

// The kernels of one instruction set, and the passes around them that
// profit from its vectors. All null where the instruction set is missing.
struct LaneKernels {
    LineFilter filter_line;
    // The same windows in floats, from the view's approximate_values: an
    // approximation of each result, as a double, that certify.h bounds.
    LineFilter approximate_line;
    EdgePacker pack_edges;
    BytesToDoubles load_bytes;
    DoublesToBytes store_bytes;
    EdgeKernels edges;
};

LaneKernels scalar_kernels();
LaneKernels avx2_kernels();
LaneKernels avx512_kernels();
LaneKernels neon_kernels();

// Every instruction set, fastest first; plain C++ last, always there.
struct InstructionSet {
    KernelChoice choice;
    const char* name;
    LaneKernels (*kernels)();
};

constexpr InstructionSet INSTRUCTION_SETS[] = {
    {KernelChoice::avx512, "avx512", &avx512_kernels},
    {KernelChoice::avx2, "avx2", &avx2_kernels},
    {KernelChoice::neon, "neon", &neon_kernels},
    {KernelChoice::scalar, "scalar", &scalar_kernels},
};

// The kernels of a choice: none (null) for the literal evaluation, and the
// fastest the processor has for `fastest` or for a set it lacks.
LaneKernels lane_kernels_for(KernelChoice choice);

// The kernels of a choice, the plainest lanes standing in for the literal
// evaluation, which gives the same bits: for the passes that have no literal
// form (tiles, edges).
LaneKernels lane_kernels_or_plain(KernelChoice choice);

// Positions [first, end) of a line one pixel at a time, in plain C++: the
// cheapest exact evaluation of the few pixels that the approximation leaves
// undecided, where any lanes would do a whole group's work for each.
void filter_pixels(const LanePass& pass, int line, int first, int end);

// The near edge bits of a line from its edge bits, where a schedule exists.
void find_near_edges(LanePass& pass, int line);

// Packs a line of edge values (doubles) into the pass's edge bits, and its
// near edge bits with them.
void pack_line_edges(LanePass& pass, const LaneKernels& kernels, int line, const double* edges, int length);

// The part of a line that one unit of the filter pass covers.
struct LinePart {
    int line;
    int first;
    int end;
};

// The filter pass's units for a pass's view and reach, worked out once a
// pass: parts of `step` positions, `per_line` of them on each line to
// filter.
struct LineParts {
    int first_line;
    int first_position;
    int end_position;
    int step;
    int per_line;
    int count;
    int workers;  // threads worth starting for them

    LinePart at(int unit) const
    {
        const int first = first_position + (unit % per_line) * step;
        return {first_line + unit / per_line, first, first + step < end_position ? first + step : end_position};
    }
};

LineParts line_parts(const CallState& call, const LanePass& pass);

// Runs `line_filter` over the pixels of the pass's view to filter, on as many
// threads as the work justifies, in parts of lines short enough that a stop
// request is answered within milliseconds; after(part) follows each part on
// the thread that filtered it. False when a stop request ended the pass.
template <class After>
bool filter_lane_view(CallState& call, const LanePass& pass, LineFilter line_filter, const After& after)
{
    const LineParts parts = line_parts(call, pass);
    return run_parallel(call, parts.count, parts.workers, [&parts, &pass, line_filter, &after](int unit) {
        const LinePart part = parts.at(unit);
        line_filter(pass, part.line, part.first, part.end);
        after(part);
    });
}

bool filter_lane_view(CallState& call, const LanePass& pass, LineFilter line_filter);

}  // namespace lumasift

#endif

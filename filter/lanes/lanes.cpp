#include "../exact_arithmetic.h"

#include "lanes.h"

#include "edge_bits.h"


namespace lumasift LUMASIFT_HIDDEN {

namespace {

// Below this many samples a second thread costs more than it saves.
constexpr double SAMPLES_PER_THREAD = 2e6;
// Samples per unit of the filter pass: a few milliseconds on one core, so
// that a stop request is answered at once even for the widest windows.
constexpr double SAMPLES_PER_UNIT = 4e6;
// Parts of a line start a multiple of the widest lane span apart, so that
// no span is cut in two.
constexpr int PART_STEP = 32;

int clipped(int side, int extent)
{
    return side < extent ? side : extent;
}

// Samples of a window, as far as the lane view can hold it.
double window_samples()
{
    const FilterState& state = filter_state;
    const int side = 2 * (state.reach > 0 ? state.reach : 0) + 1;
    return static_cast<double>(clipped(side, state.lane_view.lines)) *
           clipped(side, state.lane_view.length);
}

}  // namespace

LanePath lane_path_for(KernelPath path)
{
    LanePath chosen{};
    switch (path) {
    case KernelPath::literal: return chosen;
    case KernelPath::scalar: return scalar_lanes();
    case KernelPath::avx2: chosen = avx2_lanes(); break;
    case KernelPath::avx512: chosen = avx512_lanes(); break;
    case KernelPath::neon: chosen = neon_lanes(); break;
    case KernelPath::fastest: break;
    }
    for (const LanePath& candidate : {chosen, avx512_lanes(), avx2_lanes(), neon_lanes()}) {
        if (candidate.filter_line != nullptr) {
            return candidate;
        }
    }
    return scalar_lanes();
}

bool has_lane_path(KernelPath path)
{
    switch (path) {
    case KernelPath::avx2: return avx2_lanes().filter_line != nullptr;
    case KernelPath::avx512: return avx512_lanes().filter_line != nullptr;
    case KernelPath::neon: return neon_lanes().filter_line != nullptr;
    default: return true;
    }
}

// Spreads each edge over the positions within reach of it: a run of
// 2 * reach + 1 bits from each set one, grown by doubling, then moved back
// by reach so that it centres on the edge.
void find_near_edges(int line)
{
    FilterState& state = filter_state;
    const int reach = state.reach;
    if (state.schedule_length == 0) {
        return;
    }
    // Only the words that hold the line, and the reach before it, matter.
    const int length = state.lane_view.length;
    const int words = (EDGE_FRONT_BITS + length + 63) / 64;
    const int wanted = (length + 63) / 64;
    std::uint64_t spread[EDGE_ROW_WORDS];
    for (int w = 0; w < words; ++w) {
        spread[w] = state.edge_bits[line][w];
    }
    // Bit q of spread: an edge at one of the padded bits q to q + covered - 1.
    for (int covered = 1; covered < 2 * reach + 1;) {
        const int step = covered < 2 * reach + 1 - covered ? covered : 2 * reach + 1 - covered;
        // Ascending, each word reads only words not yet grown.
        for (int w = 0; w < words; ++w) {
            spread[w] |= bits_from(spread, words, 64 * w + step);
        }
        covered += step;
    }
    for (int w = 0; w < EDGE_WORDS; ++w) {
        state.near_edge_bits[line][w] =
            w < wanted ? bits_from(spread, words, EDGE_FRONT_BITS - reach + 64 * w) : 0;
    }
}

LineParts line_parts()
{
    const LaneView& view = filter_state.lane_view;
    const int length = view.end_position - view.first_position;
    const double samples = window_samples();
    const double fitting = SAMPLES_PER_UNIT / samples;
    int step = length > 0 ? length : 1;
    if (fitting < length) {
        const int steps = static_cast<int>(fitting) / PART_STEP;
        step = (steps > 1 ? steps : 1) * PART_STEP;
    }
    const int per_line = (length + step - 1) / step;
    const double pixels = static_cast<double>(view.end_line - view.first_line) * length;
    return {step, per_line, (view.end_line - view.first_line) * per_line,
            worker_count(pixels * samples, SAMPLES_PER_THREAD)};
}

// Not inline: a lambda of an inline function would give its threads' state
// a type that the module exports.
bool filter_lane_view(LineFilter line_filter)
{
    return filter_lane_view(line_filter, [](const LinePart&) {});
}

}  // namespace lumasift

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
constexpr int PART_STEP = 64;

int clipped(int side, int extent)
{
    return side < extent ? side : extent;
}

// Samples of a window, as far as the lane view can hold it.
double window_samples(const LanePass& pass)
{
    const int side = 2 * (pass.reach > 0 ? pass.reach : 0) + 1;
    return static_cast<double>(clipped(side, pass.view.lines)) * clipped(side, pass.view.length);
}

}  // namespace

LaneKernels lane_kernels_for(KernelChoice choice)
{
    if (choice == KernelChoice::literal) {
        return LaneKernels{};
    }
    for (const InstructionSet& set : INSTRUCTION_SETS) {
        if (set.choice == choice && set.kernels().filter_line != nullptr) {
            return set.kernels();
        }
    }
    for (const InstructionSet& set : INSTRUCTION_SETS) {
        if (set.kernels().filter_line != nullptr) {
            return set.kernels();
        }
    }
    return scalar_kernels();
}

LaneKernels lane_kernels_or_plain(KernelChoice choice)
{
    return choice == KernelChoice::literal ? scalar_kernels() : lane_kernels_for(choice);
}

// Spreads each edge over the positions within reach of it: a run of
// 2 * reach + 1 bits from each set one, grown by doubling, then moved back
// by reach so that it centres on the edge.
void find_near_edges(LanePass& pass, int line)
{
    const int reach = pass.reach;
    if (pass.schedule_length == 0) {
        return;
    }
    // Only the words that hold the line, and the reach before it, matter.
    const int length = pass.view.length;
    const int words = (EDGE_FRONT_BITS + length + 63) / 64;
    const int wanted = (length + 63) / 64;
    std::uint64_t spread[MAX_EDGE_ROW_WORDS];
    const std::uint64_t* edges = pass.edge_row(line);
    for (int w = 0; w < words; ++w) {
        spread[w] = edges[w];
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
    std::uint64_t* near_edges = pass.near_edge_row(line);
    for (int w = 0; w < pass.near_words; ++w) {
        near_edges[w] = w < wanted ? bits_from(spread, words, EDGE_FRONT_BITS - reach + 64 * w) : 0;
    }
}

void pack_line_edges(LanePass& pass, const LaneKernels& kernels, int line, const double* edges, int length)
{
    kernels.pack_edges(edges, length, pass.edge_row(line), pass.row_words);
    find_near_edges(pass, line);
}

LineParts line_parts(const CallState& call, const LanePass& pass)
{
    const LaneView& view = pass.view;
    const int length = view.end_position - view.first_position;
    const double samples = window_samples(pass);
    const double fitting = SAMPLES_PER_UNIT / samples;
    int step = length > 0 ? length : 1;
    if (fitting < length) {
        const int steps = static_cast<int>(fitting) / PART_STEP;
        step = (steps > 1 ? steps : 1) * PART_STEP;
    }
    const int per_line = (length + step - 1) / step;
    const double pixels = static_cast<double>(view.end_line - view.first_line) * length;
    return {view.first_line,
            view.first_position,
            view.end_position,
            step,
            per_line,
            (view.end_line - view.first_line) * per_line,
            worker_count(call, pixels * samples, SAMPLES_PER_THREAD)};
}

// Not inline: a lambda of an inline function would give its threads' state
// a type that the module exports.
bool filter_lane_view(CallState& call, const LanePass& pass, LineFilter line_filter)
{
    return filter_lane_view(call, pass, line_filter, [](const LinePart&) {});
}

}  // namespace lumasift

#include "../exact_arithmetic.h"

#include "tables.h"

#include "../filter.h"
#include "../sample.h"
#include "../wedge.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// The tables hold the very doubles that accumulate_sample would compute: the
// same sample_distance and sample_weight calls on the same arguments. The
// distance is even in each offset and symmetric in the two (its squares are
// exact integers and their sum is exact), so [along][across] with along the
// larger magnitude covers every offset. No offset inside the image reaches
// across as far as the smaller side, so a long window over a thin image
// needs only a few columns of the table.
void build_weight_tables(int smaller_side)
{
    FilterState& state = filter_state;
    for (int along = 0; along <= state.reach; ++along) {
        for (int across = 0; across <= along && across < smaller_side; ++across) {
            const double distance = sample_distance(across, along);
            state.near_weight[along][across] = sample_weight(distance, state.sigma_near);
            state.far_weight[along][across] = sample_weight(distance, state.sigma_far);
        }
    }
}

void append_sample(int dline, int dposition, int along, int across)
{
    FilterState& state = filter_state;
    ScheduleEntry& entry = state.schedule[state.schedule_length++];
    entry.dline = dline;
    entry.dposition = dposition;
    entry.offset = dline * state.lane_view.value_stride + dposition;
    entry.near_weight = state.near_weight[along][across];
    entry.far_weight = state.far_weight[along][across];
    // dposition >> 3 rounds toward minus infinity, and & 7 leaves the
    // remainder that goes with it, for negative offsets too.
    entry.edge_offset = dline * EDGE_ROW_BYTES + (dposition >> 3);
    entry.edge_shift = dposition & 7;
    // Summed in visiting order, so it equals the weight total of every
    // pixel whose window lies inside the image and meets no edge.
    state.plain_weight_total = state.plain_weight_total + entry.near_weight;
}

void append_walk(const Wedge& wedge, int step, int cross_sign)
{
    for (int j = 1; j <= filter_state.reach - step; ++j) {
        const int along = step + j;
        const int across = j * cross_sign;
        append_sample(along * wedge.axis[0] + across * wedge.cross[0],
                      along * wedge.axis[1] + across * wedge.cross[1], along, j);
    }
}

void start_segment(int mark_slot, bool starts_wedge)
{
    FilterState& state = filter_state;
    ScheduleSegment& segment = state.segments[state.segment_count++];
    segment.begin = state.schedule_length;
    segment.mark_slot = mark_slot;
    segment.starts_wedge = starts_wedge;
}

void end_segment()
{
    filter_state.segments[filter_state.segment_count - 1].end = filter_state.schedule_length;
}

// The order of wedge_sum for a window that the image contains, in the lane
// view's offsets, cut where it resets the width to the near one.
void build_schedule(int smaller_side)
{
    FilterState& state = filter_state;
    const int reach = state.reach;
    state.schedule_length = 0;
    state.segment_count = 0;
    state.plain_weight_total = 0.0;
    // A window that the image holds no more than a sliver of is walked
    // wedge by wedge instead, which stops where it leaves the image.
    if (reach < 0 || reach > MAX_SCHEDULED_REACH || smaller_side <= reach) {
        return;
    }
    for (const Wedge& wedge : LANE_VIEW_WEDGES) {
        for (int step = wedge.first_step; step <= reach; ++step) {
            start_segment(0, step == wedge.first_step);
            append_sample(step * wedge.axis[0], step * wedge.axis[1], step, 0);
            append_walk(wedge, step, +1);
            end_segment();
            start_segment(reach + 1, false);
            append_walk(wedge, step, -1);
            end_segment();
        }
    }
}

}  // namespace

void build_tables(int smaller_side)
{
    build_weight_tables(smaller_side);
    build_schedule(smaller_side);
}

}  // namespace lumasift

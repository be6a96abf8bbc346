#include "../exact_arithmetic.h"

#include "tables.h"

#include <cstdint>

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
void build_weight_tables(LanePass& pass, double sigma_near, double sigma_far, int smaller_side)
{
    const int side = pass.reach + 1 > 0 ? pass.reach + 1 : 0;
    if (side > pass.weight_side) {
        pass.near_weights.reset(new double[static_cast<std::size_t>(side) * side]);
        pass.far_weights.reset(new double[static_cast<std::size_t>(side) * side]);
        pass.weight_side = side;
    }
    for (int along = 0; along <= pass.reach; ++along) {
        for (int across = 0; across <= along && across < smaller_side; ++across) {
            const double distance = sample_distance(across, along);
            pass.near_weights[along * pass.weight_side + across] = sample_weight(distance, sigma_near);
            pass.far_weights[along * pass.weight_side + across] = sample_weight(distance, sigma_far);
        }
    }
}

// A sample in visiting order. Marks of wedge w's ray points and first walks
// take slots w * (2 reach + 1) + j for place j along the walk, those of its
// second walks the reach + 1 slots after them; a run that starts from the
// near width starts at place 0.
void append_sample(LanePass& pass, std::ptrdiff_t value_stride, int dline, int dposition, int along, int across,
                   int mark_slot, bool starts_run)
{
    ScheduleEntry& entry = pass.schedule[pass.schedule_length++];
    entry.near_weight = pass.near_weight(along, across);
    entry.far_weight = pass.far_weight(along, across);
    entry.offset = static_cast<std::int32_t>(dline * value_stride + dposition);
    entry.shadow_code = pack_shadow_code(dline * 64 * pass.row_words + dposition, mark_slot, !starts_run);
    entry.dline = static_cast<std::int8_t>(dline);
    entry.dposition = static_cast<std::int8_t>(dposition);
    entry.ray_point = across == 0;
    // Summed in visiting order, so it equals the weight total of every
    // pixel whose window lies inside the image and meets no edge.
    pass.plain_weight_total = pass.plain_weight_total + entry.near_weight;
}

// A diagonal walk, whose samples continue the width of the sample before.
void append_walk(LanePass& pass, std::ptrdiff_t value_stride, const Wedge& wedge, int step, int cross_sign,
                 int first_slot, bool starts_run)
{
    for (int j = 1; j <= pass.reach - step; ++j) {
        const int along = step + j;
        const int across = j * cross_sign;
        append_sample(pass, value_stride, along * wedge.axis[0] + across * wedge.cross[0],
                      along * wedge.axis[1] + across * wedge.cross[1], along, j, first_slot + j - 1,
                      starts_run && j == 1);
    }
}

// The order of wedge_sum for a window that the image contains, in the lane
// view's offsets.
void build_schedule(LanePass& pass, std::ptrdiff_t value_stride, int smaller_side)
{
    const int reach = pass.reach;
    pass.schedule_length = 0;
    pass.plain_weight_total = 0.0;
    // A window that the image holds no more than a sliver of is walked
    // wedge by wedge instead, which stops where it leaves the image.
    // So does one whose samples lie further apart than a schedule entry's
    // offset can say: lines of over 21 million values.
    if (reach < 0 || reach > MAX_SCHEDULED_REACH || smaller_side <= reach ||
        value_stride > INT32_MAX / (MAX_SCHEDULED_REACH + 1)) {
        return;
    }
    // The window's samples, and the centre a second time (wedge_sum's order).
    const int entries = (2 * reach + 1) * (2 * reach + 1) + 1;
    pass.schedule.reset(new ScheduleEntry[static_cast<std::size_t>(entries)]);
    for (int w = 0; w < 4; ++w) {
        const Wedge& wedge = LANE_VIEW_WEDGES[w];
        const int slots = mark_slots_for(reach) / 4 * w;
        for (int step = wedge.first_step; step <= reach; ++step) {
            // The first walk inherits the ray point's width; the second
            // starts from the near one.
            append_sample(pass, value_stride, step * wedge.axis[0], step * wedge.axis[1], step, 0, slots, true);
            append_walk(pass, value_stride, wedge, step, +1, slots + 1, false);
            append_walk(pass, value_stride, wedge, step, -1, slots + reach + 1, true);
        }
    }
}

}  // namespace

void build_tables(LanePass& pass, int reach, double sigma_near, double sigma_far, std::ptrdiff_t value_stride,
                  int smaller_side)
{
    pass.reach = reach;
    build_weight_tables(pass, sigma_near, sigma_far, smaller_side);
    build_schedule(pass, value_stride, smaller_side);
}

}  // namespace lumasift

#include "filter/lanes/tables.h"

#include <cstdint>
#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

#include "filter/filter.h"
#include "filter/lanes/types.h"
#include "filter/sample.h"
#include "filter/wedge.h"

using namespace lumasift;

namespace {

LanePass pass;

void build_for(int reach, double sigma_near, double sigma_far)
{
    build_tables(pass, reach, sigma_near, sigma_far, 2 * reach + 3, 2 * reach + 3);
}

TEST(TablesTest, WeightsAreTheAccumulatedOnesForEveryOffset)
{
    build_for(6, 1.3, -0.4);
    for (int dr = -6; dr <= 6; ++dr) {
        for (int dc = -6; dc <= 6; ++dc) {
            const int along = std::max(std::abs(dr), std::abs(dc));
            const int across = std::min(std::abs(dr), std::abs(dc));
            const double distance = sample_distance(dr, dc);
            EXPECT_EQ(pass.near_weight(along, across), sample_weight(distance, 1.3));
            EXPECT_EQ(pass.far_weight(along, across), sample_weight(distance, -0.4));
        }
    }
}

TEST(TablesTest, ScheduleVisitsTheWindowOnceAndTheCentreTwice)
{
    const int reach = 5;
    build_for(reach, 1.0, 2.0);
    ASSERT_EQ(pass.schedule_length, (2 * reach + 1) * (2 * reach + 1) + 1);
    std::map<int, int> visits;
    int runs = 0;
    for (int i = 0; i < pass.schedule_length; ++i) {
        const ScheduleEntry& entry = pass.schedule[i];
        ++visits[entry.dline * 1000 + entry.dposition];
        runs += keeps_width_of(entry) == 0;
        EXPECT_EQ(entry.ray_point, entry.dline == 0 || entry.dposition == 0) << i;
        EXPECT_TRUE(keeps_width_of(entry) == 0 || keeps_width_of(entry) == ~std::uint64_t{0}) << i;
    }
    EXPECT_EQ(visits.size(), static_cast<std::size_t>((2 * reach + 1) * (2 * reach + 1)));
    EXPECT_EQ(visits[0], 2);
    // Each ray point, and each second walk that has samples, starts from the
    // near width: reach + 1 and reach of them in the right and left wedges,
    // reach and reach - 1 in the up and down wedges.
    EXPECT_EQ(runs, 8 * reach);
}

// A shadowed sample marks the point one step further out along its wedge's
// axis; that point must come later in the same wedge and read the same slot,
// and no other sample of the wedge may write that slot in between.
TEST(TablesTest, EachMarkReachesThePointBehindItsSample)
{
    const int reach = 6;
    build_for(reach, 1.0, 2.0);
    const int slots = mark_slots_for(reach) / 4;
    for (int i = 0; i < pass.schedule_length; ++i) {
        const ScheduleEntry& entry = pass.schedule[i];
        const int wedge = mark_slot_of(entry) / slots;
        ASSERT_GE(mark_slot_of(entry), 0);
        ASSERT_LT(wedge, 4);
        const Wedge& w = LANE_VIEW_WEDGES[wedge];
        const int dline = entry.dline + w.axis[0];
        const int dposition = entry.dposition + w.axis[1];
        if (std::abs(dline) > reach || std::abs(dposition) > reach) {
            continue;
        }
        int reader = -1;
        for (int k = i + 1; k < pass.schedule_length && reader < 0; ++k) {
            const ScheduleEntry& later = pass.schedule[k];
            if (mark_slot_of(later) == mark_slot_of(entry)) {
                EXPECT_TRUE(later.dline == dline && later.dposition == dposition)
                    << "entry " << i << ": slot " << mark_slot_of(entry) << " next used by (" << later.dline << ", "
                    << later.dposition << ") instead of (" << dline << ", " << dposition << ")";
                reader = k;
            }
        }
        EXPECT_GE(reader, 0) << "entry " << i << ": its mark is never read";
    }
}

TEST(TablesTest, PlainTotalIsTheLiteralTotalOfAnEdgeFreeWindow)
{
    const int reach = 4;
    build_for(reach, 1.0, 3.0);
    set_widths(1.0, 3.0);
    filter_state.rows = 11;
    filter_state.cols = 12;
    for (int r = 0; r < 11; ++r) {
        for (int c = 0; c < 12; ++c) {
            filter_state.edge_plane[r][c] = 0;
            filter_state.label_plane[r][c] = NO_LABEL;
            filter_state.value_plane[r][c] = 1.0;
        }
    }
    filter_state.weight_total = 0.0;
    wedge_sum(5, 6, 66);
    EXPECT_EQ(filter_state.weight_total, pass.plain_weight_total);
}

TEST(TablesTest, WindowsTooWideOrLinesTooLongGetNoSchedule)
{
    build_for(MAX_SCHEDULED_REACH + 1, 40.0, 1.0);
    EXPECT_EQ(pass.schedule_length, 0);
    // A schedule entry's offset holds MAX_SCHEDULED_REACH + 1 lines of values.
    const std::ptrdiff_t longest_line = INT32_MAX / (MAX_SCHEDULED_REACH + 1);
    build_tables(pass, 4, 1.0, 2.0, longest_line, 20);
    EXPECT_GT(pass.schedule_length, 0);
    build_tables(pass, 4, 1.0, 2.0, longest_line + 1, 20);
    EXPECT_EQ(pass.schedule_length, 0);
}

}  // namespace

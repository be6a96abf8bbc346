#include "filter/lanes/tables.h"

#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

#include "filter/filter.h"
#include "filter/sample.h"
#include "filter/wedge.h"

using namespace lumasift;

namespace {

void build_for(int reach, double sigma_near, double sigma_far)
{
    filter_state.lane_view.value_stride = 2 * reach + 3;
    filter_state.reach = reach;
    filter_state.sigma_near = sigma_near;
    filter_state.sigma_far = sigma_far;
    build_tables(2 * reach + 3);
}

TEST(TablesTest, WeightsAreTheAccumulatedOnesForEveryOffset)
{
    build_for(6, 1.3, -0.4);
    for (int dr = -6; dr <= 6; ++dr) {
        for (int dc = -6; dc <= 6; ++dc) {
            const int along = std::max(std::abs(dr), std::abs(dc));
            const int across = std::min(std::abs(dr), std::abs(dc));
            const double distance = sample_distance(dr, dc);
            EXPECT_EQ(filter_state.near_weight[along][across], sample_weight(distance, 1.3));
            EXPECT_EQ(filter_state.far_weight[along][across], sample_weight(distance, -0.4));
        }
    }
}

TEST(TablesTest, ScheduleVisitsTheWindowOnceAndTheCentreTwice)
{
    const int reach = 5;
    build_for(reach, 1.0, 2.0);
    ASSERT_EQ(filter_state.schedule_length, (2 * reach + 1) * (2 * reach + 1) + 1);
    std::map<int, int> visits;
    int expected_begin = 0;
    for (int s = 0; s < filter_state.segment_count; ++s) {
        const ScheduleSegment& segment = filter_state.segments[s];
        EXPECT_EQ(segment.begin, expected_begin);
        EXPECT_LE(segment.mark_slot + (segment.end - segment.begin), 2 * reach + 1);
        expected_begin = segment.end;
        for (int i = segment.begin; i < segment.end; ++i) {
            ++visits[filter_state.schedule[i].dline * 1000 + filter_state.schedule[i].dposition];
        }
    }
    EXPECT_EQ(expected_begin, filter_state.schedule_length);
    EXPECT_EQ(visits.size(), static_cast<std::size_t>((2 * reach + 1) * (2 * reach + 1)));
    EXPECT_EQ(visits[0], 2);
}

TEST(TablesTest, PlainTotalIsTheLiteralTotalOfAnEdgeFreeWindow)
{
    const int reach = 4;
    build_for(reach, 1.0, 3.0);
    filter_state.rows = 11;
    filter_state.cols = 12;
    filter_state.window_radius = 4.5;
    for (int r = 0; r < 11; ++r) {
        for (int c = 0; c < 12; ++c) {
            filter_state.edge_plane[r][c] = 0;
            filter_state.label_plane[r][c] = NO_LABEL;
            filter_state.value_plane[r][c] = 1.0;
        }
    }
    filter_state.weight_total = 0.0;
    wedge_sum(5, 6, 66);
    EXPECT_EQ(filter_state.weight_total, filter_state.plain_weight_total);
}

TEST(TablesTest, WindowsTooWideGetNoSchedule)
{
    build_for(MAX_SCHEDULED_REACH + 1, 40.0, 1.0);
    EXPECT_EQ(filter_state.schedule_length, 0);
    EXPECT_EQ(filter_state.segment_count, 0);
}

}  // namespace

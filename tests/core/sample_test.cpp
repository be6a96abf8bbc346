#include "filter/sample.h"

#include <cmath>

#include <gtest/gtest.h>

#include "filter/filter.h"

using namespace lumasift;

namespace {

TEST(SampleTest, ShadowedByEdgeAboveThresholdOrByThisPixelsMark)
{
    filter_state.rows = 1;
    filter_state.cols = 1;
    const struct {
        std::int32_t edge;
        std::int32_t label;
        bool shadowed;
    } cases[] = {
        {101, NO_LABEL, true}, {101, 6, true},   {100, 6, false},
        {100, 7, true},        {0, 7, true},     {-500, 7, true},
        {-500, 6, false},      {INT32_MIN, NO_LABEL, false},
    };
    for (const auto& c : cases) {
        filter_state.edge_plane[0][0] = c.edge;
        filter_state.label_plane[0][0] = c.label;
        EXPECT_EQ(is_shadowed(0, 0, 7), c.shadowed) << "edge " << c.edge << " label " << c.label;
    }
}

TEST(SampleTest, WeightIsGaussianOverTwiceSigmaSquared)
{
    EXPECT_EQ(sample_weight(0, 1), 1.0);
    EXPECT_EQ(sample_weight(0, -3), 1.0);
    EXPECT_EQ(sample_weight(0, 1e-3), 1.0);
    EXPECT_EQ(sample_weight(2, 1), std::exp(-1.0));
    EXPECT_DOUBLE_EQ(sample_weight(std::sqrt(8.0), 1), std::exp(-2.0));
    EXPECT_EQ(sample_weight(3, -2), sample_weight(3, 2));
}

TEST(SampleTest, ZeroSigmaGivesNanAtCentreAndZeroElsewhere)
{
    EXPECT_TRUE(std::isnan(sample_weight(0, 0)));
    EXPECT_EQ(sample_weight(1, 0), 0.0);
    EXPECT_EQ(sample_weight(1e-3, 0), 0.0);
}

TEST(SampleTest, AccumulateAddsWeightedValueAndWeightWithActiveSigma)
{
    filter_state.rows = 3;
    filter_state.cols = 3;
    filter_state.value_plane[2][1] = 5.0;
    filter_state.sigma_active = 1.0;
    filter_state.weight_total = 0.25;
    double sum = 1.0;
    accumulate_sample(2, 1, -2, 0, sum);
    EXPECT_EQ(sum, 1.0 + 5.0 * std::exp(-1.0));
    EXPECT_EQ(filter_state.weight_total, 0.25 + std::exp(-1.0));

    filter_state.sigma_active = 2.0;
    accumulate_sample(2, 1, 0, 4, sum);
    EXPECT_EQ(filter_state.weight_total, 0.25 + std::exp(-1.0) + std::exp(-1.0));
}

}  // namespace

#include "exact_arithmetic.h"

#include "sample.h"

#include <cmath>

#include "filter.h"

namespace lumasift LUMASIFT_HIDDEN {

bool is_shadowed(int row, int col, std::int32_t serial)
{
    return filter_state.edge_plane[row][col] > EDGE_THRESHOLD ||
           filter_state.label_plane[row][col] == serial;
}

double sample_distance(int dr, int dc)
{
    const double a = std::pow(static_cast<double>(dc), WEIGHT_EXPONENT);
    const double b = std::pow(static_cast<double>(dr), WEIGHT_EXPONENT);
    return std::sqrt(a + b);
}

double sample_weight(double distance, double sigma)
{
    const double n = std::pow(distance, WEIGHT_EXPONENT);
    const double q = std::pow(WEIGHT_EXPONENT * sigma, WEIGHT_EXPONENT);
    return std::exp(-n / q);
}

void accumulate_sample(int row, int col, int dr, int dc, double& sum)
{
    const double weight = sample_weight(sample_distance(dr, dc), filter_state.sigma_active);
    sum = sum + filter_state.value_plane[row][col] * weight;
    filter_state.weight_total = filter_state.weight_total + weight;
}

}  // namespace lumasift

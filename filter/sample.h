// Per-sample operations of the wedge traversal: the shadow test, the Gaussian
// weight and the accumulation of one sample into a pixel's sums.
#ifndef LUMASIFT_SAMPLE_H
#define LUMASIFT_SAMPLE_H

#include <cstdint>

#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// True when the in-image point (row, col) is an edge pixel, or was marked as
// lying behind one during the call for the pixel with this serial.
bool is_shadowed(int row, int col, std::int32_t serial);

// sqrt(dc^2 + dr^2) for the offset (dr, dc), formed through pow. Even in
// either offset and symmetric in the two: the squares are exact integers.
double sample_distance(int dr, int dc);

// exp(-distance^2 / (2 sigma)^2), formed through pow in a fixed order: its
// rounding is part of every result. A sigma of 0 gives NaN at distance 0.
double sample_weight(double distance, double sigma);

// Adds the in-image sample (row, col), at offset (dr, dc) from the centre, to
// `sum` and its weight to filter_state.weight_total, using sigma_active.
void accumulate_sample(int row, int col, int dr, int dc, double& sum);

}  // namespace lumasift

#endif

// The definition's constants, and the rules that every part of the core
// applies to them: the ground that the driver, the lane engine, the tiles
// and the edges all stand on.
#ifndef LUMASIFT_CONSTANTS_H
#define LUMASIFT_CONSTANTS_H

#include <cstdint>

#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// Row stride of every plane, and the largest number of rows and of columns
// that the filter takes at once.
constexpr int PLANE_STRIDE = 1000;
// The window's half-width is RADIUS_FACTOR * sigma_near + 1, truncated.
constexpr double RADIUS_FACTOR = 3.0;
// Exponent of the distance and of the Gaussian weight.
constexpr double WEIGHT_EXPONENT = 2.0;
// An edge-map value above this marks an edge pixel.
constexpr std::int32_t EDGE_THRESHOLD = 100;
// Label of a pixel that no shadow has marked.
constexpr std::int32_t NO_LABEL = -1;

inline double window_radius_for(double sigma_near)
{
    return RADIUS_FACTOR * sigma_near + 1.0;
}

// x2's value as the edge plane holds it: truncated toward zero, with NaN and
// values beyond 32 bits mapped to the most negative integer so that they never
// count as edges. Inline: the load pass calls it for every pixel.
inline std::int32_t edge_level(double edge_value)
{
    // The bounds are the first integers that truncation cannot bring into
    // range; NaN fails both comparisons.
    const bool fits = edge_value > -2147483649.0 && edge_value < 2147483648.0;
    return fits ? static_cast<std::int32_t>(edge_value) : INT32_MIN;
}

// edge_level(edge_value) > EDGE_THRESHOLD as two comparisons, which the lane
// engine's pre-pass makes many at a time: truncation lifts a value above 100
// exactly when the value is at least 101, and it fits 32 bits below 2^31.
constexpr double LOWEST_EDGE_VALUE = EDGE_THRESHOLD + 1.0;
constexpr double EDGE_VALUE_LIMIT = 2147483648.0;

inline bool is_edge_value(double edge_value)
{
    return edge_value >= LOWEST_EDGE_VALUE && edge_value < EDGE_VALUE_LIMIT;
}

}  // namespace lumasift

#endif

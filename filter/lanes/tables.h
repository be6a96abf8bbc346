// Per-call tables of the lane engine: the weight of every offset for both
// widths, and the visiting schedule of a window inside the image.
#ifndef LUMASIFT_LANES_TABLES_H
#define LUMASIFT_LANES_TABLES_H

#include <cstddef>

#include "../hidden.h"
#include "types.h"

namespace lumasift LUMASIFT_HIDDEN {

// Sets the pass's reach, and fills its near_weight, far_weight, schedule and
// plain_weight_total for that reach, the widths sigma_near and sigma_far,
// values `value_stride` apart from line to line, and images whose smaller
// side is at most `smaller_side`. The schedule stays empty when the reach
// exceeds MAX_SCHEDULED_REACH or the smaller side.
void build_tables(LanePass& pass, int reach, double sigma_near, double sigma_far, std::ptrdiff_t value_stride,
                  int smaller_side);

}  // namespace lumasift

#endif

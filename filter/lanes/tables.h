// Per-call tables of the lane engine: the weight of every offset for both
// widths, and the visiting schedule of a window inside the image.
#ifndef LUMASIFT_LANES_TABLES_H
#define LUMASIFT_LANES_TABLES_H

#include "../hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// Fills near_weight, far_weight, schedule and plain_weight_total of
// filter_state for its reach, sigma_near, sigma_far and the value stride of
// lane_view, for images whose smaller side is at most `smaller_side`. The
// schedule stays empty when the reach exceeds MAX_SCHEDULED_REACH or the
// smaller side.
void build_tables(int smaller_side);

}  // namespace lumasift

#endif

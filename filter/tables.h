// Per-call tables of the lane kernels: the weight of every offset for both
// widths, and the visiting schedule of a window inside the image.
#ifndef LUMASIFT_TABLES_H
#define LUMASIFT_TABLES_H

// Fills near_weight, far_weight, schedule and plain_weight_total of
// filter_state for its reach, sigma_near, sigma_far and lane_view. The
// schedule stays empty when the reach exceeds MAX_SCHEDULED_REACH or no
// window fits inside the image.
void build_tables();

#endif

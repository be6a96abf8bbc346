// Row filters built on the lane kernels: several adjacent centre pixels
// evaluated at once, one per lane, each with its own sums, width and shadow
// marks, so that every pixel's sums are formed in its own order. They run
// along the image's columns, where the host's arrays are contiguous.
#ifndef LUMASIFT_LANES_H
#define LUMASIFT_LANES_H

#include "filter.h"

// Filters every pixel of one row of the lane view, which is one column of
// the image. Expects lane_view, edge_bits, reach and the tables of
// filter_state to be set up. Rows may run on different threads at once.
using RowFilter = void (*)(int row);

// One pixel per lane group: portable, and the path where no wider one is.
RowFilter scalar_row_filter();
// Null where the processor, or the compiler the module was built with, lacks
// the instructions.
RowFilter avx2_row_filter();
RowFilter avx512_row_filter();

// The row filter of a path: null for the literal one, and the fastest one
// the processor has for `fastest` or for a path it lacks.
RowFilter row_filter_for(KernelPath path);

#endif

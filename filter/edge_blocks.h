// The edge map made block by block, for the core's own passes: the tiles
// make their edges this way, each block's values bit for bit the whole
// map's (edges.h).
#ifndef LUMASIFT_EDGE_BLOCKS_H
#define LUMASIFT_EDGE_BLOCKS_H

#include <cstddef>

#include "call.h"
#include "edges.h"
#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

// The edge values of rows [first_row, end_row) and columns [first_col,
// end_col) of the image, zero everywhere when the threshold is not positive.
// Reads as far beyond the block as the smoothing and the gradient need.
// Value (row, col) goes to out[(col - first_col) * stride + row - first_row];
// with a null `out`, to scratch of the thread that makes it, handed to
// `finished` while it is still at hand in the cache. Allocates its scratch
// on the calling thread before any work (it may throw std::bad_alloc);
// false when the call's stop request ended it.
struct EdgeBlock {
    std::ptrdiff_t first_row;
    std::ptrdiff_t end_row;
    std::ptrdiff_t first_col;
    std::ptrdiff_t end_col;
    double* out;
    std::ptrdiff_t stride;
    // Called on the thread that made them, when the values of columns
    // [first, end) are final: column col's start at values + (col - first) *
    // stride. May be null where `out` is given.
    void (*finished)(void* context, std::ptrdiff_t first, std::ptrdiff_t end, const double* values,
                     std::ptrdiff_t stride);
    void* context;
};

// Columns per unit of work of make_edges: enough that the columns a unit
// reads beyond its own cost little, few enough that its values stay in the
// cache and a stop request is answered at once.
constexpr std::ptrdiff_t EDGE_COLUMNS_PER_UNIT = 64;

struct EdgeKernels;
bool make_edges(CallState& call, const HostImage& image, double threshold, const EdgeKernels& kernels,
                const EdgeBlock& block);

}  // namespace lumasift

#endif

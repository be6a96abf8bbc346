// Edge maps made from the image itself: what imlumasift and lumasift_edges
// use when the caller leaves the edges out.
//
// The edge value of a pixel: each channel, as doubles, is smoothed with the
// binomial [1 4 6 4 1] down the columns and then along the rows, the border
// repeated outward; its gradient is the central difference along each
// dimension of the smoothed image, the border repeated; the magnitude is
// sqrt(across^2 + along^2) / 512 (the smoothing's 256 and the difference's
// 2), and the strongest channel counts, NaN losing to any number. The edge
// value is (100 * magnitude) / threshold, so the filter takes a pixel for an
// edge where its magnitude is at least 1.01 times the threshold.
//
// Every pixel's value is computed in that order wherever it is computed,
// whole or tile by tile, on any thread and any instruction set, so a tile's
// edges are bit for bit those of the whole map.
#ifndef LUMASIFT_EDGES_H
#define LUMASIFT_EDGES_H

#include <cstddef>
#include <cstdint>

#include "call.h"
#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

// How far beyond a pixel its edge value reads: the smoothing's two pixels
// and the gradient's one.
constexpr std::ptrdiff_t EDGE_CONTEXT = 3;

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

// The whole edge map, rows x cols, in `layout`, on the kernels the options
// choose (the plainest lanes for the literal evaluation: the same bits).
// May throw std::bad_alloc before any work; false when the stop request
// ended the call.
bool edge_map(const HostImage& image, double threshold, double* edges, const Layout& layout,
              const CallOptions& options = {});

}  // namespace lumasift

#endif

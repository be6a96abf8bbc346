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

#include "call.h"
#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

// How far beyond a pixel its edge value reads: the smoothing's two pixels
// and the gradient's one.
constexpr std::ptrdiff_t EDGE_CONTEXT = 3;

// The whole edge map, rows x cols, in `layout`, on the kernels the options
// choose (the plainest lanes for the literal evaluation: the same bits).
// May throw std::bad_alloc before any work; false when the stop request
// ended the call.
bool edge_map(const HostImage& image, double threshold, double* edges, const Layout& layout,
              const CallOptions& options = {});

}  // namespace lumasift

#endif

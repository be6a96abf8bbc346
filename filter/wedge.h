// The wedge traversal: one centre pixel's weighted window sum, with the
// Gaussian width switched on edges and behind them.
#ifndef LUMASIFT_WEDGE_H
#define LUMASIFT_WEDGE_H

#include <cstdint>

#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

// A triangular wedge of the window: a ray from the centre along `axis`, and
// from the ray point `step` steps out two diagonal walks whose j-th point is
// (step + j) * axis + j * cross, crossing one way on the first walk and the
// other way on the second. Wedges are visited in the order of WEDGES.
//
// Steps are pairs of offsets: (rows, columns) in the image, (lines,
// positions) in the lane view, whose lines are the image's columns.
struct Wedge {
    int axis[2];
    int cross[2];
    // The right and left rays both start at the centre; up and down start one
    // step out, so that every offset but the centre is visited exactly once.
    int first_step;
};

constexpr Wedge WEDGES[] = {
    {{0, +1}, {+1, 0}, 0},  // right: down-right walks first, then up-right
    {{0, -1}, {+1, 0}, 0},  // left: down-left, then up-left
    {{-1, 0}, {0, -1}, 1},  // up: up-left, then up-right
    {{+1, 0}, {0, -1}, 1},  // down: down-left, then down-right
};

// The same wedge in the lane view, where the offsets trade places.
constexpr Wedge in_lane_view(const Wedge& wedge)
{
    return {{wedge.axis[1], wedge.axis[0]}, {wedge.cross[1], wedge.cross[0]}, wedge.first_step};
}

// WEDGES in the lane view, in the same visiting order.
constexpr Wedge LANE_VIEW_WEDGES[] = {in_lane_view(WEDGES[0]), in_lane_view(WEDGES[1]),
                                      in_lane_view(WEDGES[2]), in_lane_view(WEDGES[3])};

// The window's half-width for a radius: the radius truncated toward zero, with
// NaN and radii at or below -1 giving -1 (an empty window) and radii beyond
// the image's larger dimension clamped to it.
int window_reach(double window_radius, int rows, int cols);

// Visits the window around (a, b) wedge by wedge (right, left, up, down) and
// returns the sum of weight * value. Adds the weights to weight_total and marks
// the points behind shadowed samples with `serial` in label_plane.
double wedge_sum(int a, int b, std::int32_t serial);

}  // namespace lumasift

#endif

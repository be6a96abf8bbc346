// The wedge traversal: one centre pixel's weighted window sum, with the
// Gaussian width switched on edges and behind them.
#ifndef LUMASIFT_WEDGE_H
#define LUMASIFT_WEDGE_H

#include <cstdint>

// The window's half-width for a radius: the radius truncated toward zero, with
// NaN and radii at or below -1 giving -1 (an empty window) and radii beyond
// the image's larger dimension clamped to it.
int window_reach(double window_radius, int rows, int cols);

// Visits the window around (a, b) wedge by wedge (right, left, up, down) and
// returns the sum of weight * value. Adds the weights to weight_total and marks
// the points behind shadowed samples with `serial` in label_plane.
double wedge_sum(int a, int b, std::int32_t serial);

#endif

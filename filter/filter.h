// lumasift filter core: the module-wide working state and the image driver.
//
// The core knows nothing of the host. It reads column-major arrays, works on
// row-major planes held in one static record, and writes a column-major result.
#ifndef LUMASIFT_FILTER_H
#define LUMASIFT_FILTER_H

#include <cstdint>

// Row stride of every plane, and the largest number of rows and of columns.
constexpr int PLANE_STRIDE = 1000;
// The window's half-width is RADIUS_FACTOR * sigma_near + 1, truncated.
constexpr double RADIUS_FACTOR = 3.0;
// Exponent of the distance and of the Gaussian weight.
constexpr double WEIGHT_EXPONENT = 2.0;
// An edge-map value above this marks an edge pixel.
constexpr std::int32_t EDGE_THRESHOLD = 100;
// Label of a pixel that no shadow has marked.
constexpr std::int32_t NO_LABEL = -1;

struct FilterState {
    std::int32_t rows;
    std::int32_t cols;
    double value_plane[PLANE_STRIDE][PLANE_STRIDE];
    std::int32_t edge_plane[PLANE_STRIDE][PLANE_STRIDE];
    // Holds the serial of the pixel whose wedge last marked the cell as lying
    // behind an edge; a mark counts only for that pixel.
    std::int32_t label_plane[PLANE_STRIDE][PLANE_STRIDE];
    double result_plane[PLANE_STRIDE][PLANE_STRIDE];
    double weight_total;
    double sigma_near;
    double sigma_far;
    double sigma_active;
    double window_radius;
};

// Zero-filled at load time, never freed. Calls must not overlap.
extern FilterState filter_state;

// Filters the rows x cols image set in filter_state. `values` and `edges` hold
// x1 and x2 column-major; `result` receives the filtered image column-major.
// Expects rows, cols (each at most PLANE_STRIDE), sigma_near, sigma_far and
// window_radius to be set.
void filter_image(const double* values, double* result, const double* edges);

// x2's value as the edge plane holds it: truncated toward zero, with NaN and
// values beyond 32 bits mapped to the most negative integer so that they never
// count as edges.
std::int32_t edge_level(double edge_value);

#endif

// lumasift filter core: the module-wide working state and the image driver.
// Callers reach the core through lumasift.h.
//
// The core knows nothing of the host. It reads column-major arrays, works on
// row-major planes held in one static record, and writes a column-major
// result. Two engines give the same bits: the definition itself (sample.h,
// wedge.h), and the lane engine (lanes/), which does less work per sample.
#ifndef LUMASIFT_FILTER_H
#define LUMASIFT_FILTER_H

#include <cstdint>
#include <mutex>

#include "call.h"
#include "constants.h"
#include "hidden.h"

namespace lumasift LUMASIFT_HIDDEN {

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

// Zero-filled at load time, never freed.
extern FilterState filter_state;

// Held for a whole call of the definition's driver: the planes are shared by
// every such call of the module. Everything else a call works on it owns.
extern std::mutex call_lock;

// A call's widths, as every entry point sets them.
void set_widths(double sigma_near, double sigma_far);

// Filters the rows x cols image set in filter_state. `values` and `edges` hold
// x1 and x2 column-major; `result` receives the filtered image column-major.
// Expects rows, cols (each at most PLANE_STRIDE), sigma_near, sigma_far and
// window_radius to be set, and call_lock held. The call's options choose
// the kernels and the threads; its stop request may end it early.
void filter_image(const double* values, double* result, const double* edges, CallState& call);

}  // namespace lumasift

#endif

#include "exact_arithmetic.h"

#include "wedge.h"

#include <algorithm>

#include "filter.h"
#include "sample.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

bool inside_image(int row, int col)
{
    return row >= 0 && row < filter_state.rows && col >= 0 && col < filter_state.cols;
}

bool off_border(int row, int col)
{
    return row > 0 && row < filter_state.rows - 1 && col > 0 && col < filter_state.cols - 1;
}

// A shadowed sample switches to the far width and passes the shadow on to the
// next point outward along the axis, which the same wedge visits later in this
// pixel's call. Diagonal samples on the image's border pass nothing on. A
// target outside the image is dropped: on a 1000-wide plane it would otherwise
// alias the first cell of the next row.
void visit_sample(const Wedge& wedge, int row, int col, int dr, int dc, bool on_ray,
                  std::int32_t serial, double& sum)
{
    if (is_shadowed(row, col, serial)) {
        filter_state.sigma_active = filter_state.sigma_far;
        const int target_row = row + wedge.axis[0];
        const int target_col = col + wedge.axis[1];
        if ((on_ray || off_border(row, col)) && inside_image(target_row, target_col)) {
            filter_state.label_plane[target_row][target_col] = serial;
        }
    }
    accumulate_sample(row, col, dr, dc, sum);
}

// Continues with whatever width is active when it starts, and keeps the far
// width for the rest of the walk once a sample is shadowed.
void walk_diagonal(const Wedge& wedge, int cross_sign, int a, int b, int step, int reach,
                   std::int32_t serial, double& sum)
{
    for (int along = step + 1; along <= reach; ++along) {
        const int across = (along - step) * cross_sign;
        const int dr = along * wedge.axis[0] + across * wedge.cross[0];
        const int dc = along * wedge.axis[1] + across * wedge.cross[1];
        // Both coordinates move away from the ray point at every step, so
        // the first point outside the image is followed by no point inside:
        // stopping there visits exactly the samples a full walk would.
        if (!inside_image(a + dr, b + dc)) {
            break;
        }
        visit_sample(wedge, a + dr, b + dc, dr, dc, false, serial, sum);
    }
}

}  // namespace

// Offsets beyond the image's larger dimension never land inside it, so a reach
// clamped there visits the same samples in the same order and leaves the same
// marks as the unclamped one: the sums are bit-identical. The clamp keeps a
// huge or infinite radius from overflowing the conversion, and with the walks
// stopping at the image's border the loops cost no more than the samples they
// visit. NaN visits nothing, like a negative reach, and the pixel is NaN.
int window_reach(double window_radius, int rows, int cols)
{
    const int largest = std::max(rows, cols);
    if (!(window_radius > -1.0)) {
        return -1;
    }
    if (window_radius >= largest) {
        return largest;
    }
    return static_cast<int>(window_radius);
}

double wedge_sum(int a, int b, std::int32_t serial)
{
    FilterState& state = filter_state;
    const int reach = window_reach(state.window_radius, state.rows, state.cols);
    state.sigma_active = state.sigma_near;
    double sum = 0.0;
    for (const Wedge& wedge : WEDGES) {
        for (int step = wedge.first_step; step <= reach; ++step) {
            const int dr = step * wedge.axis[0];
            const int dc = step * wedge.axis[1];
            // Later ray points and all their diagonal walks lie further out
            // along the axis: none of them is inside the image either.
            if (!inside_image(a + dr, b + dc)) {
                break;
            }
            visit_sample(wedge, a + dr, b + dc, dr, dc, true, serial, sum);
            walk_diagonal(wedge, +1, a, b, step, reach, serial, sum);
            state.sigma_active = state.sigma_near;
            walk_diagonal(wedge, -1, a, b, step, reach, serial, sum);
            state.sigma_active = state.sigma_near;
        }
        state.sigma_active = state.sigma_near;
    }
    return sum;
}

}  // namespace lumasift

#include "exact_arithmetic.h"

#include "filter.h"

#include <cstddef>
#include <limits>

#include "wedge.h"

FilterState filter_state;

std::int32_t edge_level(double edge_value)
{
    // The bounds are the first integers that truncation cannot bring into
    // range; NaN fails both comparisons.
    if (edge_value > -2147483649.0 && edge_value < 2147483648.0) {
        return static_cast<std::int32_t>(edge_value);
    }
    return std::numeric_limits<std::int32_t>::min();
}

namespace {

void load_planes(const double* values, const double* edges)
{
    FilterState& state = filter_state;
    for (int col = 0; col < state.cols; ++col) {
        const double* value_column = values + static_cast<std::ptrdiff_t>(col) * state.rows;
        const double* edge_column = edges + static_cast<std::ptrdiff_t>(col) * state.rows;
        for (int row = 0; row < state.rows; ++row) {
            state.value_plane[row][col] = value_column[row];
            state.edge_plane[row][col] = edge_level(edge_column[row]);
        }
    }
}

// Once per call, not per pixel: a mark counts only while its serial is the
// current pixel's, so marks of earlier pixels are stale without clearing.
void reset_labels()
{
    FilterState& state = filter_state;
    for (int row = 0; row < state.rows; ++row) {
        for (int col = 0; col < state.cols; ++col) {
            state.label_plane[row][col] = NO_LABEL;
        }
    }
}

// A zero weight total gives NaN or an infinity, as the division gives it.
void filter_pixels()
{
    FilterState& state = filter_state;
    std::int32_t serial = 0;
    for (int row = 0; row < state.rows; ++row) {
        for (int col = 0; col < state.cols; ++col) {
            state.weight_total = 0.0;
            const double sum = wedge_sum(row, col, serial);
            ++serial;
            state.result_plane[row][col] = sum / state.weight_total;
        }
    }
}

void store_result(double* result)
{
    const FilterState& state = filter_state;
    for (int col = 0; col < state.cols; ++col) {
        double* result_column = result + static_cast<std::ptrdiff_t>(col) * state.rows;
        for (int row = 0; row < state.rows; ++row) {
            result_column[row] = state.result_plane[row][col];
        }
    }
}

}  // namespace

void filter_image(const double* values, double* result, const double* edges)
{
    load_planes(values, edges);
    reset_labels();
    filter_pixels();
    store_result(result);
}

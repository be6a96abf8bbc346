#include "exact_arithmetic.h"

#include "filter.h"

#include <cstddef>

#include "lanes/lanes.h"
#include "lanes/tables.h"
#include "parallel.h"
#include "wedge.h"

namespace lumasift LUMASIFT_HIDDEN {

// Constant-initialized, with no code run at load time: a record of zeros.
FilterState filter_state{};

namespace {

// Rows or columns per unit of the passes before and after filtering. The
// transpositions of the literal path walk their band in square tiles, whose
// cache lines and pages on both sides stay at hand while they cross them.
constexpr int BAND = 32;

// Below this many pixels a second thread costs more than it saves in the
// passes before and after filtering.
constexpr double PIXELS_PER_THREAD = 2e5;

int band_count(int length)
{
    return (length + BAND - 1) / BAND;
}

int band_end(int band, int length)
{
    return band * BAND + BAND < length ? band * BAND + BAND : length;
}

// The literal path's planes for rows [first, end), and their labels, reset
// once per call rather than per pixel: a mark counts only while its serial
// is the current pixel's.
void load_planes(int first, int end, const double* values, const double* edges)
{
    FilterState& state = filter_state;
    const int rows = state.rows;
    const int cols = state.cols;
    for (int tile = 0; tile < cols; tile += BAND) {
        const int tile_end = tile + BAND < cols ? tile + BAND : cols;
        for (int col = tile; col < tile_end; ++col) {
            const std::ptrdiff_t column = static_cast<std::ptrdiff_t>(col) * rows;
            for (int row = first; row < end; ++row) {
                state.value_plane[row][col] = values[column + row];
                state.edge_plane[row][col] = edge_level(edges[column + row]);
                state.label_plane[row][col] = NO_LABEL;
            }
        }
    }
}

void store_columns(int first, int end, double* result)
{
    const FilterState& state = filter_state;
    const int rows = state.rows;
    for (int tile = 0; tile < rows; tile += BAND) {
        const int tile_end = tile + BAND < rows ? tile + BAND : rows;
        for (int col = first; col < end; ++col) {
            double* column = result + static_cast<std::ptrdiff_t>(col) * rows;
            for (int row = tile; row < tile_end; ++row) {
                column[row] = state.result_plane[row][col];
            }
        }
    }
}

// The definition, as written: the planes, the label plane and wedge_sum, on
// one thread since they share the width state. A zero weight total gives NaN
// or an infinity, as the division gives it. The stop request is polled once
// a pixel, which is a unit of work here.
void filter_literally(const double* values, double* result, const double* edges)
{
    FilterState& state = filter_state;
    const int rows = state.rows;
    const int cols = state.cols;
    const int copy_workers = worker_count(static_cast<double>(rows) * cols, PIXELS_PER_THREAD);
    if (!run_parallel(band_count(rows), copy_workers, [rows, values, edges](int band) {
            load_planes(band * BAND, band_end(band, rows), values, edges);
        })) {
        return;
    }
    std::int32_t serial = 0;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            if (stop_requested()) {
                return;
            }
            state.weight_total = 0.0;
            const double sum = wedge_sum(row, col, serial);
            ++serial;
            state.result_plane[row][col] = sum / state.weight_total;
        }
    }
    run_parallel(band_count(cols), copy_workers,
                 [cols, result](int band) { store_columns(band * BAND, band_end(band, cols), result); });
}

// The lane engine on the whole image, in place: x1's columns are the lane
// view's lines, so x1 and x2 are read and the result written where the host
// keeps them.
void filter_with_lanes(const LanePath& lanes, const double* values, double* result,
                       const double* edges)
{
    FilterState& state = filter_state;
    const int rows = state.rows;
    const int cols = state.cols;
    state.lane_view = LaneView{values, result, rows, rows, cols, rows, 0, cols, 0, rows};
    build_tables(rows < cols ? rows : cols);
    const int workers = worker_count(static_cast<double>(rows) * cols, PIXELS_PER_THREAD);
    if (!run_parallel(band_count(cols), workers, [&lanes, rows, cols, edges](int band) {
            for (int line = band * BAND; line < band_end(band, cols); ++line) {
                lanes.pack_edges(edges + static_cast<std::ptrdiff_t>(line) * rows, rows,
                                 filter_state.edge_bits[line]);
                find_near_edges(line);
            }
        })) {
        return;
    }
    filter_lane_view(lanes.filter_line);
}

}  // namespace

void filter_image(const double* values, double* result, const double* edges)
{
    FilterState& state = filter_state;
    if (state.rows <= 0 || state.cols <= 0) {
        return;
    }
    state.reach = window_reach(state.window_radius, state.rows, state.cols);
    const LanePath lanes = lane_path_for(state.kernel_path);
    if (lanes.filter_line == nullptr) {
        filter_literally(values, result, edges);
    } else {
        filter_with_lanes(lanes, values, result, edges);
    }
}

void begin_call(StopRequest stop)
{
    filter_state.stop_request = stop;
    filter_state.stopping.store(false);
}

bool filter_call(const double* values, const double* edges, int rows, int cols, double sigma_near,
                 double sigma_far, double* result, StopRequest stop)
{
    const std::lock_guard<std::mutex> hold(filter_state.call_lock);
    FilterState& state = filter_state;
    state.rows = rows;
    state.cols = cols;
    state.sigma_near = sigma_near;
    state.sigma_far = sigma_far;
    state.sigma_active = sigma_near;
    state.window_radius = RADIUS_FACTOR * sigma_near + 1.0;
    begin_call(stop);
    filter_image(values, result, edges);
    return !state.stopping.load();
}

}  // namespace lumasift

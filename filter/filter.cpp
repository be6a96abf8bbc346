#include "exact_arithmetic.h"

#include "filter.h"

#include <cstddef>

#include "lanes/lanes.h"
#include "lanes/tables.h"
#include "lumasift.h"
#include "parallel.h"
#include "wedge.h"

namespace lumasift LUMASIFT_HIDDEN {

// Constant-initialized, with no code run at load time: a record of zeros.
FilterState filter_state{};
std::mutex call_lock;

namespace {

// Rows or columns per unit of the passes before and after filtering, on
// either engine. The literal evaluation's transpositions walk their band in
// square tiles, whose cache lines and pages on both sides stay at hand while
// they cross them; the lane engine packs the edges of a band of lines.
constexpr int BAND = 32;

int band_count(int length)
{
    return (length + BAND - 1) / BAND;
}

int band_end(int band, int length)
{
    return band * BAND + BAND < length ? band * BAND + BAND : length;
}

// The literal evaluation's planes for rows [first, end), and their labels,
// reset once per call rather than per pixel: a mark counts only while its
// serial is the current pixel's.
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
void filter_literally(const double* values, double* result, const double* edges, CallState& call)
{
    FilterState& state = filter_state;
    const int rows = state.rows;
    const int cols = state.cols;
    const int copy_workers = worker_count(call, static_cast<double>(rows) * cols, PIXELS_PER_THREAD);
    if (!run_parallel(call, band_count(rows), copy_workers, [rows, values, edges](int band) {
            load_planes(band * BAND, band_end(band, rows), values, edges);
        })) {
        return;
    }
    std::int32_t serial = 0;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            if (stop_requested(call)) {
                return;
            }
            state.weight_total = 0.0;
            const double sum = wedge_sum(row, col, serial);
            ++serial;
            state.result_plane[row][col] = sum / state.weight_total;
        }
    }
    run_parallel(call, band_count(cols), copy_workers,
                 [cols, result](int band) { store_columns(band * BAND, band_end(band, cols), result); });
}

// The whole image as the lane engine sees it: x1's columns are the view's
// lines, read in place, and the results go where the host keeps them.
LaneView whole_image_view(const double* values, double* result, int rows, int cols)
{
    LaneView view{};
    view.values = values;
    view.results = result;
    view.value_stride = rows;
    view.result_stride = rows;
    view.lines = cols;
    view.length = rows;
    view.first_line = 0;
    view.end_line = cols;
    view.first_position = 0;
    view.end_position = rows;
    return view;
}

void filter_with_lanes(const LaneKernels& kernels, const double* values, double* result, const double* edges,
                       CallState& call)
{
    const FilterState& state = filter_state;
    const int rows = state.rows;
    const int cols = state.cols;
    LanePass pass(cols, rows);
    pass.view = whole_image_view(values, result, rows, cols);
    build_tables(pass, window_reach(state.window_radius, rows, cols), state.sigma_near, state.sigma_far, rows,
                 rows < cols ? rows : cols);
    const int workers = worker_count(call, static_cast<double>(rows) * cols, PIXELS_PER_THREAD);
    if (!run_parallel(call, band_count(cols), workers, [&pass, &kernels, rows, cols, edges](int band) {
            for (int line = band * BAND; line < band_end(band, cols); ++line) {
                pack_line_edges(pass, kernels, line, edges + static_cast<std::ptrdiff_t>(line) * rows, rows);
            }
        })) {
        return;
    }
    filter_lane_view(call, pass, kernels.filter_line);
}

}  // namespace

void set_widths(double sigma_near, double sigma_far)
{
    FilterState& state = filter_state;
    state.sigma_near = sigma_near;
    state.sigma_far = sigma_far;
    state.sigma_active = sigma_near;
    state.window_radius = window_radius_for(sigma_near);
}

void filter_image(const double* values, double* result, const double* edges, CallState& call)
{
    const FilterState& state = filter_state;
    if (state.rows <= 0 || state.cols <= 0) {
        return;
    }
    const LaneKernels kernels = lane_kernels_for(call.options.kernels);
    if (kernels.filter_line == nullptr) {
        filter_literally(values, result, edges, call);
    } else {
        filter_with_lanes(kernels, values, result, edges, call);
    }
}

bool has_kernels(KernelChoice choice)
{
    for (const InstructionSet& set : INSTRUCTION_SETS) {
        if (set.choice == choice) {
            return set.kernels().filter_line != nullptr;
        }
    }
    return true;  // fastest and literal are always there
}

bool filter_call(const double* values, const double* edges, int rows, int cols, double sigma_near,
                 double sigma_far, double* result, const CallOptions& options)
{
    const std::lock_guard<std::mutex> hold(call_lock);
    CallState call{options};
    filter_state.rows = rows;
    filter_state.cols = cols;
    set_widths(sigma_near, sigma_far);
    filter_image(values, result, edges, call);
    return !call.stopping.load();
}

}  // namespace lumasift

#include "exact_arithmetic.h"

#include "filter.h"

#include <cstddef>
#include <exception>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

#include "lanes.h"
#include "tables.h"
#include "wedge.h"

FilterState filter_state;

namespace {

// Rows or columns per unit of the passes before and after filtering. The
// transpositions of the literal path walk their band in square tiles, whose
// cache lines and pages on both sides stay at hand while they cross them.
constexpr int BAND = 32;

// Below these amounts of work a second thread costs more than it saves.
constexpr double SAMPLES_PER_THREAD = 2e6;
constexpr double PIXELS_PER_THREAD = 2e5;

// The cores this process may run on: fewer than the machine has when the
// host, or taskset, limits it.
int available_cores()
{
#if defined(__linux__)
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return CPU_COUNT(&cores);
    }
#endif
    return static_cast<int>(std::thread::hardware_concurrency());
}

int worker_count(double work, double work_per_thread)
{
    const FilterState& state = filter_state;
    if (state.thread_count > 0) {
        return state.thread_count < MAX_WORKERS ? state.thread_count : MAX_WORKERS;
    }
    const int cores = available_cores();
    const int limit = cores < 1 ? 1 : cores > MAX_WORKERS ? MAX_WORKERS : cores;
    const double wanted = 1.0 + work / work_per_thread;
    return wanted < limit ? static_cast<int>(wanted) : limit;
}

// Runs task(unit) for every unit on up to `workers` threads, the calling one
// included, all joined before returning. Units are handed out one at a time,
// so rows of unequal cost balance out, and a thread that cannot be started
// leaves its share to the others.
template <class Task>
void run_parallel(int units, int workers, const Task& task)
{
    filter_state.next_unit.store(0);
    const auto drain = [&task, units] {
        for (int unit; (unit = filter_state.next_unit.fetch_add(1)) < units;) {
            task(unit);
        }
    };
    std::thread helpers[MAX_WORKERS];
    int started = 0;
    for (int w = 1; w < workers && w < units; ++w) {
        try {
            helpers[started] = std::thread(drain);
            ++started;
        } catch (const std::exception&) {
            break;
        }
    }
    drain();
    for (int i = 0; i < started; ++i) {
        helpers[i].join();
    }
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

// The lane kernels' edge bits for the lane view's rows [first, end), which
// are x2's columns: one sequential read of x2.
void load_edge_bits(int first, int end, const double* edges)
{
    FilterState& state = filter_state;
    const int length = state.lane_view.cols;
    for (int row = first; row < end; ++row) {
        const double* column = edges + static_cast<std::ptrdiff_t>(row) * length;
        std::uint64_t* words = state.edge_bits[row];
        for (int word = 0; word < EDGE_WORDS; ++word) {
            std::uint64_t bits = 0;
            for (int bit = 0; bit < 64 && word * 64 + bit < length; ++bit) {
                bits |= static_cast<std::uint64_t>(edge_level(column[word * 64 + bit]) > EDGE_THRESHOLD)
                        << bit;
            }
            words[word] = bits;
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

// The definition itself, one pixel after another. A zero weight total gives
// NaN or an infinity, as the division gives it.
void filter_row_literally(int row)
{
    FilterState& state = filter_state;
    for (int col = 0; col < state.cols; ++col) {
        state.weight_total = 0.0;
        const double sum = wedge_sum(row, col, row * state.cols + col);
        state.result_plane[row][col] = sum / state.weight_total;
    }
}

int band_count(int length)
{
    return (length + BAND - 1) / BAND;
}

// The definition, as written: the planes, the label plane and wedge_sum, on
// one thread since they share the width state.
void filter_literally(const double* values, double* result, const double* edges)
{
    const FilterState& state = filter_state;
    const int rows = state.rows;
    const int cols = state.cols;
    const int copy_workers = worker_count(static_cast<double>(rows) * cols, PIXELS_PER_THREAD);
    run_parallel(band_count(rows), copy_workers, [rows, values, edges](int band) {
        const int first = band * BAND;
        const int end = first + BAND < rows ? first + BAND : rows;
        load_planes(first, end, values, edges);
    });
    for (int row = 0; row < rows; ++row) {
        filter_row_literally(row);
    }
    run_parallel(band_count(cols), copy_workers, [cols, result](int band) {
        const int first = band * BAND;
        store_columns(first, first + BAND < cols ? first + BAND : cols, result);
    });
}

}  // namespace

void filter_image(const double* values, double* result, const double* edges)
{
    FilterState& state = filter_state;
    const int rows = state.rows;
    const int cols = state.cols;
    if (rows <= 0 || cols <= 0) {
        return;
    }
    state.reach = window_reach(state.window_radius, rows, cols);
    const RowFilter row_filter = row_filter_for(state.kernel_path);
    if (row_filter == nullptr) {
        filter_literally(values, result, edges);
        return;
    }

    // The lane view: x1's columns are its rows, so the kernels read x1 and x2
    // and write the result in place, each lane view row contiguous.
    state.lane_view = LaneView{values, result, cols, rows};
    build_tables();
    const double pixels = static_cast<double>(rows) * cols;
    run_parallel(band_count(cols), worker_count(pixels, PIXELS_PER_THREAD), [cols, edges](int band) {
        const int first = band * BAND;
        load_edge_bits(first, first + BAND < cols ? first + BAND : cols, edges);
    });
    const double side = 2.0 * (state.reach > 0 ? state.reach : 0) + 1.0;
    run_parallel(cols, worker_count(pixels * side * side, SAMPLES_PER_THREAD), row_filter);
}

void filter_call(int rows, int cols, double sigma_near, double sigma_far, const double* values,
                 double* result, const double* edges)
{
    const std::lock_guard<std::mutex> hold(filter_state.call_lock);
    FilterState& state = filter_state;
    state.rows = rows;
    state.cols = cols;
    state.sigma_near = sigma_near;
    state.sigma_far = sigma_far;
    state.sigma_active = sigma_near;
    state.window_radius = RADIUS_FACTOR * sigma_near + 1.0;
    filter_image(values, result, edges);
}

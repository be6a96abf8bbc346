#include "exact_arithmetic.h"

#include "edges.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "block_io.h"
#include "edge_blocks.h"
#include "lanes/lanes.h"
#include "parallel.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

std::ptrdiff_t clamp_index(std::ptrdiff_t k, std::ptrdiff_t length)
{
    return k < 0 ? 0 : k >= length ? length - 1 : k;
}

int unit_count(std::ptrdiff_t columns, std::ptrdiff_t per_unit)
{
    return static_cast<int>((columns + per_unit - 1) / per_unit);
}

}  // namespace

bool make_edges(CallState& call, const HostImage& image, double threshold, const EdgeKernels& kernels,
                const EdgeBlock& block)
{
    const std::ptrdiff_t rows = block.end_row - block.first_row;
    const std::ptrdiff_t cols = block.end_col - block.first_col;
    if (rows <= 0 || cols <= 0) {
        return true;
    }
    // The smoothed image's rows that the gradient reads, and the image's rows
    // that their smoothing reads, repeated past the image's border.
    const std::ptrdiff_t first_smooth = std::max<std::ptrdiff_t>(block.first_row - 1, 0);
    const std::ptrdiff_t end_smooth = std::min<std::ptrdiff_t>(block.end_row + 1, image.rows);
    const std::ptrdiff_t extent = end_smooth - first_smooth;
    const std::ptrdiff_t first_read = std::max<std::ptrdiff_t>(first_smooth - 2, 0);
    const std::ptrdiff_t end_read = std::min<std::ptrdiff_t>(end_smooth + 2, image.rows);
    // A column of values with two more on each side, five columns smoothed
    // down, and three smoothed both ways with one more on each side; and
    // where the block has no `out`, a unit's edge values.
    const std::ptrdiff_t line_stride = extent + 4;
    const std::ptrdiff_t unit_values = block.out != nullptr ? 0 : EDGE_COLUMNS_PER_UNIT * rows;
    // Where the image's rows lie far apart, a unit's columns of a channel
    // are read together first (read_columns), rather than one by one.
    const bool read_together = image.layout.row_step != 1;
    const std::ptrdiff_t read_rows = end_read - first_read;
    // A unit smooths down its own columns and three more on each side.
    const std::ptrdiff_t together_values = read_together ? (EDGE_COLUMNS_PER_UNIT + 6) * read_rows : 0;
    const std::ptrdiff_t per_worker = 9 * line_stride + unit_values + together_values;

    const double values = static_cast<double>(rows) * static_cast<double>(cols) * image.channels;
    const int workers = worker_count(call, values, PIXELS_PER_THREAD);
    const Scratch<double> scratch(new double[static_cast<std::size_t>(workers * per_worker)]);

    return run_parallel(call, unit_count(cols, EDGE_COLUMNS_PER_UNIT), workers, [&](int unit, int worker) {
        double* x = scratch.get() + worker * per_worker;
        double* down[5];
        double* smooth[3];
        for (int k = 0; k < 5; ++k) {
            down[k] = x + (1 + k) * line_stride;
        }
        for (int k = 0; k < 3; ++k) {
            smooth[k] = x + (6 + k) * line_stride;
        }
        const std::ptrdiff_t first_col = block.first_col + unit * EDGE_COLUMNS_PER_UNIT;
        const std::ptrdiff_t end_col = std::min(first_col + EDGE_COLUMNS_PER_UNIT, block.end_col);
        double* const out = block.out != nullptr ? block.out + (first_col - block.first_col) * block.stride
                                                 : x + 9 * line_stride;
        double* const together = x + 9 * line_stride + unit_values;
        const std::ptrdiff_t stride = block.out != nullptr ? block.stride : rows;
        if (!(threshold > 0.0)) {
            for (std::ptrdiff_t col = first_col; col < end_col; ++col) {
                std::fill(out + (col - first_col) * stride, out + (col - first_col) * stride + rows, 0.0);
            }
        } else {
            const std::ptrdiff_t last_col = image.cols - 1;
            const std::ptrdiff_t offset = block.first_row - first_smooth + 1;
            // The columns the unit smooths down.
            const std::ptrdiff_t first_down = std::max<std::ptrdiff_t>(first_col - 3, 0);
            const std::ptrdiff_t end_down = std::min(end_col + 2, last_col) + 1;
            for (std::ptrdiff_t channel = 0; channel < image.channels; ++channel) {
                if (read_together) {
                    read_columns(image, channel, first_down, end_down - first_down, first_read, read_rows, together,
                                 read_rows);
                }
                std::ptrdiff_t next_down = first_down;
                std::ptrdiff_t next_smooth = std::max<std::ptrdiff_t>(first_col - 1, 0);
                for (std::ptrdiff_t col = first_col; col < end_col; ++col) {
                    for (; next_smooth <= std::min(col + 1, last_col); ++next_smooth) {
                        for (; next_down <= std::min(next_smooth + 2, last_col); ++next_down) {
                            // x[i] holds row first_smooth - 2 + i.
                            const std::ptrdiff_t read_at = first_read - (first_smooth - 2);
                            const std::ptrdiff_t read_end = read_at + read_rows;
                            if (read_together) {
                                std::copy_n(together + (next_down - first_down) * read_rows, read_rows, x + read_at);
                            } else {
                                read_column(image, channel, next_down, first_read, read_rows, x + read_at);
                            }
                            std::fill(x, x + read_at, x[read_at]);
                            std::fill(x + read_end, x + extent + 4, x[read_end - 1]);
                            kernels.smooth_along(x + 2, down[next_down % 5], static_cast<int>(extent));
                        }
                        const double* lines[5];
                        for (int k = 0; k < 5; ++k) {
                            lines[k] = down[clamp_index(next_smooth - 2 + k, image.cols) % 5];
                        }
                        double* s = smooth[next_smooth % 3];
                        kernels.smooth_across(lines, s + 1, static_cast<int>(extent));
                        s[0] = s[1];
                        s[extent + 1] = s[extent];
                    }
                    double* strongest = out + (col - first_col) * stride;
                    if (channel == 0) {
                        std::fill(strongest, strongest + rows, std::numeric_limits<double>::quiet_NaN());
                    }
                    kernels.keep_strongest_gradient(smooth[clamp_index(col - 1, image.cols) % 3] + offset,
                                                    smooth[col % 3] + offset,
                                                    smooth[clamp_index(col + 1, image.cols) % 3] + offset,
                                                    strongest, static_cast<int>(rows));
                }
            }
            for (std::ptrdiff_t col = first_col; col < end_col; ++col) {
                double* strongest = out + (col - first_col) * stride;
                kernels.scale_edges(strongest, strongest, static_cast<int>(rows), threshold);
            }
        }
        if (block.finished != nullptr) {
            block.finished(block.context, first_col, end_col, out, stride);
        }
    });
}

namespace {

// A map in a layout whose columns are not contiguous and forward: each
// unit's values, made in the thread's scratch, go to their places.
struct ScatteredMap {
    double* edges;
    Layout layout;
    std::ptrdiff_t rows;
};

constexpr std::ptrdiff_t SCATTERED_BAND_ROWS = 256;

void scatter_edges(void* context, std::ptrdiff_t first, std::ptrdiff_t end, const double* values,
                   std::ptrdiff_t stride)
{
    const ScatteredMap& map = *static_cast<const ScatteredMap*>(context);
    write_columns(values, stride, map.edges, ElementClass::float64, map.layout, 0, first, end - first, 0, map.rows);
}

}  // namespace

bool edge_map(const HostImage& image, double threshold, double* edges, const Layout& layout,
              const CallOptions& options)
{
    CallState call{options};
    const LaneKernels lanes = lane_kernels_or_plain(options.kernels);
    const EdgeKernels& kernels = lanes.edges;
    if (has_forward_columns(layout)) {
        return make_edges(call, image, threshold, kernels,
                          {0, image.rows, 0, image.cols, edges, layout.col_step, nullptr, nullptr});
    }
    // In bands of rows: a unit's scratch holds its columns whole, which for
    // a tall image would be megabytes per thread. A band's edges are the
    // whole map's.
    for (std::ptrdiff_t first_row = 0; first_row < image.rows; first_row += SCATTERED_BAND_ROWS) {
        const std::ptrdiff_t end_row = std::min(first_row + SCATTERED_BAND_ROWS, image.rows);
        ScatteredMap map{edges + first_row * layout.row_step, layout, end_row - first_row};
        if (!make_edges(call, image, threshold, kernels,
                        {first_row, end_row, 0, image.cols, nullptr, 0, &scatter_edges, &map})) {
            return false;
        }
    }
    return true;
}

}  // namespace lumasift

#include "exact_arithmetic.h"

// The range pass: the extremes of an image's finite values and of its
// blocks' means, which give a floating-point image its scale and its
// clipping levels.
#include <algorithm>
#include <cmath>
#include <limits>

#include "block_io.h"
#include "parallel.h"
#include "statistics_passes.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// What one thread of the range pass keeps.
struct RangeWorker {
    Scratch<double> lines;  // the columns of a row of scale blocks
    ImageRange range;
};

void widen(ImageRange& range, const ImageRange& by)
{
    range.lowest_mean = std::min(range.lowest_mean, by.lowest_mean);
    range.highest_mean = std::max(range.highest_mean, by.highest_mean);
    range.lowest_value = std::min(range.lowest_value, by.lowest_value);
    range.highest_value = std::max(range.highest_value, by.highest_value);
}

// Widens the tally's range by the finite values of columns [first_col,
// end_col) and the finite means of the whole side-by-side blocks that start
// in them; each block's sum runs down its columns, one after another.
void gather_range(const HostImage& image, std::ptrdiff_t side, std::ptrdiff_t first_col, std::ptrdiff_t end_col,
                  RangeWorker& tally)
{
    const std::ptrdiff_t block_rows = image.rows / side;
    double* columns = tally.lines.get();
    ImageRange& range = tally.range;
    for (std::ptrdiff_t start = first_col / side * side; start < end_col; start += side) {
        const std::ptrdiff_t width = std::min(side, image.cols - start);
        for (std::ptrdiff_t channel = 0; channel < image.channels; ++channel) {
            read_columns(image, channel, start, width, 0, image.rows, columns, image.rows);
            for (std::ptrdiff_t q = start < first_col ? first_col - start : 0; q < width && start + q < end_col; ++q) {
                for (std::ptrdiff_t p = 0; p < image.rows; ++p) {
                    const double value = columns[q * image.rows + p];
                    if (std::isfinite(value)) {
                        range.lowest_value = std::min(range.lowest_value, value);
                        range.highest_value = std::max(range.highest_value, value);
                    }
                }
            }
            if (start < first_col || width < side) {
                continue;  // a block that an earlier unit owns, or no whole block
            }
            for (std::ptrdiff_t block = 0; block < block_rows; ++block) {
                double total = 0.0;
                for (std::ptrdiff_t q = 0; q < side; ++q) {
                    for (std::ptrdiff_t p = 0; p < side; ++p) {
                        total += columns[q * image.rows + block * side + p];
                    }
                }
                const double mean = total / static_cast<double>(side * side);
                if (std::isfinite(mean)) {
                    range.lowest_mean = std::min(range.lowest_mean, mean);
                    range.highest_mean = std::max(range.highest_mean, mean);
                }
            }
        }
    }
}

// Columns per unit of the range pass.
constexpr std::ptrdiff_t RANGE_COLUMNS_PER_UNIT = 64;

}  // namespace

bool gather_image_range(CallState& call, const HostImage& image, std::ptrdiff_t side, ImageRange& range)
{
    const double values = static_cast<double>(image.rows) * static_cast<double>(image.cols) * image.channels;
    const int workers = worker_count(call, values, PIXELS_PER_THREAD);
    const Scratch<RangeWorker> tallies(new RangeWorker[static_cast<std::size_t>(workers)]);
    for (int w = 0; w < workers; ++w) {
        tallies[w].lines.reset(new double[static_cast<std::size_t>(side * image.rows)]);
        tallies[w].range = EMPTY_RANGE;
    }
    const int units = static_cast<int>((image.cols + RANGE_COLUMNS_PER_UNIT - 1) / RANGE_COLUMNS_PER_UNIT);
    const bool finished = run_parallel(call, units, workers, [&](int unit, int worker) {
        const std::ptrdiff_t first = unit * RANGE_COLUMNS_PER_UNIT;
        gather_range(image, side, first, std::min(first + RANGE_COLUMNS_PER_UNIT, image.cols), tallies[worker]);
    });
    for (int w = 0; w < workers; ++w) {
        widen(range, tallies[w].range);
    }
    return finished;
}

std::ptrdiff_t scale_block_side(std::ptrdiff_t rows, std::ptrdiff_t cols)
{
    constexpr std::ptrdiff_t SCALE_BLOCK = 4;
    return std::min({SCALE_BLOCK, rows, cols});
}

double scale_of(const ImageRange& range)
{
    return range.lowest_mean <= range.highest_mean ? range.highest_mean - range.lowest_mean : 0.0;
}

double class_scale(ElementClass type)
{
    return is_floating(type) ? std::numeric_limits<double>::quiet_NaN() : class_range(type);
}

bool measure_range(const HostImage& part, std::ptrdiff_t side, ImageRange& range, const CallOptions& options)
{
    CallState call{options};
    return is_empty(part) || side <= 0 || gather_image_range(call, part, side, range);
}

}  // namespace lumasift

#include "exact_arithmetic.h"

#include "edges.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

#include "convert.h"
#include "filter.h"
#include "lanes/lanes.h"
#include "parallel.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// The default rule's constants (see DefaultParameters).
constexpr double FALSE_EDGE_RATE = 0.004;
constexpr double X3_PER_ROOT_NOISE = 6.0;
constexpr double X3_LEAST = 0.01;
constexpr double X3_MOST = 2.5;
constexpr double X4_PER_ROOT_NOISE = 1.9;
constexpr double X4_LEAST = 0.01;
constexpr double X4_MOST = 1.0;
// Widths of X3_LEAST and X4_LEAST give every sample but the centre the
// weight exp(-1 / (4 * 0.01^2)), which is 0: a noiseless image comes back
// as it is.
// The median of |N(0, 1)|.
constexpr double HALF_NORMAL_MEDIAN = 0.6744897501960817;

// Columns per unit of work: enough that the columns a unit reads beyond its
// own cost little, few enough that a stop request is answered at once.
constexpr std::ptrdiff_t NOISE_COLUMNS_PER_UNIT = 64;
// Each thread of the noise pass keeps its own counts.
constexpr int MOST_COUNTING_WORKERS = 8;
// |h| in single precision is selected 16 bits at a time: its bit pattern
// orders non-negative floats as their values.
constexpr int KEY_HALF_BITS = 16;
static_assert(NOISE_KEY_BINS == std::size_t{1} << KEY_HALF_BITS, "a bin for every half of a key");
// Side of the blocks whose means measure a floating-point image's range.
constexpr std::ptrdiff_t SCALE_BLOCK = 4;

std::ptrdiff_t clamp_index(std::ptrdiff_t k, std::ptrdiff_t length)
{
    return k < 0 ? 0 : k >= length ? length - 1 : k;
}

int unit_count(std::ptrdiff_t columns, std::ptrdiff_t per_unit)
{
    return static_cast<int>((columns + per_unit - 1) / per_unit);
}

// Rows [first, first + count) of one column of one channel, as doubles.
void read_column(const HostImage& image, std::ptrdiff_t channel, std::ptrdiff_t col, std::ptrdiff_t first,
                 std::ptrdiff_t count, double* out)
{
    with_element_type(image.value_class, [&](auto* type) {
        using T = std::remove_pointer_t<decltype(type)>;
        const T* column = static_cast<const T*>(image.values) + (channel * image.cols + col) * image.rows + first;
        constexpr std::ptrdiff_t PIECE = 1 << 20;
        for (std::ptrdiff_t done = 0; done < count; done += PIECE) {
            const int n = static_cast<int>(count - done < PIECE ? count - done : PIECE);
            convert_in_chunks(column + done, out + done, n, [](T value) { return as_double(value); });
        }
    });
}

double class_range(ElementClass type)
{
    double range = 1.0;  // logical
    with_element_type(type, [&range](auto* element) {
        using T = std::remove_pointer_t<decltype(element)>;
        if constexpr (std::is_integral_v<T>) {
            range = static_cast<double>(std::numeric_limits<T>::max()) -
                    static_cast<double>(std::numeric_limits<T>::min());
        }
    });
    return range;
}

bool is_floating(ElementClass type)
{
    return type == ElementClass::float64 || type == ElementClass::float32;
}

// Scratch of a call, freed with it: not std::vector, whose out-of-line
// members a module would export.
template <class T>
using Scratch = std::unique_ptr<T[]>;

// What one thread of the noise pass gathers.
struct NoiseTally {
    Scratch<std::uint64_t> bins;
    double lowest_mean;
    double highest_mean;
    Scratch<double> lines;  // a column and three second differences, or a block's columns
};

// Second differences down column `col`: d[p - 1] = (x[p - 1] + x[p + 1]) - 2 x[p].
void second_differences(const HostImage& image, std::ptrdiff_t channel, std::ptrdiff_t col, double* x, double* d)
{
    read_column(image, channel, col, 0, image.rows, x);
    for (std::ptrdiff_t p = 1; p + 1 < image.rows; ++p) {
        d[p - 1] = (x[p - 1] + x[p + 1]) - 2.0 * x[p];
    }
}

// Calls count(h) for every h of the unit's columns, channel by channel.
template <class Count>
void for_each_difference(const HostImage& image, std::ptrdiff_t first_col, std::ptrdiff_t end_col,
                         NoiseTally& tally, const Count& count)
{
    const std::ptrdiff_t rows = image.rows;
    const std::ptrdiff_t first = std::max<std::ptrdiff_t>(first_col, 1);
    const std::ptrdiff_t end = std::min<std::ptrdiff_t>(end_col, image.cols - 1);
    if (rows < 3 || first >= end) {
        return;
    }
    double* x = tally.lines.get();
    double* ring[3] = {x + rows, x + 2 * rows, x + 3 * rows};
    for (std::ptrdiff_t channel = 0; channel < image.channels; ++channel) {
        second_differences(image, channel, first - 1, x, ring[(first - 1) % 3]);
        second_differences(image, channel, first, x, ring[first % 3]);
        for (std::ptrdiff_t col = first; col < end; ++col) {
            second_differences(image, channel, col + 1, x, ring[(col + 1) % 3]);
            const double* left = ring[(col - 1) % 3];
            const double* centre = ring[col % 3];
            const double* right = ring[(col + 1) % 3];
            for (std::ptrdiff_t i = 0; i + 2 < rows; ++i) {
                count((left[i] + right[i]) - 2.0 * centre[i]);
            }
        }
    }
}

// How a pass counts |h|: by the upper or the lower half of its key, or, for
// small integer classes, where every h is an integer, by its value; or not
// at all.
enum class Counting { upper_keys, lower_keys, whole_values, none };

void count_differences(const HostImage& image, std::ptrdiff_t first_col, std::ptrdiff_t end_col, Counting counting,
                       std::uint32_t prefix, NoiseTally& tally)
{
    std::uint64_t* bins = tally.bins.get();
    if (counting == Counting::none) {
        return;
    }
    if (counting == Counting::whole_values) {
        for_each_difference(image, first_col, end_col, tally,
                            [bins](double h) { ++bins[static_cast<std::size_t>(std::fabs(h))]; });
        return;
    }
    for_each_difference(image, first_col, end_col, tally, [bins, counting, prefix](double h) {
        if (!std::isfinite(h)) {
            return;
        }
        const float magnitude = static_cast<float>(std::fabs(h));
        std::uint32_t key;
        std::memcpy(&key, &magnitude, sizeof key);
        if (counting == Counting::upper_keys) {
            ++bins[key >> KEY_HALF_BITS];
        } else if (key >> KEY_HALF_BITS == prefix) {
            ++bins[key & (NOISE_KEY_BINS - 1)];
        }
    });
}

// Bins for |h| by value: h adds four second differences of at most twice the
// class's range each, so |h| is at most 16 times the range. None for classes
// whose h may not be an integer, or whose |h| would need too many bins.
std::size_t whole_value_bins(ElementClass type)
{
    switch (type) {
    case ElementClass::logical:
    case ElementClass::int8:
    case ElementClass::uint8:
    case ElementClass::int16:
    case ElementClass::uint16: return static_cast<std::size_t>(16.0 * class_range(type)) + 1;
    default: return 0;
    }
}

// The lowest and highest finite mean of the whole side-by-side blocks that
// start in the unit's columns; each block's sum runs down its columns, one
// after another.
void gather_block_means(const HostImage& image, std::ptrdiff_t side, std::ptrdiff_t first_col, std::ptrdiff_t end_col,
                        NoiseTally& tally)
{
    const std::ptrdiff_t block_rows = image.rows / side;
    double* columns = tally.lines.get();
    for (std::ptrdiff_t start = (first_col + side - 1) / side * side; start < end_col && start + side <= image.cols;
         start += side) {
        for (std::ptrdiff_t channel = 0; channel < image.channels; ++channel) {
            for (std::ptrdiff_t q = 0; q < side; ++q) {
                read_column(image, channel, start + q, 0, image.rows, columns + q * image.rows);
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
                    tally.lowest_mean = std::min(tally.lowest_mean, mean);
                    tally.highest_mean = std::max(tally.highest_mean, mean);
                }
            }
        }
    }
}

// The bin in which the count, added up from bin 0, passes `rank`; `rank`
// becomes the rank within that bin.
std::size_t bin_of_rank(const std::uint64_t* bins, std::uint64_t& rank)
{
    std::size_t bin = 0;
    while (rank >= bins[bin]) {
        rank -= bins[bin];
        ++bin;
    }
    return bin;
}

// One pass over an image: its counts of |h|, added up over the threads into
// the first tally's bins, and where `side` is positive the range of its
// blocks' means.
struct NoisePass {
    int workers;
    int units;
    std::size_t bin_count;
    Scratch<NoiseTally> tallies;
};

NoisePass start_noise_pass(CallState& call, const HostImage& image, std::size_t bin_count)
{
    const double values = static_cast<double>(image.rows) * static_cast<double>(image.cols) * image.channels;
    NoisePass pass{std::min(worker_count(call, values, PIXELS_PER_THREAD), MOST_COUNTING_WORKERS),
                   unit_count(image.cols, NOISE_COLUMNS_PER_UNIT), bin_count, nullptr};
    pass.tallies.reset(new NoiseTally[static_cast<std::size_t>(pass.workers)]);
    for (int w = 0; w < pass.workers; ++w) {
        pass.tallies[w].bins.reset(new std::uint64_t[bin_count]);
        pass.tallies[w].lowest_mean = std::numeric_limits<double>::infinity();
        pass.tallies[w].highest_mean = -std::numeric_limits<double>::infinity();
        pass.tallies[w].lines.reset(new double[static_cast<std::size_t>(std::max<std::ptrdiff_t>(4, SCALE_BLOCK) * image.rows)]);
    }
    return pass;
}

bool run_noise_pass(CallState& call, const HostImage& image, NoisePass& pass, Counting counting, std::uint32_t prefix,
                    std::ptrdiff_t side)
{
    for (int w = 0; w < pass.workers; ++w) {
        std::fill(pass.tallies[w].bins.get(), pass.tallies[w].bins.get() + pass.bin_count, 0);
    }
    const bool finished = run_parallel(call, pass.units, pass.workers, [&](int unit, int worker) {
        const std::ptrdiff_t first = unit * NOISE_COLUMNS_PER_UNIT;
        const std::ptrdiff_t end = std::min(first + NOISE_COLUMNS_PER_UNIT, image.cols);
        NoiseTally& tally = pass.tallies[worker];
        if (side > 0) {
            gather_block_means(image, side, first, end, tally);
        }
        count_differences(image, first, end, counting, prefix, tally);
    });
    for (int w = 1; w < pass.workers; ++w) {
        for (std::size_t bin = 0; bin < pass.bin_count; ++bin) {
            pass.tallies[0].bins[bin] += pass.tallies[w].bins[bin];
        }
        pass.tallies[0].lowest_mean = std::min(pass.tallies[0].lowest_mean, pass.tallies[w].lowest_mean);
        pass.tallies[0].highest_mean = std::max(pass.tallies[0].highest_mean, pass.tallies[w].highest_mean);
    }
    return finished;
}

bool is_empty(const HostImage& image)
{
    return image.rows <= 0 || image.cols <= 0 || image.channels <= 0;
}

bool estimate_statistics(CallState& call, const HostImage& image, ImageStatistics& statistics)
{
    const bool floating = is_floating(image.value_class);
    statistics = {0.0, floating ? 0.0 : class_range(image.value_class)};
    if (is_empty(image)) {
        return true;
    }
    const std::size_t value_bins = whole_value_bins(image.value_class);
    NoisePass pass = start_noise_pass(call, image, value_bins > 0 ? value_bins : NOISE_KEY_BINS);
    if (!run_noise_pass(call, image, pass, value_bins > 0 ? Counting::whole_values : Counting::upper_keys, 0,
                        floating ? scale_block_side(image.rows, image.cols) : 0)) {
        return false;
    }
    const NoiseTally& total = pass.tallies[0];
    if (floating) {
        statistics.scale = total.lowest_mean <= total.highest_mean ? total.highest_mean - total.lowest_mean : 0.0;
    }
    std::uint64_t count = 0;
    for (std::size_t bin = 0; bin < pass.bin_count; ++bin) {
        count += total.bins[bin];
    }
    if (count == 0) {
        return true;
    }
    // The lower median: rank (count - 1) / 2 from 0. A whole value below 2^24
    // is its own single-precision key, so both ways select the same |h|.
    std::uint64_t rank = (count - 1) / 2;
    if (value_bins > 0) {
        const float median = static_cast<float>(bin_of_rank(total.bins.get(), rank));
        std::uint32_t key;
        std::memcpy(&key, &median, sizeof key);
        statistics.noise = noise_of_key(key);
        return true;
    }
    const std::uint32_t upper = static_cast<std::uint32_t>(bin_of_rank(total.bins.get(), rank));
    if (!run_noise_pass(call, image, pass, Counting::lower_keys, upper, 0)) {
        return false;
    }
    statistics.noise = noise_of_key(upper << KEY_HALF_BITS | static_cast<std::uint32_t>(bin_of_rank(total.bins.get(), rank)));
    return true;
}

}  // namespace

std::ptrdiff_t scale_block_side(std::ptrdiff_t rows, std::ptrdiff_t cols)
{
    return std::min({SCALE_BLOCK, rows, cols});
}

double noise_of_key(std::uint32_t key)
{
    float median;
    std::memcpy(&median, &key, sizeof median);
    return static_cast<double>(median) / (6.0 * HALF_NORMAL_MEDIAN);
}

bool count_noise_keys(const HostImage& part, long upper, std::uint64_t* bins, const CallOptions& options)
{
    const std::lock_guard<std::mutex> hold(call_lock);
    CallState call{options};
    if (is_empty(part)) {
        return true;
    }
    NoisePass pass = start_noise_pass(call, part, NOISE_KEY_BINS);
    if (!run_noise_pass(call, part, pass, upper < 0 ? Counting::upper_keys : Counting::lower_keys,
                        static_cast<std::uint32_t>(upper < 0 ? 0 : upper), 0)) {
        return false;
    }
    for (std::size_t bin = 0; bin < NOISE_KEY_BINS; ++bin) {
        bins[bin] += pass.tallies[0].bins[bin];
    }
    return true;
}

bool block_mean_range(const HostImage& part, std::ptrdiff_t side, double& lowest, double& highest,
                      const CallOptions& options)
{
    const std::lock_guard<std::mutex> hold(call_lock);
    CallState call{options};
    if (is_empty(part) || side <= 0) {
        return true;
    }
    NoisePass pass = start_noise_pass(call, part, 1);
    if (!run_noise_pass(call, part, pass, Counting::none, 0, side)) {
        return false;
    }
    lowest = std::min(lowest, pass.tallies[0].lowest_mean);
    highest = std::max(highest, pass.tallies[0].highest_mean);
    return true;
}

bool measure_image(const HostImage& image, ImageStatistics& statistics, const CallOptions& options)
{
    const std::lock_guard<std::mutex> hold(call_lock);
    CallState call{options};
    return estimate_statistics(call, image, statistics);
}

DefaultParameters default_parameters(const ImageStatistics& statistics, std::ptrdiff_t channels)
{
    const double relative = statistics.scale > 0.0 ? statistics.noise / statistics.scale : 0.0;
    // Each component of the gradient carries noise of this deviation, in
    // units of the image's: sqrt(sum([1 4 5 0 5 4 1].^2) * sum([1 4 6 4 1].^2)) / 512.
    const double gradient_noise_gain = std::sqrt(84.0 * 70.0) / 512.0;
    // The magnitude of noise alone is Rayleigh distributed; the strongest of
    // `channels` exceeds t with probability 1 - (1 - exp(-t^2 / 2))^channels.
    const double per_channel = std::pow(1.0 - FALSE_EDGE_RATE, 1.0 / static_cast<double>(std::max<std::ptrdiff_t>(channels, 1)));
    DefaultParameters defaults;
    defaults.threshold = statistics.noise * gradient_noise_gain * std::sqrt(-2.0 * std::log(1.0 - per_channel));
    defaults.x3 = std::min(std::max(X3_PER_ROOT_NOISE * std::sqrt(relative), X3_LEAST), X3_MOST);
    defaults.x4 = std::min(std::max(X4_PER_ROOT_NOISE * std::sqrt(relative), X4_LEAST), X4_MOST);
    return defaults;
}

bool settle_parameters(const HostImage& image, const double* threshold, const double* x3, const double* x4,
                       bool report, CallParameters& parameters, const CallOptions& options)
{
    parameters.statistics = {std::numeric_limits<double>::quiet_NaN(), 0.0};
    DefaultParameters defaults{0.0, 0.0, 0.0};
    if (threshold == nullptr || x3 == nullptr || x4 == nullptr || report) {
        if (!measure_image(image, parameters.statistics, options)) {
            return false;
        }
        defaults = default_parameters(parameters.statistics, image.channels);
    }
    parameters.threshold = threshold != nullptr ? *threshold : defaults.threshold;
    parameters.x3 = x3 != nullptr ? *x3 : defaults.x3;
    parameters.x4 = x4 != nullptr ? *x4 : defaults.x4;
    return true;
}

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
    const std::ptrdiff_t per_worker = 9 * line_stride + unit_values;

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
        const std::ptrdiff_t stride = block.out != nullptr ? block.stride : rows;
        if (!(threshold > 0.0)) {
            for (std::ptrdiff_t col = first_col; col < end_col; ++col) {
                std::fill(out + (col - first_col) * stride, out + (col - first_col) * stride + rows, 0.0);
            }
        } else {
            const std::ptrdiff_t last_col = image.cols - 1;
            const std::ptrdiff_t offset = block.first_row - first_smooth + 1;
            for (std::ptrdiff_t channel = 0; channel < image.channels; ++channel) {
                std::ptrdiff_t next_down = std::max<std::ptrdiff_t>(first_col - 3, 0);
                std::ptrdiff_t next_smooth = std::max<std::ptrdiff_t>(first_col - 1, 0);
                for (std::ptrdiff_t col = first_col; col < end_col; ++col) {
                    for (; next_smooth <= std::min(col + 1, last_col); ++next_smooth) {
                        for (; next_down <= std::min(next_smooth + 2, last_col); ++next_down) {
                            // x[i] holds row first_smooth - 2 + i.
                            const std::ptrdiff_t read_at = first_read - (first_smooth - 2);
                            const std::ptrdiff_t read_end = read_at + (end_read - first_read);
                            read_column(image, channel, next_down, first_read, end_read - first_read, x + read_at);
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

bool edge_map(const HostImage& image, double threshold, double* edges, const CallOptions& options)
{
    const std::lock_guard<std::mutex> hold(call_lock);
    CallState call{options};
    return make_edges(call, image, threshold, lane_kernels_or_plain(options.kernels).edges,
                      {0, image.rows, 0, image.cols, edges, image.rows, nullptr, nullptr});
}

}  // namespace lumasift

// Edge maps made from the image itself, and the defaults that follow its
// noise: what imlumasift and lumasift_edges use when the caller leaves the
// edges, the threshold or the widths out.
//
// The edge value of a pixel: each channel, as doubles, is smoothed with the
// binomial [1 4 6 4 1] down the columns and then along the rows, the border
// repeated outward; its gradient is the central difference along each
// dimension of the smoothed image, the border repeated; the magnitude is
// sqrt(across^2 + along^2) / 512 (the smoothing's 256 and the difference's
// 2), and the strongest channel counts, NaN losing to any number. The edge
// value is (100 * magnitude) / threshold, so the filter takes a pixel for an
// edge where its magnitude is at least 1.01 times the threshold.
//
// Every pixel's value is computed in that order wherever it is computed,
// whole or tile by tile, on any thread and any instruction set, so a tile's
// edges are bit for bit those of the whole map.
#ifndef LUMASIFT_EDGES_H
#define LUMASIFT_EDGES_H

#include <cstddef>
#include <cstdint>

#include "call.h"
#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

// What the defaults are derived from.
struct ImageStatistics {
    // The noise's standard deviation, in the image's units: the lower median
    // of |h| over every channel's pixels off the border where h is finite,
    // h being the second difference down the columns followed by the second
    // difference along the rows ([1 -2 1]' * [1 -2 1]), each |h| first
    // rounded to single precision; divided by 6 * 0.6745, since h has six
    // times the deviation of Gaussian noise and the median of |h| is 0.6745
    // of that. 0 when no h is finite.
    double noise;
    // The range of intensities the widths are measured against: the class's
    // range for integers, 1 for logical, and for floating point the range of
    // the finite means of the image's whole 4-by-4 blocks (as large as the
    // image allows when it is smaller), which noise hardly widens.
    double scale;
};

// The defaults, from the noise relative to the scale.
struct DefaultParameters {
    // Magnitude that noise alone exceeds at a pixel with the probability
    // FALSE_EDGE_RATE, in at least one of the channels.
    double threshold;
    // Widths that grow with the square root of the relative noise,
    // noise / scale, up to a limit: the best widths on noisy photographs
    // grow about that fast, and on a clean image they are small enough to
    // leave it as it is.
    double x3;
    double x4;
};

// Both exact, whatever the threads: the median is selected from counts, and
// the block means' range from minima and maxima. May throw std::bad_alloc
// before any work; false when the stop request ended the call.
bool measure_image(const HostImage& image, ImageStatistics& statistics, const CallOptions& options = {});

DefaultParameters default_parameters(const ImageStatistics& statistics, std::ptrdiff_t channels);

// What an imlumasift or lumasift_edges call goes by once the values its
// caller left out are filled in.
struct CallParameters {
    // The image's statistics where it was measured; NaN noise where not.
    ImageStatistics statistics;
    double threshold;
    double x3;
    double x4;
};

// Each of threshold, x3 and x4 is the value it points to, or its default
// where it is null (left out); a call that needs no such value passes NaN.
// The image is measured only for a default, or where `report` asks for its
// statistics. May throw std::bad_alloc; false when the stop request ended
// the measurement.
bool settle_parameters(const HostImage& image, const double* threshold, const double* x3, const double* x4,
                       bool report, CallParameters& parameters, const CallOptions& options = {});

// The same statistics gathered over parts of an image counted apart, such as
// a cluster's chunks, and added up: the exact counts of the noise estimate,
// and the block means' range, of which measure_image takes the median and
// the spread.
// - count_noise_keys adds to `bins` (NOISE_KEY_BINS of them) the counts of a
//   part's |h| by the upper half of their single-precision bit patterns
//   (`upper` negative), or by the lower half of those whose upper half is
//   `upper`. A part handed with one pixel more on each side where the image
//   goes on counts the h of exactly its own pixels off the image's border.
// - noise_of_key is the noise estimate whose lower median |h| has that bit
//   pattern.
// - block_mean_range widens [lowest, highest] by the finite means of the
//   part's whole side-by-side blocks, side being scale_block_side of the
//   whole image; the part must start on a whole block.
constexpr std::size_t NOISE_KEY_BINS = std::size_t{1} << 16;
bool count_noise_keys(const HostImage& part, long upper, std::uint64_t* bins, const CallOptions& options = {});
double noise_of_key(std::uint32_t key);
std::ptrdiff_t scale_block_side(std::ptrdiff_t rows, std::ptrdiff_t cols);
bool block_mean_range(const HostImage& part, std::ptrdiff_t side, double& lowest, double& highest,
                      const CallOptions& options = {});

// The edge values of rows [first_row, end_row) and columns [first_col,
// end_col) of the image, zero everywhere when the threshold is not positive.
// Reads as far beyond the block as the smoothing and the gradient need.
// Value (row, col) goes to out[(col - first_col) * stride + row - first_row];
// with a null `out`, to scratch of the thread that makes it, handed to
// `finished` while it is still at hand in the cache. Allocates its scratch
// on the calling thread before any work (it may throw std::bad_alloc);
// false when the call's stop request ended it.
struct EdgeBlock {
    std::ptrdiff_t first_row;
    std::ptrdiff_t end_row;
    std::ptrdiff_t first_col;
    std::ptrdiff_t end_col;
    double* out;
    std::ptrdiff_t stride;
    // Called on the thread that made them, when the values of columns
    // [first, end) are final: column col's start at values + (col - first) *
    // stride. May be null where `out` is given.
    void (*finished)(void* context, std::ptrdiff_t first, std::ptrdiff_t end, const double* values,
                     std::ptrdiff_t stride);
    void* context;
};

// Columns per unit of work of make_edges: enough that the columns a unit
// reads beyond its own cost little, few enough that its values stay in the
// cache and a stop request is answered at once.
constexpr std::ptrdiff_t EDGE_COLUMNS_PER_UNIT = 64;

struct EdgeKernels;
bool make_edges(CallState& call, const HostImage& image, double threshold, const EdgeKernels& kernels,
                const EdgeBlock& block);

// The whole edge map, rows x cols, column-major, on the kernels the options
// choose (the plainest lanes for the literal evaluation: the same bits).
// May throw std::bad_alloc before any work; false when the stop request
// ended the call.
bool edge_map(const HostImage& image, double threshold, double* edges, const CallOptions& options = {});

}  // namespace lumasift

#endif

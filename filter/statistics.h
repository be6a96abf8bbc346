// What the defaults follow: the image's noise, its intensity scale and how
// much texture it holds next to that noise, and the defaults themselves.
//
// The noise is read where texture cannot pass for it. The image is cut into
// 8-by-8 blocks aligned to its first row and column, channel by channel, and
// each block goes through the orthonormal two-dimensional DCT. Under white
// noise every coefficient carries the noise's deviation, independently of
// the others; texture fills some frequencies and leaves others nearly empty.
// The coefficients of frequency u + v >= 3 fall in two sets, u + v even and
// u + v odd. A block whose energy in one set is small is quiet there, and
// most likely in the other set too; since the noise of the two sets is
// independent, choosing blocks by one set's energy and reading the noise in
// the other does not bias the reading. Of the read set, only the frequencies
// that texture leaves emptiest count: those are chosen on the blocks of one
// colour of a checkerboard and read on the other colour's blocks, again so
// that the choice cannot favour low noise. The reading is the median |c| of
// what is left, over 0.6745. Blocks are first chosen as the tenth of the
// image quietest in the choosing set; then, given that first reading, as the
// blocks whose energy noise alone would reach 70% of the time.
//
// Everything is counted: each block's values depend on the block alone, in a
// fixed order, and what is gathered over the image are counts of them by the
// upper bits of their single-precision patterns. So the reading has the same
// bits whatever the threads, the tiles or the parts an image is counted in.
#ifndef LUMASIFT_STATISTICS_H
#define LUMASIFT_STATISTICS_H

#include <cstddef>
#include <cstdint>

#include "call.h"
#include "colour.h"
#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

struct ImageStatistics {
    // The noise's standard deviation, in the image's units; 0 when no block
    // reads any.
    double noise;
    // The range of intensities the widths are measured against: the class's
    // range for integers, 1 for logical, and for floating point the range of
    // the finite means of the image's whole 4-by-4 blocks (as large as the
    // image allows when it is smaller), which noise hardly widens.
    double scale;
    // The median over the blocks of their mean power at frequencies
    // 3 <= u + v <= 5, in units of the noise's variance: 1 where there is
    // nothing but noise, more with texture. NaN without noise.
    double texture;
    // The share of blocks whose mean power at frequencies 6 <= u + v <= 9
    // exceeds twice the noise's variance: fine texture. NaN without noise.
    double fine_texture;
    // The magnitude of the edge map's gradient that a quarter of the image's
    // pixels exceed, read at the four central pixels of each block counted:
    // how strong its own edges are, noise or none. NaN without blocks.
    double structure;
};

// The defaults, from the statistics.
struct DefaultParameters {
    // Magnitude that noise alone exceeds at a pixel with the probability
    // FALSE_EDGE_RATE, in at least one of the channels; at least a
    // hundredth of the intensity scale; and on a clean image, whose noise
    // reads below a hundredth of the scale, the image's structure, its
    // strongest quarter of gradients, giving way to the noise as it rises to
    // two hundredths.
    double threshold;
    double x3;
    double x4;
};

// Exact, whatever the threads. May throw std::bad_alloc before any work;
// false when the stop request ended the call.
bool measure_image(const HostImage& image, ImageStatistics& statistics, const CallOptions& options = {});

DefaultParameters default_parameters(const ImageStatistics& statistics, std::ptrdiff_t channels);

// A colour image's statistics (colour.h): the noise and the scale read in
// its stored colour channels, where clipping shows as the class's extremes,
// and each opponent channel's texture next to that noise.
bool measure_colour(const HostImage& image, ImageStatistics (&statistics)[COLOUR_CHANNELS],
                    const CallOptions& options = {});

// What one set of channels goes by: every channel of an image, or one
// opponent channel of a colour image.
struct ChannelParameters {
    // The statistics where they were measured; NaN where not.
    ImageStatistics statistics;
    double threshold;
    double x3;
    double x4;
};

// What an imlumasift or lumasift_edges call goes by once the values its
// caller left out are filled in: one set for every channel, or, smoothing
// as colour, a set for each opponent channel.
struct CallParameters {
    bool colour;
    ChannelParameters channel[COLOUR_CHANNELS];

    int sets() const { return colour ? COLOUR_CHANNELS : 1; }
};

// What the caller gave of a value: nothing (left out: the default), one
// value for every set of channels, or one for each set.
struct GivenValues {
    const double* values = nullptr;
    std::ptrdiff_t count = 0;

    bool left_out() const { return count == 0; }
    double for_set(int set) const { return values[count == 1 ? 0 : set]; }
};

inline GivenValues given_value(const double* value)
{
    return {value, value != nullptr ? 1 : 0};
}

// The sets of channels of a call on `image`: one, or an opponent channel
// each where `colour` asks for a colour image (holds_colour) to be
// smoothed as colour.
int parameter_sets(const HostImage& image, bool colour);

// Each of threshold, x3 and x4 is what was given (one value, or
// parameter_sets of them), or its default where left out; a call that needs
// no such value gives NaN. The image is measured only for a default, or
// where `report` asks for its statistics. May throw std::bad_alloc; false
// when the stop request ended the measurement.
bool settle_parameters(const HostImage& image, bool colour, const GivenValues& threshold, const GivenValues& x3,
                       const GivenValues& x4, bool report, CallParameters& parameters,
                       const CallOptions& options = {});

// The same statistics gathered over parts of an image read apart, such as a
// cluster's chunks. A part starts on a whole noise block (NOISE_BLOCK) of
// the image, and is read on the image's lattice, told where the part starts.
//  0. For floating-point images, measure_range over parts that start on a
//     whole block of scale_block_side gives the scale (scale_of) and the
//     image's extremes, which the lattice needs.
//  1. record_blocks keeps, for each block of a part that counts, all that
//     the readings count of it. The lattice keeps an image's records within
//     MOST_NOISE_BLOCKS or so, a few megabytes, so one pass over the parts
//     can send them all to one place.
//  2. statistics_of_records counts the image's records, in any order, and
//     gives its noise and texture. measure_image takes the same two steps
//     over the whole image.
constexpr std::ptrdiff_t NOISE_BLOCK = 8;

// The lowest and highest finite block mean (ImageStatistics::scale) and
// value of an image.
struct ImageRange {
    double lowest_mean;
    double highest_mean;
    double lowest_value;
    double highest_value;
};
double scale_of(const ImageRange& range);

// The blocks counted start every `step` pixels down and across from the
// image's start: 8, side by side, where the image has at least
// LEAST_NOISE_BLOCKS such blocks, and otherwise 4, 2 or 1, overlapping, the
// largest that gives as many (1 at the least), so that small images are read
// as well as they can be. With a step of 8, only every `stride`-th block
// down and across counts, the stride as small as keeps the count within
// MOST_NOISE_BLOCKS: beyond that many, more blocks would hardly sharpen the
// reading, and the counting would cost more than it is worth. Blocks holding
// a value at or beyond a clipping level are left out: noise clipped there is
// weaker than elsewhere, and such blocks would pass for the quietest. The
// levels are the class's extremes, or the image's own for floating point.
// A part starts at pixel (first_row, first_col) of the image, a multiple of
// NOISE_BLOCK, and with a step below 8 is the whole image.
constexpr double LEAST_NOISE_BLOCKS = 2048;
constexpr double MOST_NOISE_BLOCKS = 131072;
struct BlockLattice {
    std::ptrdiff_t step;
    std::ptrdiff_t stride;
    std::ptrdiff_t first_row;
    std::ptrdiff_t first_col;
    double clipped_below;
    double clipped_above;
};
// The whole image's lattice; `range` matters for floating-point classes only.
BlockLattice noise_lattice(std::ptrdiff_t rows, std::ptrdiff_t cols, std::ptrdiff_t channels, ElementClass type,
                           const ImageRange& range);
constexpr std::size_t KEY_BINS = 4096;
constexpr std::size_t READ_SLOTS = 30;

// What the readings count of one block: the keys of its energies
// and powers, of each set's |c| and of its central gradients, and its
// colour on the lattice's checkerboard. Keys are below KEY_BINS, so 16
// bits hold them.
constexpr int GRADIENTS_PER_BLOCK = 4;
struct BlockRecord {
    std::uint16_t energy_key[2];  // of its energy in set 0 and in set 1
    std::uint16_t power_key[2];   // of its mean power in the mid and the fine band
    std::uint16_t colour;
    std::uint16_t value_key[2][READ_SLOTS];  // of |c| of set 0's and set 1's coefficients
    std::uint16_t gradient_key[GRADIENTS_PER_BLOCK];  // of the gradient's magnitude at pixels 3 and 4 down and across
};
static_assert(KEY_BINS <= 65536, "keys fit a record's 16 bits");

// The records a part can give at most.
std::size_t most_block_records(const HostImage& part, const BlockLattice& lattice);
// Fills records[0, count) with the part's, in an order fixed by the part;
// `records` holds most_block_records.
bool record_blocks(const HostImage& part, const BlockLattice& lattice, BlockRecord* records, std::size_t& count,
                   const CallOptions& options = {});
// Fills in the noise and the texture measures; the scale is the caller's.
void statistics_of_records(const BlockRecord* records, std::size_t count, ImageStatistics& statistics);
// Fills in the texture measures and the structure next to the noise
// already there.
void texture_of_records(const BlockRecord* records, std::size_t count, ImageStatistics& statistics);
// The lattice an opponent channel's texture is read on: that of one
// channel, with no value taken for clipped, since a mixed value at the
// class's extremes says nothing of clipping.
BlockLattice texture_lattice(std::ptrdiff_t rows, std::ptrdiff_t cols);

std::ptrdiff_t scale_block_side(std::ptrdiff_t rows, std::ptrdiff_t cols);
// Widens `range` by the part's finite values and the finite means of its
// whole side-by-side blocks.
bool measure_range(const HostImage& part, std::ptrdiff_t side, ImageRange& range, const CallOptions& options = {});

}  // namespace lumasift

#endif

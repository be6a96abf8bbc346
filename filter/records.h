// The statistics of an image gathered over parts of it read apart, such as
// a cluster's chunks, with the bits of measure_image on the whole image. A
// part starts on a whole noise block (NOISE_BLOCK) of the image, and is read
// on the image's lattice, told where the part starts.
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
#ifndef LUMASIFT_RECORDS_H
#define LUMASIFT_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <limits>

#include "call.h"
#include "hidden.h"
#include "image.h"
#include "statistics.h"

namespace lumasift LUMASIFT_HIDDEN {

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
// The scale of an image of an integer or logical class, which no pixel
// changes; NaN for floating point, whose scale the range gives.
double class_scale(ElementClass type);

constexpr ImageRange EMPTY_RANGE = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};

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

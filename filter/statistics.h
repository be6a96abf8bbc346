// What the defaults follow: the image's noise, its intensity scale, how much
// texture it holds next to that noise, and its structure.
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

// Exact, whatever the threads. May throw std::bad_alloc before any work;
// false when the stop request ended the call.
bool measure_image(const HostImage& image, ImageStatistics& statistics, const CallOptions& options = {});

// A colour image's statistics (colour.h): the noise and the scale read in
// its stored colour channels, where clipping shows as the class's extremes,
// and each opponent channel's texture next to that noise.
bool measure_colour(const HostImage& image, ImageStatistics (&statistics)[COLOUR_CHANNELS],
                    const CallOptions& options = {});

}  // namespace lumasift

#endif

// Colour photographs smoothed as colour. The noise of a photograph's
// channels is white in any orthonormal basis, with the same deviation, but
// its content is not: most of the detail lies in the luminance, and the two
// opponent channels are smooth. Seen in the opponent basis, each channel
// gets the widths and the edges its own texture asks for, where the stored
// channels would all get those of the most detailed. The basis is read
// through HostImage::mix, so no copy of the image is made, and the smoothed
// channels go back through the inverse as the results are written.
#ifndef LUMASIFT_COLOUR_H
#define LUMASIFT_COLOUR_H

#include <cstddef>

#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

constexpr int COLOUR_CHANNELS = 3;

// The three rows of a basis, each a channel's mix of the stored three.
struct ColourBasis {
    ChannelMix row[COLOUR_CHANNELS];
};

// Rows (1, 1, 1) / sqrt(3), (1, 0, -1) / sqrt(2), (1, -2, 1) / sqrt(6): the
// luminance, red against blue, green against magenta. Each entry is the
// double nearest, which 1.0 / std::sqrt(3.0) and its kin are not: written
// out, so that every build reads the same basis (1 / sqrt(3) is
// 0.57735026918962573, 1 / sqrt(2) 0.70710678118654757, 1 / sqrt(6)
// 0.40824829046386302, 2 / sqrt(6) 0.81649658092772603).
constexpr ColourBasis OPPONENT_BASIS = {{
    {{0x1.279a74590331cp-1, 0x1.279a74590331cp-1, 0x1.279a74590331cp-1}},
    {{0x1.6a09e667f3bcdp-1, 0.0, -0x1.6a09e667f3bcdp-1}},
    {{0x1.a20bd700c2c3ep-2, -0x1.a20bd700c2c3ep-1, 0x1.a20bd700c2c3ep-2}},
}};

constexpr ColourBasis transpose(const ColourBasis& basis)
{
    ColourBasis transposed{};
    for (int row = 0; row < COLOUR_CHANNELS; ++row) {
        for (int col = 0; col < COLOUR_CHANNELS; ++col) {
            transposed.row[col].weight[row] = basis.row[row].weight[col];
        }
    }
    return transposed;
}

// The transpose, which undoes an orthonormal basis: stored channel k from
// the three smoothed.
constexpr ColourBasis OPPONENT_INVERSE = transpose(OPPONENT_BASIS);

// Whether an image of this many channels can be smoothed as colour: red,
// green and blue, and alpha as a fourth, which is passed through.
inline bool holds_colour(std::ptrdiff_t channels)
{
    return channels == 3 || channels == 4;
}

// Stored channels 0 to 2 of a colour image, without alpha.
HostImage stored_colour(const HostImage& image);
// The three channels in the opponent basis; with `channel`, that one alone.
HostImage opponent_channels(const HostImage& image);
HostImage opponent_channel(const HostImage& image, int channel);

}  // namespace lumasift

#endif

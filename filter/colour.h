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

// Rows (1, 1, 1) / sqrt(3), (1, 0, -1) / sqrt(2), (1, -2, 1) / sqrt(6): the
// luminance, red against blue, green against magenta.
extern const ChannelMix OPPONENT_BASIS[COLOUR_CHANNELS];
// The transpose, which undoes it: stored channel k from the three smoothed.
extern const ChannelMix OPPONENT_INVERSE[COLOUR_CHANNELS];

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

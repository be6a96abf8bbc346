#include "colour.h"

namespace lumasift LUMASIFT_HIDDEN {

HostImage stored_colour(const HostImage& image)
{
    HostImage colour = image;
    colour.channels = COLOUR_CHANNELS;
    return colour;
}

HostImage opponent_channels(const HostImage& image)
{
    HostImage opponent = stored_colour(image);
    opponent.mix = OPPONENT_BASIS.row;
    return opponent;
}

HostImage opponent_channel(const HostImage& image, int channel)
{
    HostImage opponent = stored_colour(image);
    opponent.channels = 1;
    opponent.mix = &OPPONENT_BASIS.row[channel];
    return opponent;
}

}  // namespace lumasift

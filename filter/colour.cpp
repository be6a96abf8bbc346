#include "colour.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// 1 / sqrt(3), 1 / sqrt(2), 1 / sqrt(6) and 2 / sqrt(6), each the double
// nearest: fixed, so that every build reads the same basis.
constexpr double THIRD = 0.5773502691896258;
constexpr double HALF = 0.7071067811865475;
constexpr double SIXTH = 0.4082482904638631;
constexpr double TWO_SIXTHS = 0.8164965809277261;

}  // namespace

const ChannelMix OPPONENT_BASIS[COLOUR_CHANNELS] = {
    {{THIRD, THIRD, THIRD}},
    {{HALF, 0.0, -HALF}},
    {{SIXTH, -TWO_SIXTHS, SIXTH}},
};

const ChannelMix OPPONENT_INVERSE[COLOUR_CHANNELS] = {
    {{THIRD, HALF, SIXTH}},
    {{THIRD, 0.0, -TWO_SIXTHS}},
    {{THIRD, -HALF, SIXTH}},
};

HostImage stored_colour(const HostImage& image)
{
    HostImage colour = image;
    colour.channels = COLOUR_CHANNELS;
    return colour;
}

HostImage opponent_channels(const HostImage& image)
{
    HostImage opponent = stored_colour(image);
    opponent.mix = OPPONENT_BASIS;
    return opponent;
}

HostImage opponent_channel(const HostImage& image, int channel)
{
    HostImage opponent = stored_colour(image);
    opponent.channels = 1;
    opponent.mix = &OPPONENT_BASIS[channel];
    return opponent;
}

}  // namespace lumasift

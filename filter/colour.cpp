#include "colour.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// 1 / sqrt(3), 1 / sqrt(2), 1 / sqrt(6) and 2 / sqrt(6), each the double
// nearest, which 1.0 / std::sqrt(3.0) and its kin are not: written out, so
// that every build reads the same basis.
constexpr double THIRD = 0x1.279a74590331cp-1;       // 0.57735026918962573
constexpr double HALF = 0x1.6a09e667f3bcdp-1;        // 0.70710678118654757
constexpr double SIXTH = 0x1.a20bd700c2c3ep-2;       // 0.40824829046386302
constexpr double TWO_SIXTHS = 0x1.a20bd700c2c3ep-1;  // 0.81649658092772603

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

// What a call of imlumasift or lumasift_edges goes by: the values its
// caller gave, and the defaults (defaults.h) for those left out, one set
// for every channel or, as colour, one for each opponent channel.
#ifndef LUMASIFT_PARAMETERS_H
#define LUMASIFT_PARAMETERS_H

#include <cstddef>

#include "call.h"
#include "colour.h"
#include "hidden.h"
#include "image.h"
#include "statistics.h"

namespace lumasift LUMASIFT_HIDDEN {

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

// The same from statistics measured before (one for each set of channels),
// or null where the image was not measured: then every value must be given.
// `channels` is the image's number, which the default threshold of
// channels kept apart follows.
CallParameters parameters_of(const ImageStatistics* statistics, bool colour, std::ptrdiff_t channels,
                             const GivenValues& threshold, const GivenValues& x3, const GivenValues& x4);

}  // namespace lumasift

#endif

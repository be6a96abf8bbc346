#include "parameters.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "defaults.h"

namespace lumasift LUMASIFT_HIDDEN {

int parameter_sets(const HostImage& image, bool colour)
{
    return colour && holds_colour(image.channels) ? COLOUR_CHANNELS : 1;
}

bool settle_parameters(const HostImage& image, bool colour, const GivenValues& threshold, const GivenValues& x3,
                       const GivenValues& x4, bool report, CallParameters& parameters, const CallOptions& options)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const bool as_colour = parameter_sets(image, colour) == COLOUR_CHANNELS;
    const bool measured = threshold.left_out() || x3.left_out() || x4.left_out() || report;
    ImageStatistics statistics[COLOUR_CHANNELS];
    std::fill(std::begin(statistics), std::end(statistics), ImageStatistics{nan, 0.0, nan, nan, nan});
    if (measured && !(as_colour ? measure_colour(image, statistics, options)
                                : measure_image(image, statistics[0], options))) {
        return false;
    }
    parameters = parameters_of(measured ? statistics : nullptr, as_colour, image.channels, threshold, x3, x4);
    return true;
}

CallParameters parameters_of(const ImageStatistics* statistics, bool colour, std::ptrdiff_t channels,
                             const GivenValues& threshold, const GivenValues& x3, const GivenValues& x4)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    CallParameters parameters;
    parameters.colour = colour;
    for (int set = 0; set < parameters.sets(); ++set) {
        ChannelParameters& channel = parameters.channel[set];
        channel.statistics = statistics != nullptr ? statistics[set] : ImageStatistics{nan, 0.0, nan, nan, nan};
        const DefaultParameters defaults = statistics != nullptr
                                               ? default_parameters(statistics[set], colour ? 1 : channels)
                                               : DefaultParameters{0.0, 0.0, 0.0};
        channel.threshold = threshold.left_out() ? defaults.threshold : threshold.for_set(set);
        channel.x3 = x3.left_out() ? defaults.x3 : x3.for_set(set);
        channel.x4 = x4.left_out() ? defaults.x4 : x4.for_set(set);
    }
    return parameters;
}

}  // namespace lumasift

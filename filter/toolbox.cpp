#include "toolbox.h"

#include <cctype>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>

#include "constants.h"
#include "edges.h"
#include "tiles.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

constexpr double NOT_USED = std::numeric_limits<double>::quiet_NaN();

}  // namespace

namespace {

// One value, or one for each set of channels.
bool fits_sets(const GivenValues& given, int sets)
{
    return given.count == 0 || given.count == 1 || given.count == sets;
}

}  // namespace

ArgumentFault check_smoothing(const HostImage* image, bool colour, bool edges_given, const HostImage* edges,
                              bool widths_read, const GivenValues& x3, const GivenValues& x4)
{
    if (image == nullptr) {
        return ArgumentFault::image;
    }
    // A colour image's edges may also come one for each opponent channel.
    const int sets = parameter_sets(*image, colour);
    if (edges_given && (edges == nullptr || edges->rows != image->rows || edges->cols != image->cols ||
                        (edges->channels != 1 && edges->channels != image->channels && edges->channels != sets))) {
        return ArgumentFault::edges;
    }
    if (!widths_read || !fits_sets(x3, sets) || !fits_sets(x4, sets)) {
        return ArgumentFault::widths;
    }
    // The default is never too wide: only a given x3 can be.
    const double* x3_widest = widest(x3);
    if (x3_widest != nullptr && !tiles_fit(image->rows, image->cols, *x3_widest)) {
        return ArgumentFault::window_too_wide;
    }
    return ArgumentFault::none;
}

ArgumentFault check_edges(const HostImage* image, bool colour, bool threshold_read, const GivenValues& threshold)
{
    if (image == nullptr) {
        return ArgumentFault::image;
    }
    if (!threshold_read || !fits_sets(threshold, parameter_sets(*image, colour))) {
        return ArgumentFault::threshold;
    }
    return ArgumentFault::none;
}

ArgumentFault take_choice(const char* name, const double* value, NamedChoices& choices)
{
    const auto named = [name](const char* choice) {
        for (std::size_t k = 0;; ++k) {
            if (std::tolower(static_cast<unsigned char>(name[k])) != choice[k]) {
                return false;
            }
            if (choice[k] == '\0') {
                return true;
            }
        }
    };
    if (name == nullptr || value == nullptr || std::isnan(*value) || !(named("colour") || named("color"))) {
        return ArgumentFault::choice;
    }
    choices.colour = *value != 0.0;
    return ArgumentFault::none;
}

const double* widest(const GivenValues& x3)
{
    const double* widest = nullptr;
    for (std::ptrdiff_t k = 0; k < x3.count; ++k) {
        // NaN widths are no wider than any other: the filter takes them as its own.
        if (widest == nullptr || x3.values[k] > *widest || std::isnan(*widest)) {
            widest = &x3.values[k];
        }
    }
    return widest;
}

FaultReport fault_report(ArgumentFault fault, const char* call_form, const HostImage* image, const double* x3)
{
    FaultReport report{"", ""};
    char* const text = report.message;
    const std::size_t size = sizeof report.message;
    const std::ptrdiff_t rows = image != nullptr ? image->rows : 0;
    const std::ptrdiff_t cols = image != nullptr ? image->cols : 0;
    switch (fault) {
    case ArgumentFault::none:
        break;
    case ArgumentFault::arguments:
        report.identifier = "lumasift:arguments";
        std::snprintf(text, size, "Call as %s.", call_form);
        break;
    case ArgumentFault::image:
        report.identifier = "lumasift:image";
        std::snprintf(text, size, "I must be a real, full numeric or logical M-by-N or M-by-N-by-C array.");
        break;
    case ArgumentFault::edges:
        report.identifier = "lumasift:edges";
        std::snprintf(text, size,
                      "E must be left out or a real, full numeric or logical %td-by-%td or %td-by-%td-by-%td array, "
                      "the size of I or of one channel of it, or for a colour image one for each of its three "
                      "channels.",
                      rows, cols, rows, cols, image != nullptr ? image->channels : 0);
        break;
    case ArgumentFault::widths:
        report.identifier = "lumasift:width";
        std::snprintf(text, size,
                      "x3 and x4 must be left out or real double scalars, or one for each channel of a colour "
                      "image smoothed as colour.");
        break;
    case ArgumentFault::threshold:
        report.identifier = "lumasift:threshold";
        std::snprintf(text, size,
                      "The threshold must be left out or a real double scalar, or one for each channel of a colour "
                      "image smoothed as colour.");
        break;
    case ArgumentFault::choice:
        report.identifier = "lumasift:choice";
        std::snprintf(text, size, "Name-value pairs may follow the arguments: 'Colour' with true or false.");
        break;
    case ArgumentFault::window_too_wide:
        report.identifier = "lumasift:windowTooWide";
        std::snprintf(text, size,
                      "x3 = %g gives a window of half-width %g, too wide to tile a %td-by-%td image: the "
                      "half-width trunc(3*x3 + 1) may be at most %d.",
                      *x3, std::trunc(window_radius_for(*x3)), rows, cols, widest_tiled_reach());
        break;
    }
    return report;
}

bool settle_smoothing(const HostImage& image, bool colour, bool edges_given, const GivenValues& x3,
                      const GivenValues& x4, bool report, CallParameters& parameters, const CallOptions& options,
                      const GivenValues& threshold)
{
    return settle_parameters(image, colour, edges_given ? given_value(&NOT_USED) : threshold, x3, x4, report,
                             parameters, options);
}

bool settle_edges(const HostImage& image, bool colour, const GivenValues& threshold, bool report,
                  CallParameters& parameters, const CallOptions& options)
{
    return settle_parameters(image, colour, threshold, given_value(&NOT_USED), given_value(&NOT_USED), report,
                             parameters, options);
}

bool make_edge_maps(const HostImage& image, const CallParameters& parameters, double* edges, const Layout& layout,
                    const CallOptions& options)
{
    if (!parameters.colour) {
        return edge_map(image, parameters.channel[0].threshold, edges, layout, options);
    }
    for (int channel = 0; channel < COLOUR_CHANNELS; ++channel) {
        if (!edge_map(opponent_channel(image, channel), parameters.channel[channel].threshold,
                      edges + channel * layout.channel_step, layout, options)) {
            return false;
        }
    }
    return true;
}

bool smooth_image(const HostImage& image, const HostImage* edges, const CallParameters& parameters, void* result,
                  const Layout& result_layout, const CallOptions& options, const PixelRegion* kept)
{
    const TiledImage tiled{image,
                           edges != nullptr ? edges->values : nullptr,
                           edges != nullptr ? edges->value_class : ElementClass::float64,
                           edges != nullptr && edges->channels > 1,
                           edges != nullptr ? edges->layout : image.layout,
                           result,
                           result_layout,
                           parameters.channel[0].threshold,
                           kept};
    if (!parameters.colour) {
        return filter_tiled(tiled, parameters.channel[0].x3, parameters.channel[0].x4, options);
    }
    ChannelWidths widths[COLOUR_CHANNELS];
    for (int channel = 0; channel < COLOUR_CHANNELS; ++channel) {
        const ChannelParameters& set = parameters.channel[channel];
        widths[channel] = {set.x3, set.x4, set.threshold};
    }
    return filter_colour_tiled(tiled, widths, options);
}

namespace {

// A value for each set of channels, or nothing where none was used.
template <class Value>
InfoField per_set(const char* name, const CallParameters& parameters, const Value& value_of)
{
    InfoField field{name, 0, 0, {}};
    const int sets = parameters.sets();
    for (int set = 0; set < sets; ++set) {
        field.values[set] = value_of(parameters.channel[set]);
        if (!std::isnan(field.values[set])) {
            field.rows = 1;
            field.cols = sets;
        }
    }
    return field;
}

InfoField one_value(const char* name, double value)
{
    InfoField field{name, std::isnan(value) ? 0 : 1, std::isnan(value) ? 0 : 1, {value}};
    return field;
}

// The rows of the basis the channels were smoothed in, if any.
InfoField basis(const CallParameters& parameters)
{
    InfoField field{"basis", 0, 0, {}};
    if (parameters.colour) {
        field.rows = field.cols = COLOUR_CHANNELS;
        for (int row = 0; row < COLOUR_CHANNELS; ++row) {
            for (int col = 0; col < COLOUR_CHANNELS; ++col) {
                field.values[col * COLOUR_CHANNELS + row] = OPPONENT_BASIS.row[row].weight[col];
            }
        }
    }
    return field;
}

}  // namespace

void smoothing_info(const CallParameters& parameters, InfoField (&fields)[SMOOTHING_INFO_FIELDS])
{
    const ImageStatistics& statistics = parameters.channel[0].statistics;
    const InfoField filled[] = {basis(parameters),
                                one_value("noise", statistics.noise),
                                one_value("scale", statistics.scale),
                                per_set("texture", parameters, [](const ChannelParameters& set) { return set.statistics.texture; }),
                                per_set("fine_texture", parameters, [](const ChannelParameters& set) { return set.statistics.fine_texture; }),
                                per_set("structure", parameters, [](const ChannelParameters& set) { return set.statistics.structure; }),
                                per_set("threshold", parameters, [](const ChannelParameters& set) { return set.threshold; }),
                                per_set("x3", parameters, [](const ChannelParameters& set) { return set.x3; }),
                                per_set("x4", parameters, [](const ChannelParameters& set) { return set.x4; })};
    std::copy(std::begin(filled), std::end(filled), fields);
}

void edges_info(const CallParameters& parameters, InfoField (&fields)[EDGES_INFO_FIELDS])
{
    const ImageStatistics& statistics = parameters.channel[0].statistics;
    const InfoField filled[] = {basis(parameters), one_value("noise", statistics.noise),
                                one_value("scale", statistics.scale),
                                per_set("structure", parameters, [](const ChannelParameters& set) { return set.statistics.structure; }),
                                per_set("threshold", parameters, [](const ChannelParameters& set) { return set.threshold; })};
    std::copy(std::begin(filled), std::end(filled), fields);
}

}  // namespace lumasift

#include "toolbox.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <type_traits>

#include "constants.h"
#include "convert.h"
#include "edges.h"
#include "tiles.h"
#include "wedge.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

constexpr double NOT_USED = std::numeric_limits<double>::quiet_NaN();

constexpr const char* WIDTHS_LEFT_OUT = "follows the image's noise and texture";

const DeclaredArgument IMLUMASIFT_ARGUMENTS[] = {
    {IMAGE, "I", nullptr, "image", ArgumentKind::image, true, true,
     "Image: real, full numeric or logical, M-by-N or M-by-N-by-C, of any size", nullptr},
    {EDGES, "E", nullptr, "edges", ArgumentKind::edges, true, false,
     "Edge map: the size of I or of one channel of it; above 100 after truncation, or true, marks an edge",
     "the edges of lumasift_edges(I), made tile by tile"},
    {X3, "x3", nullptr, "sigma_near", ArgumentKind::widths, true, false,
     "Width in front of edges, which sets the window's half-width trunc(3*x3 + 1)", WIDTHS_LEFT_OUT},
    {X4, "x4", nullptr, "sigma_far", ArgumentKind::widths, true, false, "Width on and behind edges", WIDTHS_LEFT_OUT},
    {THRESHOLD, "Threshold", nullptr, "threshold", ArgumentKind::thresholds, false, false,
     "Threshold of the edges made where E is left out, in the units of I", "follows the image's noise"},
    {COLOUR, "Colour", "Color", "colour", ArgumentKind::flag, false, false,
     "Smooth a colour image (three channels, or four with alpha) as colour, or its channels apart", "true"},
    {THREADS, "Threads", nullptr, "threads", ArgumentKind::thread_count, false, false,
     "Threads to run on", "0: as many as the work justifies"},
};

const DeclaredArgument EDGES_ARGUMENTS[] = {
    {IMAGE, "I", nullptr, "image", ArgumentKind::image, true, true,
     "Image: real, full numeric or logical, M-by-N or M-by-N-by-C, of any size", nullptr},
    {THRESHOLD, "threshold", nullptr, "threshold", ArgumentKind::thresholds, true, false,
     "Gradient magnitude that becomes 100, in the units of I", "follows the image's noise"},
    {COLOUR, "Colour", "Color", "colour", ArgumentKind::flag, false, false,
     "A map for each opponent channel of a colour image, or one for all its channels", "true"},
    {THREADS, "Threads", nullptr, "threads", ArgumentKind::thread_count, false, false,
     "Threads to run on", "0: as many as the work justifies"},
};

const char* kind_text(ArgumentKind kind)
{
    switch (kind) {
    case ArgumentKind::image: return "a real, full numeric or logical M-by-N or M-by-N-by-C array";
    case ArgumentKind::edges: return "left out or a real, full numeric or logical array";
    case ArgumentKind::widths:
        return "left out or real numbers: one, or one for each opponent channel of a colour image smoothed as colour";
    case ArgumentKind::thresholds:
        return "left out or positive real numbers: one, or one for each opponent channel of a colour image smoothed "
               "as colour";
    case ArgumentKind::flag: return "true or false";
    case ArgumentKind::thread_count: return "a non-negative integer, 0 for as many threads as the work justifies";
    }
    return "";
}

// One value, or one for each set of channels.
bool fits_sets(const Argument& argument, int sets)
{
    return !argument.given || (argument.read && (argument.count == 1 || argument.count == sets));
}

const DeclaredArgument* declared_argument(const Operation& operation, ArgumentRole role)
{
    for (int a = 0; a < operation.count; ++a) {
        if (operation.arguments[a].role == role) {
            return &operation.arguments[a];
        }
    }
    return nullptr;
}

bool colour_of(const CallArguments& arguments)
{
    const Argument& colour = arguments.role[COLOUR];
    return !colour.given || colour.values[0] != 0.0;
}

// The widest window given, which a window_too_wide fault names.
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

bool is_edges_call(const Operation& operation)
{
    return &operation == &LUMASIFT_EDGES_CALL;
}

}  // namespace

const Operation IMLUMASIFT_CALL{"imlumasift", IMLUMASIFT_ARGUMENTS, static_cast<int>(std::size(IMLUMASIFT_ARGUMENTS)),
                                "[J, info]", 9};
const Operation LUMASIFT_EDGES_CALL{"lumasift_edges", EDGES_ARGUMENTS, static_cast<int>(std::size(EDGES_ARGUMENTS)),
                                    "[E, info]", 5};
const Operation* const OPERATIONS[2] = {&IMLUMASIFT_CALL, &LUMASIFT_EDGES_CALL};

CallForm module_call_form(const Operation& operation)
{
    CallForm form;
    std::snprintf(form.text, sizeof form.text, "%s = %s_mex(...), with the arguments of %s", operation.results,
                  operation.name, operation.name);
    return form;
}

bool names_argument(const char* text, const DeclaredArgument& argument)
{
    const auto same = [text](const char* name) {
        for (std::size_t k = 0; name != nullptr; ++k) {
            const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
            if (lower(text[k]) != lower(name[k])) {
                return false;
            }
            if (name[k] == '\0') {
                return true;
            }
        }
        return false;
    };
    return same(argument.name) || same(argument.alias);
}

void take_numbers(ArgumentKind kind, const HostImage& array, Argument& argument)
{
    argument.count = array.rows * array.cols * array.channels;
    argument.read = array.values != nullptr || argument.count == 0;
    if (array.value_class == ElementClass::logical && kind != ArgumentKind::flag) {
        argument.read = false;
    }
    if (!argument.read) {
        return;
    }
    // In the order of the elements: down the columns, then across, then
    // along the channels, whatever the layout.
    with_element_type(array.value_class, [&](auto* type) {
        using T = std::remove_pointer_t<decltype(type)>;
        const T* elements = static_cast<const T*>(array.values);
        for (std::ptrdiff_t k = 0; k < argument.count && k < COLOUR_CHANNELS; ++k) {
            const std::ptrdiff_t row = k % array.rows;
            const std::ptrdiff_t col = k / array.rows % array.cols;
            const std::ptrdiff_t channel = k / (array.rows * array.cols);
            argument.values[k] = as_double(elements[offset_of(array.layout, row, col, channel)]);
        }
    });
}

CallFault check_call(const Operation& operation, const CallArguments& arguments)
{
    const Argument& image = arguments.role[IMAGE];
    const auto fault = [&operation](ArgumentFault fault, ArgumentRole role) {
        return CallFault{fault, declared_argument(operation, role)};
    };
    if (!image.given || !image.read || !image.shaped) {
        return fault(ArgumentFault::image, IMAGE);
    }
    const Argument& colour = arguments.role[COLOUR];
    if (colour.given && !(colour.read && colour.count == 1 && !std::isnan(colour.values[0]))) {
        return fault(ArgumentFault::choice, COLOUR);
    }
    const Argument& threads = arguments.role[THREADS];
    if (threads.given && !(threads.read && threads.count == 1 && threads.values[0] >= 0.0 &&
                           threads.values[0] <= INT_MAX && std::trunc(threads.values[0]) == threads.values[0])) {
        return fault(ArgumentFault::choice, THREADS);
    }
    // A colour image's edges may also come one for each opponent channel.
    const int sets = parameter_sets(image.image, colour_of(arguments));
    const Argument& edges = arguments.role[EDGES];
    const HostImage& map = edges.image;
    if (edges.given && !(edges.read && edges.shaped && map.rows == image.image.rows && map.cols == image.image.cols &&
                         (map.channels == 1 || map.channels == image.image.channels || map.channels == sets))) {
        return fault(ArgumentFault::edges, EDGES);
    }
    for (const ArgumentRole role : {X3, X4}) {
        if (!fits_sets(arguments.role[role], sets)) {
            return fault(ArgumentFault::widths, role);
        }
    }
    const Argument& threshold = arguments.role[THRESHOLD];
    if (!fits_sets(threshold, sets) ||
        (threshold.given && !std::all_of(threshold.values, threshold.values + threshold.count,
                                         [](double t) { return t > 0.0; }))) {
        return fault(ArgumentFault::threshold, THRESHOLD);
    }
    if (edges.given && threshold.given) {
        return fault(ArgumentFault::edges_and_threshold, THRESHOLD);
    }
    // The default is never too wide: only a given x3 can be.
    const double* x3_widest = widest(arguments.role[X3].given_values());
    if (x3_widest != nullptr && !tiles_fit(image.image.rows, image.image.cols, *x3_widest)) {
        return fault(ArgumentFault::window_too_wide, X3);
    }
    return {ArgumentFault::none, nullptr};
}

FaultReport fault_report(const Operation& operation, const CallFault& fault, const CallArguments& arguments,
                         const char* host_form, bool keywords)
{
    FaultReport report{"", "", false};
    char* const text = report.message;
    const std::size_t size = sizeof report.message;
    const HostImage& image = arguments.role[IMAGE].image;
    const bool image_read = arguments.role[IMAGE].given && arguments.role[IMAGE].read;
    const std::ptrdiff_t rows = image_read ? image.rows : 0;
    const std::ptrdiff_t cols = image_read ? image.cols : 0;
    const Argument* argument = fault.argument != nullptr ? &arguments.role[fault.argument->role] : nullptr;
    report.wrong_type = argument != nullptr && argument->given && !argument->read;
    // Python names its arguments by their keywords (image, edges, sigma_near).
    const auto named = [keywords](const DeclaredArgument& declared) {
        return keywords ? declared.keyword : declared.name;
    };
    const char* const image_name = named(*declared_argument(operation, IMAGE));
    switch (fault.fault) {
    case ArgumentFault::none:
        break;
    case ArgumentFault::arguments:
        report.identifier = "lumasift:arguments";
        std::snprintf(text, size, "Call as %s.", host_form);
        break;
    case ArgumentFault::image:
        report.identifier = "lumasift:image";
        std::snprintf(text, size, "%s must be %s.", image_name, kind_text(ArgumentKind::image));
        break;
    case ArgumentFault::edges:
        report.identifier = "lumasift:edges";
        std::snprintf(text, size,
                      "%s must be left out or a real, full numeric or logical %td-by-%td or %td-by-%td-by-%td array, "
                      "the size of %s or of one channel of it, or for a colour image one for each of its three "
                      "channels.",
                      named(*fault.argument), rows, cols, rows, cols, image_read ? image.channels : 0, image_name);
        break;
    case ArgumentFault::widths:
        report.identifier = "lumasift:width";
        std::snprintf(text, size, "%s must be %s.", named(*fault.argument), kind_text(fault.argument->kind));
        break;
    case ArgumentFault::threshold:
        report.identifier = "lumasift:threshold";
        std::snprintf(text, size, "The threshold must be %s.", kind_text(ArgumentKind::thresholds));
        break;
    case ArgumentFault::edges_and_threshold:
        report.identifier = "lumasift:threshold";
        std::snprintf(text, size, "Give %s or the threshold, not both: the threshold makes the edges.",
                      named(*declared_argument(operation, EDGES)));
        break;
    case ArgumentFault::choice: {
        report.identifier = "lumasift:choice";
        if (fault.argument != nullptr) {
            std::snprintf(text, size, keywords ? "%s must be %s." : "'%s' must be %s.", named(*fault.argument),
                          kind_text(fault.argument->kind));
            break;
        }
        int written = std::snprintf(text, size, "Name-value pairs may follow the arguments:");
        const char* separator = " ";
        for (int a = 0; a < operation.count; ++a) {
            const DeclaredArgument& named = operation.arguments[a];
            if (!named.positional && written >= 0 && static_cast<std::size_t>(written) < size) {
                written += std::snprintf(text + written, size - written, "%s'%s', %s", separator, named.name,
                                         kind_text(named.kind));
                separator = "; ";
            }
        }
        if (written >= 0 && static_cast<std::size_t>(written) < size) {
            std::snprintf(text + written, size - written, ".");
        }
        break;
    }
    case ArgumentFault::window_too_wide: {
        report.identifier = "lumasift:windowTooWide";
        const double x3 = *widest(arguments.role[X3].given_values());
        const char* const width_name = named(*fault.argument);
        std::snprintf(text, size,
                      "%s = %g gives a window of half-width %g, too wide to tile a %td-by-%td image: the "
                      "half-width trunc(3*%s + 1) may be at most %d.",
                      width_name, x3, std::trunc(window_radius_for(x3)), rows, cols, width_name,
                      widest_tiled_reach());
        break;
    }
    }
    return report;
}

CallOptions call_options(const CallArguments& arguments, CallOptions host_options)
{
    if (arguments.role[THREADS].given) {
        host_options.threads = static_cast<int>(arguments.role[THREADS].values[0]);
    }
    return host_options;
}

bool settle_call(const Operation& operation, const CallArguments& arguments, bool report, CallParameters& parameters,
                 const CallOptions& options)
{
    const HostImage& image = arguments.role[IMAGE].image;
    const bool colour = colour_of(arguments);
    const GivenValues not_used = given_value(&NOT_USED);
    if (is_edges_call(operation)) {
        return settle_parameters(image, colour, arguments.role[THRESHOLD].given_values(), not_used, not_used, report,
                                 parameters, options);
    }
    // Given E, the call makes no edges and needs no threshold.
    const GivenValues threshold = arguments.role[EDGES].given ? not_used : arguments.role[THRESHOLD].given_values();
    return settle_parameters(image, colour, threshold, arguments.role[X3].given_values(),
                             arguments.role[X4].given_values(), report, parameters, options);
}

ResultShape result_shape(const Operation& operation, const CallArguments& arguments, const CallParameters& parameters)
{
    const HostImage& image = arguments.role[IMAGE].image;
    if (is_edges_call(operation)) {
        return {ElementClass::float64, image.rows, image.cols, parameters.sets(), false};
    }
    return {result_class(image.value_class), image.rows, image.cols, image.channels, true};
}

bool run_call(const Operation& operation, const CallArguments& arguments, const CallParameters& parameters,
              void* result, const Layout& layout, const CallOptions& options, const PixelRegion* kept)
{
    const HostImage& image = arguments.role[IMAGE].image;
    if (!is_edges_call(operation)) {
        const Argument& edges = arguments.role[EDGES];
        return smooth_block(image, edges.given ? &edges.image : nullptr, parameters, result, layout, options, kept);
    }
    if (!parameters.colour) {
        return edge_map(image, parameters.channel[0].threshold, static_cast<double*>(result), layout, options);
    }
    for (int channel = 0; channel < COLOUR_CHANNELS; ++channel) {
        if (!edge_map(opponent_channel(image, channel), parameters.channel[channel].threshold,
                      static_cast<double*>(result) + channel * layout.channel_step, layout, options)) {
            return false;
        }
    }
    return true;
}

bool smooth_block(const HostImage& image, const HostImage* edges, const CallParameters& parameters, void* result,
                  const Layout& layout, const CallOptions& options, const PixelRegion* kept)
{
    const TiledImage tiled{image,
                           edges != nullptr ? edges->values : nullptr,
                           edges != nullptr ? edges->value_class : ElementClass::float64,
                           edges != nullptr && edges->channels > 1,
                           edges != nullptr ? edges->layout : image.layout,
                           result,
                           layout,
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

std::ptrdiff_t block_halo(const GivenValues& x3, bool makes_edges)
{
    const double* x3_widest = widest(x3);
    const int reach = x3_widest != nullptr ? window_reach(window_radius_for(*x3_widest), INT_MAX - 1, 1) : -1;
    return (reach > 0 ? reach : 0) + 1 + (makes_edges ? EDGE_CONTEXT : 0);
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

void call_info(const Operation& operation, const CallParameters& parameters, InfoField (&fields)[MAX_INFO_FIELDS])
{
    const ImageStatistics& statistics = parameters.channel[0].statistics;
    const auto structure = [](const ChannelParameters& set) { return set.statistics.structure; };
    const auto threshold = [](const ChannelParameters& set) { return set.threshold; };
    if (is_edges_call(operation)) {
        const InfoField filled[] = {basis(parameters), one_value("noise", statistics.noise),
                                    one_value("scale", statistics.scale), per_set("structure", parameters, structure),
                                    per_set("threshold", parameters, threshold)};
        static_assert(std::size(filled) <= MAX_INFO_FIELDS);
        std::copy(std::begin(filled), std::end(filled), fields);
        return;
    }
    const InfoField filled[] = {
        basis(parameters),
        one_value("noise", statistics.noise),
        one_value("scale", statistics.scale),
        per_set("texture", parameters, [](const ChannelParameters& set) { return set.statistics.texture; }),
        per_set("fine_texture", parameters, [](const ChannelParameters& set) { return set.statistics.fine_texture; }),
        per_set("structure", parameters, structure),
        per_set("threshold", parameters, threshold),
        per_set("x3", parameters, [](const ChannelParameters& set) { return set.x3; }),
        per_set("x4", parameters, [](const ChannelParameters& set) { return set.x4; })};
    static_assert(std::size(filled) == MAX_INFO_FIELDS);
    std::copy(std::begin(filled), std::end(filled), fields);
}

}  // namespace lumasift

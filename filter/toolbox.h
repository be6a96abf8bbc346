// The toolbox's calls, imlumasift and lumasift_edges, as every host makes
// them. What the core needs of the arguments beyond their own types is
// checked here once, with one message per fault; the MEX and Octave
// gateways and the Python binding only read their host's arrays into
// HostImages, make the result arrays, and report faults in their host's way.
#ifndef LUMASIFT_TOOLBOX_H
#define LUMASIFT_TOOLBOX_H

#include <cstddef>

#include "call.h"
#include "hidden.h"
#include "image.h"
#include "parameters.h"

namespace lumasift LUMASIFT_HIDDEN {

enum class ArgumentFault {
    none,
    arguments,        // the wrong number of arguments or results
    image,            // I is not an image of a class the core takes
    edges,            // E is neither left out nor an array the size of I or of one channel of it
    widths,           // x3 or x4 is neither left out nor real doubles, one or one for each set of channels
    threshold,        // the threshold is neither left out nor real doubles, one or one for each set of channels
    choice,           // a name-value pair that names no choice, or gives it no logical or real scalar
    window_too_wide,  // x3 gives a window wider than the tiles of an image this large
};

// A fault as the host reports it: an identifier (lumasift:edges) and one
// line, which names the image's size where that helps.
struct FaultReport {
    const char* identifier;
    char message[320];
};

// The choices a call takes by name, in name-value pairs after its other
// arguments: 'Colour' (or 'Color'), true to smooth a colour image as colour
// (colour.h), false to keep its channels apart.
struct NamedChoices {
    bool colour = true;
};

// Takes one pair: `name` is null where the host's value is no text, and
// `value` where it is no logical or real scalar.
ArgumentFault take_choice(const char* name, const double* value, NamedChoices& choices);

// The first fault of a smoothing call. `image` is null where the host could
// not read I as an image, and `edges` where E was given but could not be
// read as one; `widths_read` is false where x3 or x4 was neither left out
// nor real doubles.
ArgumentFault check_smoothing(const HostImage* image, bool colour, bool edges_given, const HostImage* edges,
                              bool widths_read, const GivenValues& x3, const GivenValues& x4);
// The same for the edges: `threshold_read` is false where the threshold was
// neither left out nor real doubles.
ArgumentFault check_edges(const HostImage* image, bool colour, bool threshold_read, const GivenValues& threshold);

// The widest window given, which a window_too_wide fault names.
const double* widest(const GivenValues& x3);

FaultReport fault_report(ArgumentFault fault, const char* call_form, const HostImage* image = nullptr,
                         const double* x3 = nullptr);

// settle_parameters as each call asks: a smoothing call given E needs no
// threshold, and the edges need no widths. Null for what was left out; a
// smoothing call's threshold, for the edges its tiles make, is left out but
// where the call is a block of a larger image, which the whole image's
// threshold must govern. `colour`: a colour image is smoothed as colour,
// and its edges are those of its opponent channels.
bool settle_smoothing(const HostImage& image, bool colour, bool edges_given, const GivenValues& x3,
                      const GivenValues& x4, bool report, CallParameters& parameters, const CallOptions& options,
                      const GivenValues& threshold = {});
bool settle_edges(const HostImage& image, bool colour, const GivenValues& threshold, bool report,
                  CallParameters& parameters, const CallOptions& options);

// lumasift_edges's result in `layout`: parameters.sets() maps, one for every
// channel or, as colour, one for each opponent channel.
bool make_edge_maps(const HostImage& image, const CallParameters& parameters, double* edges, const Layout& layout,
                    const CallOptions& options);

// imlumasift's result, tile by tile, into `result` of
// result_class(image.value_class) laid out as `result_layout`; edges null
// to make them from the image with the settled threshold. With `kept`, the
// result of those pixels alone, the rest of the image their context.
bool smooth_image(const HostImage& image, const HostImage* edges, const CallParameters& parameters, void* result,
                  const Layout& result_layout, const CallOptions& options, const PixelRegion* kept = nullptr);

// What each call reports of its parameters, field by field: a rows-by-cols
// matrix, column-major, of a value for each set of channels, or the basis
// they were smoothed in; 0-by-0 for what the call did not use (no
// threshold where E was given, no basis for channels kept apart).
struct InfoField {
    const char* name;
    int rows;
    int cols;
    double values[COLOUR_CHANNELS * COLOUR_CHANNELS];
};
constexpr int SMOOTHING_INFO_FIELDS = 9;
constexpr int EDGES_INFO_FIELDS = 5;
void smoothing_info(const CallParameters& parameters, InfoField (&fields)[SMOOTHING_INFO_FIELDS]);
void edges_info(const CallParameters& parameters, InfoField (&fields)[EDGES_INFO_FIELDS]);

}  // namespace lumasift

#endif

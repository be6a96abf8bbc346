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
#include "statistics.h"

namespace lumasift LUMASIFT_HIDDEN {

enum class ArgumentFault {
    none,
    arguments,        // the wrong number of arguments or results
    image,            // I is not an image of a class the core takes
    edges,            // E is neither left out nor an array the size of I or of one channel of it
    widths,           // x3 or x4 is neither left out nor a real double scalar
    threshold,        // the threshold is neither left out nor a real double scalar
    window_too_wide,  // x3 gives a window wider than the tiles of an image this large
};

// A fault as the host reports it: an identifier (lumasift:edges) and one
// line, which names the image's size where that helps.
struct FaultReport {
    const char* identifier;
    char message[320];
};

// The first fault of a smoothing call. `image` is null where the host could
// not read I as an image, and `edges` where E was given but could not be
// read as one; `widths_read` is false where x3 or x4 was neither left out
// nor a real double scalar; x3 null where left out.
ArgumentFault check_smoothing(const HostImage* image, bool edges_given, const HostImage* edges, bool widths_read,
                              const double* x3);

FaultReport fault_report(ArgumentFault fault, const char* call_form, const HostImage* image = nullptr,
                         const double* x3 = nullptr);

// settle_parameters as each call asks: a smoothing call given E needs no
// threshold, and the edges need no widths. Null for what was left out; a
// smoothing call's threshold, for the edges its tiles make, is left out but
// where the call is a block of a larger image, which the whole image's
// threshold must govern.
bool settle_smoothing(const HostImage& image, bool edges_given, const double* x3, const double* x4, bool report,
                      CallParameters& parameters, const CallOptions& options, const double* threshold = nullptr);
bool settle_edges(const HostImage& image, const double* threshold, bool report, CallParameters& parameters,
                  const CallOptions& options);

// imlumasift's result, tile by tile, into `result` of
// result_class(image.value_class) laid out as `result_layout`; edges null
// to make them from the image with the settled threshold. With `kept`, the
// result of those pixels alone, the rest of the image their context.
bool smooth_image(const HostImage& image, const HostImage* edges, const CallParameters& parameters, void* result,
                  const Layout& result_layout, const CallOptions& options, const PixelRegion* kept = nullptr);

// What each call reports of its parameters, field by field; NaN for a value
// the call did not use (no threshold where E was given).
struct InfoField {
    const char* name;
    double value;
};
constexpr int SMOOTHING_INFO_FIELDS = 7;
constexpr int EDGES_INFO_FIELDS = 3;
void smoothing_info(const CallParameters& parameters, InfoField (&fields)[SMOOTHING_INFO_FIELDS]);
void edges_info(const CallParameters& parameters, InfoField (&fields)[EDGES_INFO_FIELDS]);

}  // namespace lumasift

#endif

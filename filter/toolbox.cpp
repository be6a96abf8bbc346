#include "toolbox.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>

#include "constants.h"
#include "tiles.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

constexpr double NOT_USED = std::numeric_limits<double>::quiet_NaN();

}  // namespace

ArgumentFault check_smoothing(const HostImage* image, bool edges_given, const HostImage* edges, bool widths_read,
                              const double* x3)
{
    if (image == nullptr) {
        return ArgumentFault::image;
    }
    if (edges_given && (edges == nullptr || edges->rows != image->rows || edges->cols != image->cols ||
                        (edges->channels != 1 && edges->channels != image->channels))) {
        return ArgumentFault::edges;
    }
    if (!widths_read) {
        return ArgumentFault::widths;
    }
    // The default is never too wide: only a given x3 can be.
    if (x3 != nullptr && !tiles_fit(image->rows, image->cols, *x3)) {
        return ArgumentFault::window_too_wide;
    }
    return ArgumentFault::none;
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
                      "the size of I or of one channel of it.",
                      rows, cols, rows, cols, image != nullptr ? image->channels : 0);
        break;
    case ArgumentFault::widths:
        report.identifier = "lumasift:width";
        std::snprintf(text, size, "x3 and x4 must be left out or real double scalars.");
        break;
    case ArgumentFault::threshold:
        report.identifier = "lumasift:threshold";
        std::snprintf(text, size, "The threshold must be left out or a real double scalar.");
        break;
    case ArgumentFault::window_too_wide:
        report.identifier = "lumasift:windowTooWide";
        std::snprintf(text, size,
                      "x3 = %g gives a window of half-width %g, too wide to tile a %td-by-%td image: over 1000 "
                      "pixels a side, the half-width trunc(3*x3 + 1) may be at most 498.",
                      *x3, std::trunc(window_radius_for(*x3)), rows, cols);
        break;
    }
    return report;
}

bool settle_smoothing(const HostImage& image, bool edges_given, const double* x3, const double* x4, bool report,
                      CallParameters& parameters, const CallOptions& options, const double* threshold)
{
    return settle_parameters(image, edges_given ? &NOT_USED : threshold, x3, x4, report, parameters, options);
}

bool settle_edges(const HostImage& image, const double* threshold, bool report, CallParameters& parameters,
                  const CallOptions& options)
{
    return settle_parameters(image, threshold, &NOT_USED, &NOT_USED, report, parameters, options);
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
                           parameters.threshold,
                           kept};
    return filter_tiled(tiled, parameters.x3, parameters.x4, options);
}

void smoothing_info(const CallParameters& parameters, InfoField (&fields)[SMOOTHING_INFO_FIELDS])
{
    const ImageStatistics& statistics = parameters.statistics;
    const InfoField filled[] = {{"noise", statistics.noise},
                                {"scale", statistics.scale},
                                {"texture", statistics.texture},
                                {"fine_texture", statistics.fine_texture},
                                {"threshold", parameters.threshold},
                                {"x3", parameters.x3},
                                {"x4", parameters.x4}};
    std::copy(std::begin(filled), std::end(filled), fields);
}

void edges_info(const CallParameters& parameters, InfoField (&fields)[EDGES_INFO_FIELDS])
{
    const InfoField filled[] = {{"noise", parameters.statistics.noise},
                                {"scale", parameters.statistics.scale},
                                {"threshold", parameters.threshold}};
    std::copy(std::begin(filled), std::end(filled), fields);
}

}  // namespace lumasift

// [J, info] = imlumasift_mex(I, E, x3, x4): the module behind imlumasift.m,
// which checks the user's arguments and explains itself. E, x3 and x4 may be
// [] for their defaults, which follow the image's noise. This gateway checks
// again everything the core relies on, so that a direct call can fail but
// never read past an argument or write into one.
#include "gateway.h"

#include <cstddef>
#include <limits>

#include "../filter/lumasift.h"
#include "images.h"
#include "interrupt.h"

// No try block here: the host may raise its error report as a C++
// exception, and a catch would swallow or repeat the message.

namespace {

using lumasift::ElementClass;

bool is_width(const mxArray* array)
{
    return lumasift::is_left_out(array) || lumasift::is_real_double_scalar(array);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs != 4 || nlhs > 2) {
        mexErrMsgIdAndTxt("lumasift:arguments", "Call as [J, info] = imlumasift_mex(I, E, x3, x4).");
    }
    lumasift::HostImage image;
    if (!lumasift::host_image(prhs[0], image)) {
        mexErrMsgIdAndTxt("lumasift:image", "I must be a real, full numeric or logical M-by-N-by-C array.");
    }
    const bool make_edges = lumasift::is_left_out(prhs[1]);
    ElementClass edge_class = ElementClass::float64;
    const std::size_t edge_channels = lumasift::dimension(prhs[1], 2);
    if (!make_edges && (!lumasift::element_class(prhs[1], edge_class) || mxGetNumberOfDimensions(prhs[1]) > 3 ||
                        lumasift::dimension(prhs[1], 0) != static_cast<std::size_t>(image.rows) ||
                        lumasift::dimension(prhs[1], 1) != static_cast<std::size_t>(image.cols) ||
                        (edge_channels != 1 && edge_channels != static_cast<std::size_t>(image.channels)))) {
        mexErrMsgIdAndTxt("lumasift:edges",
                          "E must be [] or a real, full numeric or logical array of the size of I, "
                          "or of one channel of it.");
    }
    if (!is_width(prhs[2]) || !is_width(prhs[3])) {
        mexErrMsgIdAndTxt("lumasift:width", "x3 and x4 must be [] or real double scalars.");
    }

    // With E given the call needs no threshold: NaN, reported as [].
    const double no_threshold = std::numeric_limits<double>::quiet_NaN();
    const lumasift::CallParameters parameters = lumasift::settled(
        image, make_edges ? nullptr : &no_threshold, lumasift::given(prhs[2]), lumasift::given(prhs[3]), nlhs > 1);
    const double sigma_near = parameters.x3;
    const double sigma_far = parameters.x4;
    if (!lumasift::tiles_fit(image.rows, image.cols, sigma_near)) {
        mexErrMsgIdAndTxt("lumasift:windowTooWide",
                          "The window is too wide to tile an image over 1000 pixels a side.");
    }

    plhs[0] = lumasift::new_result(mxGetNumberOfDimensions(prhs[0]), mxGetDimensions(prhs[0]),
                                   lumasift::host_class(lumasift::result_class(image.value_class)));
    const lumasift::TiledImage tiled{image,           make_edges ? nullptr : mxGetData(prhs[1]), edge_class,
                                     edge_channels > 1, image.layout, mxGetData(plhs[0]), image.layout,
                                     parameters.threshold};
    lumasift::run_core(
        [&tiled, sigma_near, sigma_far] {
            return lumasift::filter_tiled(tiled, sigma_near, sigma_far, lumasift::host_call_options());
        },
        plhs[0]);

    if (nlhs > 1) {
        const lumasift::ImageStatistics& statistics = parameters.statistics;
        const char* const names[] = {"noise", "scale", "texture", "fine_texture", "threshold", "x3", "x4"};
        const double values[] = {statistics.noise,         statistics.scale, statistics.texture,
                                 statistics.fine_texture, parameters.threshold, sigma_near, sigma_far};
        plhs[1] = lumasift::parameter_struct(names, values, 7);
    }
}

// [E, info] = lumasift_edges_mex(I, threshold): the module behind
// lumasift_edges.m. The threshold may be [] for the default, which follows
// the image's noise. Checks again everything the core relies on.
#include "gateway.h"

#include <cstddef>
#include <limits>

#include "../filter/lumasift.h"
#include "images.h"
#include "interrupt.h"

// No try block here: the host may raise its error report as a C++
// exception, and a catch would swallow or repeat the message.

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs != 2 || nlhs > 2) {
        mexErrMsgIdAndTxt("lumasift:arguments", "Call as [E, info] = lumasift_edges_mex(I, threshold).");
    }
    lumasift::HostImage image;
    if (!lumasift::host_image(prhs[0], image)) {
        mexErrMsgIdAndTxt("lumasift:image", "I must be a real, full numeric or logical M-by-N-by-C array.");
    }
    const bool default_threshold = lumasift::is_left_out(prhs[1]);
    if (!default_threshold && !lumasift::is_real_double_scalar(prhs[1])) {
        mexErrMsgIdAndTxt("lumasift:threshold", "The threshold must be [] or a real double scalar.");
    }

    // The edges need no widths.
    const double no_width = std::numeric_limits<double>::quiet_NaN();
    const lumasift::CallParameters parameters =
        lumasift::settled(image, lumasift::given(prhs[1]), &no_width, &no_width, nlhs > 1);
    const double threshold = parameters.threshold;

    const mwSize sizes[] = {static_cast<mwSize>(image.rows), static_cast<mwSize>(image.cols)};
    plhs[0] = lumasift::new_result(2, sizes, mxDOUBLE_CLASS);
    lumasift::run_core(
        [&image, threshold, &plhs] {
            return lumasift::edge_map(image, threshold, mxGetPr(plhs[0]), image.layout,
                                      lumasift::host_call_options());
        },
        plhs[0]);

    if (nlhs > 1) {
        const char* const names[] = {"noise", "scale", "threshold"};
        const double values[] = {parameters.statistics.noise, parameters.statistics.scale, threshold};
        plhs[1] = lumasift::parameter_struct(names, values, 3);
    }
}

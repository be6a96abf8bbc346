// [E, info] = lumasift_edges_mex(I, threshold): MATLAB's module behind
// lumasift_edges.m. The threshold may be [] for the default, which follows
// the image's noise. The core's checks run again.
#include "gateway.h"

#include "../filter/lumasift.h"
#include "images.h"
#include "interrupt.h"

// No try block here: the host may raise its error report as a C++
// exception, and a catch would swallow or repeat the message.

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const char* const form = "[E, info] = lumasift_edges_mex(I, threshold)";
    if (nrhs != 2 || nlhs > 2) {
        lumasift::report_fault(lumasift::ArgumentFault::arguments, form);
    }
    lumasift::HostImage image;
    if (!lumasift::host_image(prhs[0], image)) {
        lumasift::report_fault(lumasift::ArgumentFault::image, form);
    }
    if (!lumasift::is_left_out(prhs[1]) && !lumasift::is_real_double_scalar(prhs[1])) {
        lumasift::report_fault(lumasift::ArgumentFault::threshold, form);
    }

    lumasift::CallParameters parameters;
    lumasift::run_core([&] {
        return lumasift::settle_edges(image, lumasift::given(prhs[1]), nlhs > 1, parameters,
                                      lumasift::host_call_options());
    });
    const mwSize sizes[] = {static_cast<mwSize>(image.rows), static_cast<mwSize>(image.cols)};
    plhs[0] = lumasift::new_result(2, sizes, mxDOUBLE_CLASS);
    lumasift::run_core(
        [&] {
            return lumasift::edge_map(image, parameters.threshold, mxGetPr(plhs[0]), image.layout,
                                      lumasift::host_call_options());
        },
        plhs[0]);

    if (nlhs > 1) {
        lumasift::InfoField info[lumasift::EDGES_INFO_FIELDS];
        lumasift::edges_info(parameters, info);
        plhs[1] = lumasift::parameter_struct(info);
    }
}

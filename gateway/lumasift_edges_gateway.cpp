// [E, info] = lumasift_edges_mex(I, threshold, name, value, ...): MATLAB's module behind
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
    const char* const form = "[E, info] = lumasift_edges_mex(I, threshold, name, value, ...)";
    if (nrhs < 2 || nlhs > 2) {
        lumasift::report_fault(lumasift::ArgumentFault::arguments, form);
    }
    lumasift::HostImage image;
    const bool image_read = lumasift::host_image(prhs[0], image);
    lumasift::NamedChoices choices;
    lumasift::read_choices(nrhs, prhs, 2, choices, form);
    const bool colour = choices.colour;
    const bool threshold_read = lumasift::are_values(prhs[1]);
    const lumasift::GivenValues threshold =
        threshold_read ? lumasift::given_values(prhs[1]) : lumasift::GivenValues{};
    const lumasift::ArgumentFault fault =
        lumasift::check_edges(image_read ? &image : nullptr, colour, threshold_read, threshold);
    if (fault != lumasift::ArgumentFault::none) {
        lumasift::report_fault(fault, form);
    }

    lumasift::CallParameters parameters;
    lumasift::run_core([&] {
        return lumasift::settle_edges(image, colour, threshold, nlhs > 1, parameters,
                                      lumasift::host_call_options());
    });
    const mwSize sizes[] = {static_cast<mwSize>(image.rows), static_cast<mwSize>(image.cols),
                            static_cast<mwSize>(parameters.sets())};
    plhs[0] = lumasift::new_result(3, sizes, mxDOUBLE_CLASS);
    lumasift::run_core(
        [&] {
            return lumasift::make_edge_maps(image, parameters, mxGetPr(plhs[0]), image.layout,
                                            lumasift::host_call_options());
        },
        plhs[0]);

    if (nlhs > 1) {
        lumasift::InfoField info[lumasift::EDGES_INFO_FIELDS];
        lumasift::edges_info(parameters, info);
        plhs[1] = lumasift::parameter_struct(info);
    }
}

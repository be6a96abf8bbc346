// [J, info] = imlumasift_mex(I, E, x3, x4, name, value, ...): MATLAB's module behind
// imlumasift.m, which checks the user's arguments and explains itself. E,
// x3 and x4 may be [] for their defaults, which follow the image's noise.
// The core's checks run again, so that a direct call can fail but never
// read past an argument or write into one.
#include "gateway.h"

#include "../filter/lumasift.h"
#include "images.h"
#include "interrupt.h"

// No try block here: the host may raise its error report as a C++
// exception, and a catch would swallow or repeat the message.

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const char* const form = "[J, info] = imlumasift_mex(I, E, x3, x4, name, value, ...)";
    if (nrhs < 4 || nlhs > 2) {
        lumasift::report_fault(lumasift::ArgumentFault::arguments, form);
    }
    lumasift::HostImage image;
    lumasift::HostImage edges;
    const bool image_read = lumasift::host_image(prhs[0], image);
    const bool edges_given = !lumasift::is_left_out(prhs[1]);
    const bool edges_read = edges_given && lumasift::host_image(prhs[1], edges);
    const bool widths_read = lumasift::are_values(prhs[2]) && lumasift::are_values(prhs[3]);
    const lumasift::GivenValues x3 = widths_read ? lumasift::given_values(prhs[2]) : lumasift::GivenValues{};
    const lumasift::GivenValues x4 = widths_read ? lumasift::given_values(prhs[3]) : lumasift::GivenValues{};
    lumasift::NamedChoices choices;
    lumasift::read_choices(nrhs, prhs, 4, choices, form);
    const bool colour = choices.colour;
    const lumasift::ArgumentFault fault = lumasift::check_smoothing(
        image_read ? &image : nullptr, colour, edges_given, edges_read ? &edges : nullptr, widths_read, x3, x4);
    if (fault != lumasift::ArgumentFault::none) {
        lumasift::report_fault(fault, form, image_read ? &image : nullptr, lumasift::widest(x3));
    }

    lumasift::CallParameters parameters;
    lumasift::run_core([&] {
        return lumasift::settle_smoothing(image, colour, edges_given, x3, x4, nlhs > 1, parameters,
                                          lumasift::host_call_options());
    });
    plhs[0] = lumasift::new_result(mxGetNumberOfDimensions(prhs[0]), mxGetDimensions(prhs[0]),
                                   lumasift::host_class(lumasift::result_class(image.value_class)));
    lumasift::run_core(
        [&] {
            return lumasift::smooth_image(image, edges_given ? &edges : nullptr, parameters, mxGetData(plhs[0]),
                                          image.layout, lumasift::host_call_options());
        },
        plhs[0]);

    if (nlhs > 1) {
        lumasift::InfoField info[lumasift::SMOOTHING_INFO_FIELDS];
        lumasift::smoothing_info(parameters, info);
        plhs[1] = lumasift::parameter_struct(info);
    }
}

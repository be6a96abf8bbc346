// [E, info] = lumasift_edges_mex(I, threshold, name, value, ...): Octave's module behind
// lumasift_edges.m. The threshold may be [] for the default, which follows
// the image's noise. The core's checks run again.
#include "octave_images.h"

// No try block here: Octave raises its errors as C++ exceptions, and a
// catch would swallow or repeat the message.

// Octave finds the module's installer by name, and its headers here do not
// mark it visible.
#pragma GCC visibility push(default)
DEFUN_DLD(lumasift_edges_mex, args, nargout,
          "[E, info] = lumasift_edges_mex(I, threshold, name, value, ...): the module behind lumasift_edges")
{
    const char* const form = "[E, info] = lumasift_edges_mex(I, threshold, name, value, ...)";
    if (args.length() < 2 || nargout > 2) {
        lumasift::report_fault(lumasift::ArgumentFault::arguments, form);
    }
    lumasift::OctaveImage image;
    const bool image_read = lumasift::octave_image(args(0), image);
    lumasift::NamedChoices choices;
    lumasift::read_choices(args, 2, choices, form);
    const bool colour = choices.colour;
    const bool threshold_read = lumasift::are_values(args(1));
    NDArray threshold_values;
    const lumasift::GivenValues threshold =
        threshold_read ? lumasift::given_values(args(1), threshold_values) : lumasift::GivenValues{};
    const lumasift::ArgumentFault fault =
        lumasift::check_edges(image_read ? &image.image : nullptr, colour, threshold_read, threshold);
    if (fault != lumasift::ArgumentFault::none) {
        lumasift::report_fault(fault, form);
    }

    lumasift::CallParameters parameters;
    lumasift::run_core([&](const lumasift::CallOptions& options) {
        return lumasift::settle_edges(image.image, colour, threshold, nargout > 1, parameters, options);
    });
    void* result = nullptr;
    octave_value_list out(nargout > 1 ? 2 : 1);
    out(0) = lumasift::new_result(lumasift::ElementClass::float64, dim_vector(image.image.rows, image.image.cols, parameters.sets()),
                                  result);
    lumasift::run_core([&](const lumasift::CallOptions& options) {
        return lumasift::make_edge_maps(image.image, parameters, static_cast<double*>(result), image.image.layout,
                                        options);
    });

    if (nargout > 1) {
        lumasift::InfoField info[lumasift::EDGES_INFO_FIELDS];
        lumasift::edges_info(parameters, info);
        out(1) = lumasift::parameter_struct(info);
    }
    return out;
}
#pragma GCC visibility pop

// [E, info] = lumasift_edges_mex(I, threshold): Octave's module behind
// lumasift_edges.m. The threshold may be [] for the default, which follows
// the image's noise. The core's checks run again.
#include "octave_images.h"

// No try block here: Octave raises its errors as C++ exceptions, and a
// catch would swallow or repeat the message.

// Octave finds the module's installer by name, and its headers here do not
// mark it visible.
#pragma GCC visibility push(default)
DEFUN_DLD(lumasift_edges_mex, args, nargout,
          "[E, info] = lumasift_edges_mex(I, threshold): the module behind lumasift_edges")
{
    const char* const form = "[E, info] = lumasift_edges_mex(I, threshold)";
    if (args.length() != 2 || nargout > 2) {
        lumasift::report_fault(lumasift::ArgumentFault::arguments, form);
    }
    lumasift::OctaveImage image;
    if (!lumasift::octave_image(args(0), image)) {
        lumasift::report_fault(lumasift::ArgumentFault::image, form);
    }
    if (!lumasift::is_left_out(args(1)) && !lumasift::is_real_double_scalar(args(1))) {
        lumasift::report_fault(lumasift::ArgumentFault::threshold, form);
    }
    double threshold_value = 0.0;
    const double* threshold = lumasift::given(args(1), threshold_value);

    lumasift::CallParameters parameters;
    lumasift::run_core([&](const lumasift::CallOptions& options) {
        return lumasift::settle_edges(image.image, threshold, nargout > 1, parameters, options);
    });
    void* result = nullptr;
    octave_value_list out(nargout > 1 ? 2 : 1);
    out(0) = lumasift::new_result(lumasift::ElementClass::float64, dim_vector(image.image.rows, image.image.cols),
                                  result);
    lumasift::run_core([&](const lumasift::CallOptions& options) {
        return lumasift::edge_map(image.image, parameters.threshold, static_cast<double*>(result), image.image.layout,
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

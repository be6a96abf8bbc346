// [J, info] = imlumasift_mex(I, E, x3, x4, name, value, ...): Octave's module behind
// imlumasift.m, which checks the user's arguments and explains itself. E,
// x3 and x4 may be [] for their defaults, which follow the image's noise.
// The core's checks run again, so that a direct call can fail but never
// read past an argument or write into one.
#include "octave_images.h"

// No try block here: Octave raises its errors as C++ exceptions, and a
// catch would swallow or repeat the message.

// Octave finds the module's installer by name, and its headers here do not
// mark it visible.
#pragma GCC visibility push(default)
DEFUN_DLD(imlumasift_mex, args, nargout,
          "[J, info] = imlumasift_mex(I, E, x3, x4, name, value, ...): the module behind imlumasift")
{
    const char* const form = "[J, info] = imlumasift_mex(I, E, x3, x4, name, value, ...)";
    if (args.length() < 4 || nargout > 2) {
        lumasift::report_fault(lumasift::ArgumentFault::arguments, form);
    }
    lumasift::OctaveImage image;
    lumasift::OctaveImage edges;
    const bool image_read = lumasift::octave_image(args(0), image);
    const bool edges_given = !lumasift::is_left_out(args(1));
    const bool edges_read = edges_given && lumasift::octave_image(args(1), edges);
    const bool widths_read = lumasift::are_values(args(2)) && lumasift::are_values(args(3));
    NDArray x3_values;
    NDArray x4_values;
    const lumasift::GivenValues x3 = widths_read ? lumasift::given_values(args(2), x3_values) : lumasift::GivenValues{};
    const lumasift::GivenValues x4 = widths_read ? lumasift::given_values(args(3), x4_values) : lumasift::GivenValues{};
    lumasift::NamedChoices choices;
    lumasift::read_choices(args, 4, choices, form);
    const bool colour = choices.colour;
    const lumasift::ArgumentFault fault =
        lumasift::check_smoothing(image_read ? &image.image : nullptr, colour, edges_given,
                                  edges_read ? &edges.image : nullptr, widths_read, x3, x4);
    if (fault != lumasift::ArgumentFault::none) {
        lumasift::report_fault(fault, form, image_read ? &image.image : nullptr, lumasift::widest(x3));
    }

    lumasift::CallParameters parameters;
    lumasift::run_core([&](const lumasift::CallOptions& options) {
        return lumasift::settle_smoothing(image.image, colour, edges_given, x3, x4, nargout > 1, parameters, options);
    });
    void* result = nullptr;
    octave_value_list out(nargout > 1 ? 2 : 1);
    out(0) = lumasift::new_result(lumasift::result_class(image.image.value_class), args(0).dims(), result);
    lumasift::run_core([&](const lumasift::CallOptions& options) {
        return lumasift::smooth_image(image.image, edges_given ? &edges.image : nullptr, parameters, result,
                                      image.image.layout, options);
    });

    if (nargout > 1) {
        lumasift::InfoField info[lumasift::SMOOTHING_INFO_FIELDS];
        lumasift::smoothing_info(parameters, info);
        out(1) = lumasift::parameter_struct(info);
    }
    return out;
}
#pragma GCC visibility pop

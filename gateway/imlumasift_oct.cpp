// [J, info] = imlumasift_mex(I, E, x3, x4, name, value, ...): Octave's module
// behind imlumasift.m, a form over the core's table of imlumasift's
// arguments (toolbox.h), which checks them all.
#include "octave_images.h"

// No try block here: Octave raises its errors as C++ exceptions, and a
// catch would swallow or repeat the message.

// Octave finds the module's installer by name, and its headers here do not
// mark it visible.
#pragma GCC visibility push(default)
DEFUN_DLD(imlumasift_mex, args, nargout,
          "[J, info] = imlumasift_mex(I, E, x3, x4, name, value, ...): the module behind imlumasift")
{
    return lumasift::octave_call(lumasift::IMLUMASIFT_CALL, args, nargout);
}
#pragma GCC visibility pop

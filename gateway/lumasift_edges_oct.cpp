// [E, info] = lumasift_edges_mex(I, threshold, name, value, ...): Octave's
// module behind lumasift_edges.m, a form over the core's table of
// lumasift_edges's arguments (toolbox.h), which checks them all.
#include "octave_images.h"

// No try block here: Octave raises its errors as C++ exceptions, and a
// catch would swallow or repeat the message.

// Octave finds the module's installer by name, and its headers here do not
// mark it visible.
#pragma GCC visibility push(default)
DEFUN_DLD(lumasift_edges_mex, args, nargout,
          "[E, info] = lumasift_edges_mex(I, threshold, name, value, ...): the module behind lumasift_edges")
{
    return lumasift::octave_call(lumasift::LUMASIFT_EDGES_CALL, args, nargout);
}
#pragma GCC visibility pop

// [E, info] = lumasift_edges_mex(I, threshold, name, value, ...): MATLAB's
// module behind lumasift_edges.m, a form over the core's table of
// lumasift_edges's arguments (toolbox.h), which checks them all.
#include "gateway.h"

#include "images.h"

// No try block here: the host may raise its error report as a C++
// exception, and a catch would swallow or repeat the message.

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    lumasift::mex_call(lumasift::LUMASIFT_EDGES_CALL, nlhs, plhs, nrhs, prhs);
}

// [J, info] = imlumasift_mex(I, E, x3, x4, name, value, ...): MATLAB's module
// behind imlumasift.m, a form over the core's table of imlumasift's
// arguments (toolbox.h), which checks them all.
#include "gateway.h"

#include "images.h"

// No try block here: the host may raise its error report as a C++
// exception, and a catch would swallow or repeat the message.

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    lumasift::mex_call(lumasift::IMLUMASIFT_CALL, nlhs, plhs, nrhs, prhs);
}

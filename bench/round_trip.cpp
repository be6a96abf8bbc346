// The host's part of a lumasift call: a module that creates a result the
// size of its first argument, as lumasift's gateway creates it, and returns
// it unwritten. bench/octave_timing.m times it beside lumasift.
#include "gateway/gateway.h"
#include "gateway/results.h"

void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 1) {
        mexErrMsgTxt("round_trip (x): one argument.");
    }
    const mwSize sizes[2] = {static_cast<mwSize>(mxGetM(prhs[0])), static_cast<mwSize>(mxGetN(prhs[0]))};
    plhs[0] = lumasift::new_result(2, sizes, mxDOUBLE_CLASS);
}

#include "gateway.h"

#include <cstddef>

#include "../filter/lumasift.h"
#include "interrupt.h"
#include "results.h"

// No try block anywhere here: the host may raise its error report as a C++
// exception, and a catch would swallow or repeat the message. Every report
// comes before filter_call takes the module's lock, so none can leave it held.

namespace {

const char* const ARGUMENT_MESSAGES[] = {
    "Error in x1.",
    "Error in x2.",
    "Error in x3.",
    "Error in x4.",
};

bool is_real_full_double(const mxArray* argument)
{
    return mxIsNumeric(argument) && !mxIsComplex(argument) && !mxIsSparse(argument) &&
           mxIsDouble(argument);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs != 4) {
        mexErrMsgTxt("Four input arguments.");
    }
    if (nlhs > 1) {
        mexErrMsgTxt("One output argument.");
    }

    const std::size_t rows = mxGetM(prhs[0]);
    const std::size_t cols = mxGetN(prhs[0]);

    // The filter reads rows * cols elements of x1 and of x2, and the first
    // element of x3 and of x4: an argument holding fewer is refused like one
    // of the wrong type, so nothing is ever read past an argument's data.
    const std::size_t elements_read[] = {rows * cols, rows * cols, 1, 1};
    for (int k = 0; k < 4; ++k) {
        if (!is_real_full_double(prhs[k]) || mxGetNumberOfElements(prhs[k]) < elements_read[k]) {
            mexErrMsgTxt(ARGUMENT_MESSAGES[k]);
        }
    }

    const double* values = mxGetPr(prhs[0]);
    const double* edges = mxGetPr(prhs[1]);
    const double sigma_near = mxGetPr(prhs[2])[0];
    const double sigma_far = mxGetPr(prhs[3])[0];

    const std::size_t largest = lumasift::PLANE_STRIDE;
    if (rows > largest || cols > largest) {
        mexErrMsgTxt("Mask size is too big");
    }

    const mwSize sizes[] = {static_cast<mwSize>(rows), static_cast<mwSize>(cols)};
    plhs[0] = lumasift::new_result(2, sizes, mxDOUBLE_CLASS);
    if (!lumasift::filter_call(values, edges, static_cast<int>(rows), static_cast<int>(cols),
                               sigma_near, sigma_far, mxGetPr(plhs[0]), lumasift::host_call_options())) {
        lumasift::report_interrupted(plhs[0]);
    }
}

// lumasift_reference(x1, x2, x3, x4) and lumasift_reference(x1, x2, x3, x4,
// plane_side): the literal evaluation, for checking the modules' results
// inside the host, with planes of 1000 or plane_side a side. Test use only:
// arguments are trusted.
#include <algorithm>

#include "mex.h"
#include "support/reference.h"

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray* plhs[], int nrhs,
                                                                   const mxArray* prhs[])
{
    const int rows = static_cast<int>(mxGetM(prhs[0]));
    const int cols = static_cast<int>(mxGetN(prhs[0]));
    const int plane_side = nrhs > 4 ? static_cast<int>(mxGetScalar(prhs[4])) : 1000;
    const std::vector<double> y = reference_lumasift(mxGetPr(prhs[0]), mxGetPr(prhs[1]), rows, cols,
                                                     mxGetPr(prhs[2])[0], mxGetPr(prhs[3])[0], plane_side);
    if (y.size() != static_cast<std::size_t>(rows) * cols) {
        mexErrMsgTxt("the image is larger than the planes");
    }
    plhs[0] = mxCreateDoubleMatrix(rows, cols, mxREAL);
    std::copy(y.begin(), y.end(), mxGetPr(plhs[0]));
}

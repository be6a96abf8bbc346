// lumasift_reference(x1, x2, x3, x4): the literal evaluation, for checking the
// module's results inside the host. Test use only: arguments are trusted.
#include <algorithm>

#include "mex.h"
#include "support/reference.h"

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray* plhs[], int,
                                                                   const mxArray* prhs[])
{
    const int rows = static_cast<int>(mxGetM(prhs[0]));
    const int cols = static_cast<int>(mxGetN(prhs[0]));
    const std::vector<double> y = reference_lumasift(mxGetPr(prhs[0]), mxGetPr(prhs[1]), rows,
                                                     cols, mxGetPr(prhs[2])[0], mxGetPr(prhs[3])[0]);
    plhs[0] = mxCreateDoubleMatrix(rows, cols, mxREAL);
    std::copy(y.begin(), y.end(), mxGetPr(plhs[0]));
}

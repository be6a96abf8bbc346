// The result arrays of the MEX modules, which every call fills whole or, when
// interrupted, frees.
#ifndef LUMASIFT_GATEWAY_RESULTS_H
#define LUMASIFT_GATEWAY_RESULTS_H

#include "mex.h"

#include "../filter/hidden.h"
#include "../filter/huge_pages.h"

namespace lumasift LUMASIFT_HIDDEN {

// A new real array of the host that the call will fill whole: not cleared
// first, and on huge pages where the system allows.
inline mxArray* new_result(mwSize dimensions, const mwSize* sizes, mxClassID type)
{
    mxArray* result = mxCreateUninitNumericArray(dimensions, sizes, type, mxREAL);
    prefer_huge_pages(mxGetData(result), mxGetNumberOfElements(result) * mxGetElementSize(result));
    return result;
}

// Ends a call that the interrupt stopped, once the filter's threads have
// stopped: the unfinished result is freed and an error raised, since a
// result returned would still be assigned.
inline void report_interrupted(mxArray*& result)
{
    mxDestroyArray(result);
    result = nullptr;
    mexErrMsgIdAndTxt("lumasift:interrupted", "Interrupted.");
}

}  // namespace lumasift

#endif

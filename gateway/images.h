// What the gateways of imlumasift_mex and lumasift_edges_mex share: the
// host's arrays as the core's images, and the form of a toolbox call.
#ifndef LUMASIFT_GATEWAY_IMAGES_H
#define LUMASIFT_GATEWAY_IMAGES_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>

#include "mex.h"

#include "../filter/hidden.h"
#include "../filter/image.h"
#include "../filter/lumasift.h"
#include "interrupt.h"
#include "results.h"

namespace lumasift LUMASIFT_HIDDEN {

// The core's class of a real, full array, or false for classes it does not
// take.
bool element_class(const mxArray* array, ElementClass& type);

mxClassID host_class(ElementClass type);

// Dimension k of an array, 1 past its last.
std::size_t dimension(const mxArray* array, mwSize k);

// A real, full, numeric or logical array of at most three dimensions, as the
// core's image; false for any other.
bool host_image(const mxArray* array, HostImage& image);

// An operation of the toolbox (toolbox.h) called from MATLAB: its
// arguments found and read, checked, run, and its results made.
void mex_call(const Operation& operation, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Runs `call` (which returns false when interrupted) and reports what the host
// should see: an out-of-memory error, with the result freed, when the core
// could not get its scratch, and lumasift:interrupted when Ctrl-C stopped it.
template <class Call>
void run_core(const Call& call, mxArray*& result)
{
    bool finished = false;
    bool out_of_memory = false;
    // Only the core runs in here, which never calls the host, so no error
    // report of the host's can be caught.
    try {
        finished = call();
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    if (out_of_memory) {
        mxDestroyArray(result);
        result = nullptr;
        mexErrMsgIdAndTxt("lumasift:outOfMemory", "Out of memory for the working space of the call.");
    }
    if (!finished) {
        report_interrupted(result);
    }
}

// The same for a call that makes no result yet.
template <class Call>
void run_core(const Call& call)
{
    mxArray* no_result = nullptr;
    run_core(call, no_result);
}

}  // namespace lumasift

#endif

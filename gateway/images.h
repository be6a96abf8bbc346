// What the gateways of imlumasift_mex and lumasift_edges_mex share: the
// host's arrays as the core's images, its errors, and the parameters they
// report.
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

// Whether an argument is left out ([]); whether it is that or real full
// doubles.
bool is_left_out(const mxArray* array);
bool are_values(const mxArray* array);

// The argument's doubles, none where it is left out ([]).
GivenValues given_values(const mxArray* array);

// Takes the name-value pairs prhs[first, nrhs), raising the host's error
// at the first fault.
void read_choices(int nrhs, const mxArray* prhs[], int first, NamedChoices& choices, const char* call_form);

// Raises the core's report of a fault as the host's error.
[[noreturn]] void report_fault(ArgumentFault fault, const char* call_form, const HostImage* image = nullptr,
                               const double* x3 = nullptr);

// A 1-by-1 struct of double matrices, [] for what was not used.
template <int count>
mxArray* parameter_struct(const InfoField (&fields)[count])
{
    const char* names[count];
    for (int k = 0; k < count; ++k) {
        names[k] = fields[k].name;
    }
    mxArray* parameters = mxCreateStructMatrix(1, 1, count, names);
    for (int k = 0; k < count; ++k) {
        const InfoField& field = fields[k];
        mxArray* value = mxCreateDoubleMatrix(field.rows, field.cols, mxREAL);
        std::copy_n(field.values, field.rows * field.cols, mxGetPr(value));
        mxSetFieldByNumber(parameters, 0, k, value);
    }
    return parameters;
}

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

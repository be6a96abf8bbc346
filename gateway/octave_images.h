// What Octave's own modules behind imlumasift.m and lumasift_edges.m share:
// Octave's arrays read in place as the core's images, results made straight
// in Octave's arrays (neither copied on return, as a MEX result is, nor
// cleared first), and the errors. MATLAB takes the MEX modules instead.
#ifndef LUMASIFT_GATEWAY_OCTAVE_IMAGES_H
#define LUMASIFT_GATEWAY_OCTAVE_IMAGES_H

#include <cmath>
#include <new>
#include <tuple>

#include <octave/oct.h>

#include "../filter/hidden.h"
#include "../filter/lumasift.h"
#include "interrupt.h"

namespace lumasift LUMASIFT_HIDDEN {

// An argument read as an image, and what keeps its elements alive: a typed
// array shares the value's elements rather than copying them, but a scalar
// or a range becomes an array of its own.
// One of each, the one of the image's class holding its elements.
using OctaveElements = std::tuple<NDArray, FloatNDArray, int8NDArray, uint8NDArray, int16NDArray, uint16NDArray,
                                  int32NDArray, uint32NDArray, int64NDArray, uint64NDArray, boolNDArray>;

struct OctaveImage {
    HostImage image;
    OctaveElements elements;
};

// A real, full, numeric or logical value of at most three dimensions, as
// the core's image; false for any other.
bool octave_image(const octave_value& value, OctaveImage& image);

// A new array of `dims` in `type`'s class, left as the system gives it, on
// huge pages where it allows; `data` gets its first element.
octave_value new_result(ElementClass type, const dim_vector& dims, void*& data);

// An operation of the toolbox (toolbox.h) called from Octave: its
// arguments found and read, checked, run, and its results made.
octave_value_list octave_call(const Operation& operation, const octave_value_list& args, int nargout);

// What the host sees of a core call that did not finish: lumasift:outOfMemory
// when the core could not get its scratch, lumasift:interrupted when Ctrl-C
// stopped it. An error, not a return: a result returned would still be
// assigned.
void report_unfinished(bool out_of_memory);

// Runs `call` (false when Ctrl-C stopped it).
template <class Call>
void run_core(const Call& call)
{
    bool finished = false;
    bool out_of_memory = false;
    // Only the core runs in here, which never calls Octave, so no error of
    // Octave's can be caught.
    try {
        finished = call();
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    if (!finished) {
        report_unfinished(out_of_memory);
    }
}

}  // namespace lumasift

#endif

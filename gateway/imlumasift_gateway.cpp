// imlumasift_mex(I, E, x3, x4): the module behind imlumasift.m, which checks
// the user's arguments, fills in defaults and explains itself. This gateway
// checks again everything the core relies on, so that a direct call can
// fail but never read past an argument or write into one.
#include "gateway.h"

#include <cstddef>

#include "../filter/tiles.h"
#include "interrupt.h"

// No try block anywhere here: the host may raise its error report as a C++
// exception, and a catch would swallow or repeat the message.

namespace {

using lumasift::ElementClass;

// The core's class of an array, or false for classes it does not take.
bool element_class(const mxArray* array, ElementClass& type)
{
    if (mxIsComplex(array) || mxIsSparse(array)) {
        return false;
    }
    switch (mxGetClassID(array)) {
    case mxDOUBLE_CLASS: type = ElementClass::float64; return true;
    case mxSINGLE_CLASS: type = ElementClass::float32; return true;
    case mxINT8_CLASS: type = ElementClass::int8; return true;
    case mxUINT8_CLASS: type = ElementClass::uint8; return true;
    case mxINT16_CLASS: type = ElementClass::int16; return true;
    case mxUINT16_CLASS: type = ElementClass::uint16; return true;
    case mxINT32_CLASS: type = ElementClass::int32; return true;
    case mxUINT32_CLASS: type = ElementClass::uint32; return true;
    case mxINT64_CLASS: type = ElementClass::int64; return true;
    case mxUINT64_CLASS: type = ElementClass::uint64; return true;
    case mxLOGICAL_CLASS: type = ElementClass::logical; return true;
    default: return false;
    }
}

mxClassID host_class(ElementClass type)
{
    const mxClassID classes[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS,   mxUINT8_CLASS,
                                 mxINT16_CLASS,  mxUINT16_CLASS, mxINT32_CLASS,  mxUINT32_CLASS,
                                 mxINT64_CLASS,  mxUINT64_CLASS, mxLOGICAL_CLASS};
    return classes[static_cast<int>(type)];
}

// Dimension k of an array, 1 past its last.
std::size_t dimension(const mxArray* array, mwSize k)
{
    return k < mxGetNumberOfDimensions(array) ? static_cast<std::size_t>(mxGetDimensions(array)[k]) : 1;
}

bool is_real_double_scalar(const mxArray* array)
{
    return mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array) &&
           mxGetNumberOfElements(array) == 1;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs != 4 || nlhs > 1) {
        mexErrMsgIdAndTxt("lumasift:arguments", "Call as J = imlumasift_mex(I, E, x3, x4).");
    }
    ElementClass value_class;
    if (!element_class(prhs[0], value_class) || mxGetNumberOfDimensions(prhs[0]) > 3) {
        mexErrMsgIdAndTxt("lumasift:image", "I must be a real, full numeric or logical M-by-N-by-C array.");
    }
    const std::size_t rows = dimension(prhs[0], 0);
    const std::size_t cols = dimension(prhs[0], 1);
    const std::size_t channels = dimension(prhs[0], 2);
    ElementClass edge_class;
    const std::size_t edge_channels = dimension(prhs[1], 2);
    if (!element_class(prhs[1], edge_class) || mxGetNumberOfDimensions(prhs[1]) > 3 ||
        dimension(prhs[1], 0) != rows || dimension(prhs[1], 1) != cols ||
        (edge_channels != 1 && edge_channels != channels)) {
        mexErrMsgIdAndTxt("lumasift:edges",
                          "E must be a real, full numeric or logical array of the size of I, "
                          "or of one channel of it.");
    }
    if (!is_real_double_scalar(prhs[2]) || !is_real_double_scalar(prhs[3])) {
        mexErrMsgIdAndTxt("lumasift:width", "x3 and x4 must be real double scalars.");
    }
    const double sigma_near = mxGetPr(prhs[2])[0];
    const double sigma_far = mxGetPr(prhs[3])[0];
    if (!lumasift::tiles_fit(static_cast<std::ptrdiff_t>(rows), static_cast<std::ptrdiff_t>(cols), sigma_near)) {
        mexErrMsgIdAndTxt("lumasift:windowTooWide",
                          "The window is too wide to tile an image over 1000 pixels a side.");
    }

    const ElementClass output_class = lumasift::result_class(value_class);
    plhs[0] = mxCreateNumericArray(mxGetNumberOfDimensions(prhs[0]), mxGetDimensions(prhs[0]),
                                   host_class(output_class), mxREAL);
    const lumasift::TiledImage image{mxGetData(prhs[0]),
                                     value_class,
                                     mxGetData(prhs[1]),
                                     edge_class,
                                     edge_channels > 1,
                                     mxGetData(plhs[0]),
                                     static_cast<std::ptrdiff_t>(rows),
                                     static_cast<std::ptrdiff_t>(cols),
                                     static_cast<std::ptrdiff_t>(channels)};
    if (!lumasift::filter_tiled(image, sigma_near, sigma_far, &lumasift::host_interrupt_pending)) {
        lumasift::report_interrupted(plhs[0]);
    }
}

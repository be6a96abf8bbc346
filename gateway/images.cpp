#include "images.h"

#include <cstdlib>

namespace lumasift LUMASIFT_HIDDEN {

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
    switch (type) {
    case ElementClass::float64: return mxDOUBLE_CLASS;
    case ElementClass::float32: return mxSINGLE_CLASS;
    case ElementClass::int8: return mxINT8_CLASS;
    case ElementClass::uint8: return mxUINT8_CLASS;
    case ElementClass::int16: return mxINT16_CLASS;
    case ElementClass::uint16: return mxUINT16_CLASS;
    case ElementClass::int32: return mxINT32_CLASS;
    case ElementClass::uint32: return mxUINT32_CLASS;
    case ElementClass::int64: return mxINT64_CLASS;
    case ElementClass::uint64: return mxUINT64_CLASS;
    case ElementClass::logical: return mxLOGICAL_CLASS;
    }
    return mxUNKNOWN_CLASS;
}

std::size_t dimension(const mxArray* array, mwSize k)
{
    return k < mxGetNumberOfDimensions(array) ? static_cast<std::size_t>(mxGetDimensions(array)[k]) : 1;
}

bool host_image(const mxArray* array, HostImage& image)
{
    if (!element_class(array, image.value_class) || mxGetNumberOfDimensions(array) > 3) {
        return false;
    }
    image.values = mxGetData(array);
    image.rows = static_cast<std::ptrdiff_t>(dimension(array, 0));
    image.cols = static_cast<std::ptrdiff_t>(dimension(array, 1));
    image.channels = static_cast<std::ptrdiff_t>(dimension(array, 2));
    image.layout = column_major(image.rows, image.cols);
    return true;
}

bool is_left_out(const mxArray* array)
{
    return mxIsEmpty(array);
}

bool are_values(const mxArray* array)
{
    return is_left_out(array) || (mxIsDouble(array) && !mxIsComplex(array) && !mxIsSparse(array));
}

GivenValues given_values(const mxArray* array)
{
    if (is_left_out(array)) {
        return {};
    }
    return {mxGetPr(array), static_cast<std::ptrdiff_t>(mxGetNumberOfElements(array))};
}

void read_choices(int nrhs, const mxArray* prhs[], int first, NamedChoices& choices, const char* call_form)
{
    for (int k = first; k < nrhs; k += 2) {
        char name[16] = "";
        const bool named = mxIsChar(prhs[k]) && mxGetString(prhs[k], name, sizeof name) == 0;
        const mxArray* value = k + 1 < nrhs ? prhs[k + 1] : nullptr;
        const bool scalar = value != nullptr && (mxIsLogical(value) || (mxIsNumeric(value) && !mxIsComplex(value))) &&
                            !mxIsSparse(value) && mxGetNumberOfElements(value) == 1;
        const double flag = scalar ? mxGetScalar(value) : 0.0;
        if (take_choice(named ? name : nullptr, scalar ? &flag : nullptr, choices) != ArgumentFault::none) {
            report_fault(ArgumentFault::choice, call_form);
        }
    }
}

void report_fault(ArgumentFault fault, const char* call_form, const HostImage* image, const double* x3)
{
    const FaultReport report = fault_report(fault, call_form, image, x3);
    mexErrMsgIdAndTxt(report.identifier, "%s", report.message);
    // mexErrMsgIdAndTxt does not return.
    std::abort();
}

}  // namespace lumasift

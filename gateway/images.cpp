#include "images.h"

#include <algorithm>
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

void mex_call(const Operation& operation, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    CallArguments arguments;
    char names[ROLES * 2][16];
    const CallFault fault =
        nlhs > 2 ? CallFault{ArgumentFault::arguments, nullptr}
                 : read_call(
                       operation, nrhs,
                       [&](int k) -> const char* {
                           if (!mxIsChar(prhs[k])) {
                               return nullptr;
                           }
                           // Text too long for any name names none.
                           char* name = names[k % (ROLES * 2)];
                           return mxGetString(prhs[k], name, sizeof names[0]) == 0 ? name : "";
                       },
                       [&](int k) { return mxIsEmpty(prhs[k]); },
                       [&](int k, ArgumentRole, HostImage& image) { return host_image(prhs[k], image); }, arguments);
    if (fault.fault != ArgumentFault::none) {
        const FaultReport report = fault_report(operation, fault, arguments, module_call_form(operation).text);
        mexErrMsgIdAndTxt(report.identifier, "%s", report.message);
        // mexErrMsgIdAndTxt does not return.
        std::abort();
    }

    CallParameters parameters;
    const CallOptions options = call_options(arguments, host_call_options());
    run_core([&] { return settle_call(operation, arguments, nlhs > 1, parameters, options); });
    const ResultShape shape = result_shape(operation, arguments, parameters);
    const mwSize sizes[] = {static_cast<mwSize>(shape.rows), static_cast<mwSize>(shape.cols),
                            static_cast<mwSize>(shape.channels)};
    plhs[0] = new_result(shape.channels > 1 ? 3 : 2, sizes, host_class(shape.type));
    run_core(
        [&] {
            return run_call(operation, arguments, parameters, mxGetData(plhs[0]), column_major(shape.rows, shape.cols),
                            options);
        },
        plhs[0]);
    if (nlhs > 1) {
        InfoField fields[MAX_INFO_FIELDS];
        call_info(operation, parameters, fields);
        const char* field_names[MAX_INFO_FIELDS];
        for (int k = 0; k < operation.info_fields; ++k) {
            field_names[k] = fields[k].name;
        }
        plhs[1] = mxCreateStructMatrix(1, 1, operation.info_fields, field_names);
        for (int k = 0; k < operation.info_fields; ++k) {
            mxArray* value = mxCreateDoubleMatrix(fields[k].rows, fields[k].cols, mxREAL);
            std::copy_n(fields[k].values, fields[k].rows * fields[k].cols, mxGetPr(value));
            mxSetFieldByNumber(plhs[1], 0, k, value);
        }
    }
}

}  // namespace lumasift

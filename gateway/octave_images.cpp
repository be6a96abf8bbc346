#include "octave_images.h"

#include <memory>
#include <string>
#include <vector>

#include "../filter/huge_pages.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// Shares the value's elements, rather than copying them.
template <class Array>
const void* kept(const Array& array, OctaveElements& elements)
{
    Array& held = std::get<Array>(elements);
    held = array;
    return held.data();
}

// The class of a value the core takes, and its elements.
bool read_elements(const octave_value& value, ElementClass& type, const void*& data,
                   OctaveElements& elements)
{
    if (value.is_double_type()) {
        type = ElementClass::float64;
        data = kept(value.array_value(), elements);
    } else if (value.is_single_type()) {
        type = ElementClass::float32;
        data = kept(value.float_array_value(), elements);
    } else if (value.is_int8_type()) {
        type = ElementClass::int8;
        data = kept(value.int8_array_value(), elements);
    } else if (value.is_uint8_type()) {
        type = ElementClass::uint8;
        data = kept(value.uint8_array_value(), elements);
    } else if (value.is_int16_type()) {
        type = ElementClass::int16;
        data = kept(value.int16_array_value(), elements);
    } else if (value.is_uint16_type()) {
        type = ElementClass::uint16;
        data = kept(value.uint16_array_value(), elements);
    } else if (value.is_int32_type()) {
        type = ElementClass::int32;
        data = kept(value.int32_array_value(), elements);
    } else if (value.is_uint32_type()) {
        type = ElementClass::uint32;
        data = kept(value.uint32_array_value(), elements);
    } else if (value.is_int64_type()) {
        type = ElementClass::int64;
        data = kept(value.int64_array_value(), elements);
    } else if (value.is_uint64_type()) {
        type = ElementClass::uint64;
        data = kept(value.uint64_array_value(), elements);
    } else if (value.islogical()) {
        // Octave's bool is one byte holding 0 or 1, as the core's logical
        // elements are.
        static_assert(sizeof(bool) == sizeof(LogicalElement));
        type = ElementClass::logical;
        data = kept(value.bool_array_value(), elements);
    } else {
        return false;
    }
    return true;
}

// An array of `count` elements of T, constructed by no one: the call fills
// them all, and Octave frees them as it frees its own.
template <class Array>
octave_value uninitialised(const dim_vector& dims, void*& data)
{
    using T = typename Array::element_type;
    T* elements = std::allocator<T>{}.allocate(dims.safe_numel());
    prefer_huge_pages(elements, dims.safe_numel() * sizeof(T));
    data = elements;
    return Array(::Array<T>(elements, dims));
}

}  // namespace

bool octave_image(const octave_value& value, OctaveImage& image)
{
    if (value.iscomplex() || value.issparse() || value.ndims() > 3 ||
        !read_elements(value, image.image.value_class, image.image.values, image.elements)) {
        return false;
    }
    const dim_vector dims = value.dims();
    image.image.rows = dims(0);
    image.image.cols = dims(1);
    image.image.channels = dims.ndims() > 2 ? dims(2) : 1;
    image.image.layout = column_major(image.image.rows, image.image.cols);
    return true;
}

octave_value new_result(ElementClass type, const dim_vector& dims, void*& data)
{
    switch (type) {
    case ElementClass::float64: return uninitialised<NDArray>(dims, data);
    case ElementClass::float32: return uninitialised<FloatNDArray>(dims, data);
    case ElementClass::int8: return uninitialised<int8NDArray>(dims, data);
    case ElementClass::uint8: return uninitialised<uint8NDArray>(dims, data);
    case ElementClass::int16: return uninitialised<int16NDArray>(dims, data);
    case ElementClass::uint16: return uninitialised<uint16NDArray>(dims, data);
    case ElementClass::int32: return uninitialised<int32NDArray>(dims, data);
    case ElementClass::uint32: return uninitialised<uint32NDArray>(dims, data);
    case ElementClass::int64: return uninitialised<int64NDArray>(dims, data);
    case ElementClass::uint64: return uninitialised<uint64NDArray>(dims, data);
    case ElementClass::logical: return uninitialised<boolNDArray>(dims, data);
    }
    return octave_value();
}

octave_value_list octave_call(const Operation& operation, const octave_value_list& args, int nargout)
{
    CallArguments arguments;
    OctaveElements held[ROLES];
    std::vector<std::string> texts(static_cast<std::size_t>(args.length()));
    const CallFault fault =
        nargout > 2 ? CallFault{ArgumentFault::arguments, nullptr}
                    : read_call(
                          operation, static_cast<int>(args.length()),
                          [&](int k) -> const char* {
                              if (!args(k).is_string()) {
                                  return nullptr;
                              }
                              texts[k] = args(k).string_value();
                              return texts[k].c_str();
                          },
                          [&](int k) { return args(k).isempty(); },
                          [&](int k, ArgumentRole role, HostImage& image) {
                              OctaveImage read;
                              const bool is_image = octave_image(args(k), read);
                              held[role] = read.elements;
                              image = read.image;
                              return is_image;
                          },
                          arguments);
    if (fault.fault != ArgumentFault::none) {
        const FaultReport report = fault_report(operation, fault, arguments, module_call_form(operation).text);
        error_with_id(report.identifier, "%s", report.message);
    }

    CallParameters parameters;
    const CallOptions options = call_options(arguments, host_call_options());
    run_core([&] { return settle_call(operation, arguments, nargout > 1, parameters, options); });
    const ResultShape shape = result_shape(operation, arguments, parameters);
    void* result = nullptr;
    octave_value_list out(nargout > 1 ? 2 : 1);
    out(0) = new_result(shape.type, dim_vector(shape.rows, shape.cols, shape.channels), result);
    run_core([&] {
        return run_call(operation, arguments, parameters, result, column_major(shape.rows, shape.cols), options);
    });
    if (nargout > 1) {
        InfoField fields[MAX_INFO_FIELDS];
        call_info(operation, parameters, fields);
        octave_scalar_map info;
        for (int k = 0; k < operation.info_fields; ++k) {
            Matrix value(fields[k].rows, fields[k].cols);
            std::copy_n(fields[k].values, fields[k].rows * fields[k].cols, value.fortran_vec());
            info.assign(fields[k].name, value);
        }
        out(1) = info;
    }
    return out;
}

void report_unfinished(bool out_of_memory)
{
    if (out_of_memory) {
        error_with_id("lumasift:outOfMemory", "Out of memory for the working space of the call.");
    }
    error_with_id("lumasift:interrupted", "Interrupted.");
}

}  // namespace lumasift

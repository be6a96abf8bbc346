// lumasift._core: the core on numpy arrays, a form over the core's tables
// of imlumasift and lumasift_edges (filter/toolbox.h), with the checks,
// defaults and results of the Octave modules (gateway/). The Python layer
// (__init__.py) holds the help and passes the arguments through.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <Python.h>
#include <pythread.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "filter/lumasift.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

using lumasift::ElementClass;

struct ClassDtype {
    ElementClass type;
    char kind;
    py::ssize_t itemsize;
    const char* name;
};

const ClassDtype CLASS_DTYPES[] = {
    {ElementClass::float64, 'f', 8, "float64"}, {ElementClass::float32, 'f', 4, "float32"},
    {ElementClass::int8, 'i', 1, "int8"},       {ElementClass::uint8, 'u', 1, "uint8"},
    {ElementClass::int16, 'i', 2, "int16"},     {ElementClass::uint16, 'u', 2, "uint16"},
    {ElementClass::int32, 'i', 4, "int32"},     {ElementClass::uint32, 'u', 4, "uint32"},
    {ElementClass::int64, 'i', 8, "int64"},     {ElementClass::uint64, 'u', 8, "uint64"},
    {ElementClass::logical, 'b', 1, "bool"},
};

std::optional<ElementClass> element_class(const py::dtype& dtype)
{
    if (!dtype.attr("isnative").cast<bool>()) {
        return std::nullopt;
    }
    for (const ClassDtype& entry : CLASS_DTYPES) {
        if (dtype.kind() == entry.kind && dtype.itemsize() == entry.itemsize) {
            return entry.type;
        }
    }
    return std::nullopt;
}

py::dtype dtype_of(ElementClass type)
{
    for (const ClassDtype& entry : CLASS_DTYPES) {
        if (entry.type == type) {
            return py::dtype(entry.name);
        }
    }
    throw std::logic_error("an element class without a dtype");
}

// The argument as an array, or an invalid handle where numpy cannot make one.
py::array as_array(const py::handle& argument)
{
    return py::array::ensure(argument);
}

// lumasift() takes its arrays column-major, numpy's Fortran order, as the
// Octave module does: an array already in it is read in place, any other is
// copied into it. Never the transpose: the filter is not symmetric under it.
py::array in_fortran_order(const py::array& array)
{
    return py::array::ensure(array, py::array::f_style);
}

py::array fortran_array(const py::dtype& dtype, const std::vector<py::ssize_t>& shape)
{
    return py::module_::import("numpy").attr("empty")(py::tuple(py::cast(shape)), dtype, "order"_a = "F");
}

// The rest read arrays in place through their strides, whatever their
// order; strides that are not whole elements (views into records) are
// copied into Fortran order first.
lumasift::Layout layout_of(const py::array& array)
{
    const py::ssize_t size = array.itemsize();
    return {array.strides(0) / size, array.strides(1) / size, array.ndim() == 3 ? array.strides(2) / size : 0};
}

py::array with_element_strides(const py::array& array)
{
    for (py::ssize_t axis = 0; axis < array.ndim(); ++axis) {
        if (array.strides(axis) % array.itemsize() != 0) {
            return in_fortran_order(array);
        }
    }
    return array;
}

// A new array for a result of `shape`, laid out as `like`: C order for C
// order, Fortran for Fortran, and for other views the order of their
// strides.
py::array array_like(const py::array& like, const py::dtype& dtype, const std::vector<py::ssize_t>& shape)
{
    const py::module_ numpy = py::module_::import("numpy");
    if (static_cast<py::ssize_t>(shape.size()) == like.ndim()) {
        return numpy.attr("empty_like")(like, dtype, "order"_a = "K", "shape"_a = py::tuple(py::cast(shape)));
    }
    const bool rows_first = std::abs(like.strides(0)) >= std::abs(like.strides(1));
    return numpy.attr("empty")(py::tuple(py::cast(shape)), dtype, "order"_a = rows_first ? "C" : "F");
}

const double* pointer(const std::optional<double>& value)
{
    return value ? &*value : nullptr;
}

// An image and the array that holds its elements, kept alive with it.
struct Image {
    py::array array;
    lumasift::HostImage host;
};

// The array of a Python value, read in place where its strides are whole
// elements; `type` where numpy makes an array of a class the core takes.
py::array element_array(const py::handle& value, std::optional<ElementClass>& type)
{
    py::array array = as_array(value);
    type = array ? element_class(array.dtype()) : std::nullopt;
    return type ? with_element_strides(array) : array;
}

lumasift::HostImage host_image(const py::array& array, ElementClass type)
{
    return {array.data(), type, array.shape(0), array.shape(1), array.ndim() == 3 ? array.shape(2) : 1,
            layout_of(array)};
}

// An argument of the toolbox's operations read from a Python value: images
// of two or three dimensions in place, numbers of any shape in the order of
// their elements. `held` keeps the arrays alive.
void read_argument(const lumasift::DeclaredArgument& declared, const py::handle& value, lumasift::Argument& argument,
                   std::vector<py::array>& held)
{
    argument.given = !value.is_none();
    if (!argument.given) {
        return;
    }
    std::optional<ElementClass> type;
    py::array array = element_array(value, type);
    argument.read = type.has_value();
    if (!argument.read) {
        return;
    }
    if (declared.kind == lumasift::ArgumentKind::image || declared.kind == lumasift::ArgumentKind::edges) {
        argument.shaped = array.ndim() == 2 || array.ndim() == 3;
        if (argument.shaped) {
            argument.image = host_image(array, *type);
        }
    } else {
        array = py::array::ensure(array, py::array::c_style);
        const lumasift::HostImage numbers{array.data(), *type, array.size(), 1, 1,
                                          lumasift::column_major(array.size(), 1)};
        lumasift::take_numbers(declared.kind, numbers, argument);
    }
    held.push_back(array);
}

// The core's report of a fault: TypeError where an argument is of a type the
// core does not take, ValueError where it is of the wrong size or value.
[[noreturn]] void raise_fault(const lumasift::Operation& operation, const lumasift::CallFault& fault,
                              const lumasift::CallArguments& arguments)
{
    const lumasift::FaultReport report = lumasift::fault_report(operation, fault, arguments, operation.name, true);
    if (report.wrong_type) {
        throw py::type_error(report.message);
    }
    throw py::value_error(report.message);
}

// An operation's arguments, in the order of its table, read and checked.
lumasift::CallArguments checked_arguments(const lumasift::Operation& operation, const py::tuple& values,
                                          std::vector<py::array>& held)
{
    if (static_cast<int>(values.size()) != operation.count) {
        throw py::type_error("an argument for each of the operation's");
    }
    lumasift::CallArguments arguments;
    for (int a = 0; a < operation.count; ++a) {
        const lumasift::DeclaredArgument& declared = operation.arguments[a];
        read_argument(declared, values[a], arguments.role[declared.role], held);
    }
    const lumasift::CallFault fault = lumasift::check_call(operation, arguments);
    if (fault.fault != lumasift::ArgumentFault::none) {
        raise_fault(operation, fault, arguments);
    }
    return arguments;
}

// I read as an image, or TypeError or ValueError as the operations raise
// them.
Image image_argument(const py::handle& value)
{
    std::vector<py::array> held;
    lumasift::CallArguments arguments;
    const lumasift::Operation& operation = lumasift::LUMASIFT_EDGES_CALL;
    read_argument(operation.arguments[0], value, arguments.role[lumasift::IMAGE], held);
    const lumasift::Argument& image = arguments.role[lumasift::IMAGE];
    if (!image.given || !image.read || !image.shaped) {
        raise_fault(operation, {lumasift::ArgumentFault::image, &operation.arguments[0]}, arguments);
    }
    return {held.front(), image.image};
}

const lumasift::Operation& operation_named(const std::string& name)
{
    for (const lumasift::Operation* operation : lumasift::OPERATIONS) {
        if (name == operation->name) {
            return *operation;
        }
    }
    throw py::value_error("no such operation: " + name);
}

// Ctrl-C while the core runs without the GIL: Python's own handler only
// notes the signal for the interpreter's next check, which comes after the
// call. For the length of a call on the main thread, this handler notes it
// where the core's stop request looks.
volatile std::sig_atomic_t interrupt_noted = 0;

extern "C" void note_interrupt(int)
{
    interrupt_noted = 1;
}

bool stop_requested()
{
    return interrupt_noted != 0;
}

bool on_main_thread()
{
    static const unsigned long main_thread =
        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    return PyThread_get_thread_ident() == main_thread;
}

class InterruptWatch {
public:
    InterruptWatch()
    {
        // Only the main thread may take over the signal, and only from
        // Python's handler: an ignored or default SIGINT stays as it is.
        struct sigaction current;
        if (!on_main_thread() || sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == SIG_IGN ||
            current.sa_handler == SIG_DFL) {
            return;
        }
        struct sigaction ours {};
        ours.sa_handler = note_interrupt;
        sigemptyset(&ours.sa_mask);
        interrupt_noted = 0;
        watching_ = sigaction(SIGINT, &ours, &previous_) == 0;
    }

    ~InterruptWatch()
    {
        if (watching_) {
            sigaction(SIGINT, &previous_, nullptr);
            if (interrupt_noted != 0) {
                // Python's handler runs at its next check, as if the signal
                // came now.
                PyErr_SetInterrupt();
            }
        }
    }

    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    lumasift::CallOptions options() const
    {
        return {lumasift::KernelChoice::fastest, 0, watching_ ? &stop_requested : nullptr};
    }

private:
    struct sigaction previous_ {};
    bool watching_ = false;
};

// Runs `call` (false when the stop request ended it) without the GIL.
// std::bad_alloc from the core reaches Python as MemoryError.
// `threads`: as many as the call may run on, 0 for every core it justifies.
template <class Call>
void run_core(const Call& call, int threads = 0)
{
    bool finished = false;
    {
        const InterruptWatch watch;
        lumasift::CallOptions options = watch.options();
        options.threads = threads;
        const py::gil_scoped_release unlocked;
        finished = call(options);
    }
    if (!finished) {
        // Python's handler raises KeyboardInterrupt, unless it was replaced
        // by one that does not: the result is unfinished all the same.
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
        PyErr_SetString(PyExc_KeyboardInterrupt, "Interrupted.");
        throw py::error_already_set();
    }
}

bool is_float64(const py::array& array)
{
    return array && element_class(array.dtype()) == ElementClass::float64;
}

// The first element of x3 or x4, as the Octave module reads it: a Python
// number, or a float64 array that holds at least one.
double first_double(const py::handle& argument, const char* message)
{
    if (PyFloat_Check(argument.ptr()) || (PyLong_Check(argument.ptr()) && !PyBool_Check(argument.ptr()))) {
        return argument.cast<double>();
    }
    const py::array array = as_array(argument);
    if (!is_float64(array)) {
        throw py::type_error(message);
    }
    if (array.size() < 1) {
        throw py::value_error(message);
    }
    return *static_cast<const double*>(array.data());
}

py::array lumasift_call(const py::handle& x1, const py::handle& x2, const py::handle& x3, const py::handle& x4)
{
    py::array values = as_array(x1);
    if (!is_float64(values)) {
        throw py::type_error("Error in x1.");
    }
    if (values.ndim() != 2) {
        throw py::value_error("Error in x1.");
    }
    py::array edges = as_array(x2);
    if (!is_float64(edges)) {
        throw py::type_error("Error in x2.");
    }
    // x2 is read column by column, as many elements as x1 has.
    if (edges.size() < values.size()) {
        throw py::value_error("Error in x2.");
    }
    const double sigma_near = first_double(x3, "Error in x3.");
    const double sigma_far = first_double(x4, "Error in x4.");
    const py::ssize_t rows = values.shape(0);
    const py::ssize_t cols = values.shape(1);
    if (rows > lumasift::PLANE_STRIDE || cols > lumasift::PLANE_STRIDE) {
        throw py::value_error("Mask size is too big");
    }
    values = in_fortran_order(values);
    edges = in_fortran_order(edges);
    py::array result = fortran_array(py::dtype::of<double>(), {rows, cols});
    const double* value_data = static_cast<const double*>(values.data());
    const double* edge_data = static_cast<const double*>(edges.data());
    double* result_data = static_cast<double*>(result.mutable_data());
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::filter_call(value_data, edge_data, static_cast<int>(rows), static_cast<int>(cols),
                                     sigma_near, sigma_far, result_data, options);
    });
    return result;
}

std::vector<py::ssize_t> shape_of(const py::array& array)
{
    return {array.shape(), array.shape() + array.ndim()};
}

// None for what was not used, a float for one value, a tuple of floats for
// one per set of channels, and a tuple of rows for the basis.
py::dict info_dict(const lumasift::InfoField* fields, int count)
{
    py::dict info;
    for (int k = 0; k < count; ++k) {
        const lumasift::InfoField& field = fields[k];
        const auto row = [&field](int r) {
            py::tuple values(field.cols);
            for (int c = 0; c < field.cols; ++c) {
                values[c] = py::float_(field.values[c * field.rows + r]);
            }
            return values;
        };
        if (field.rows == 0) {
            info[field.name] = py::none();
        } else if (field.rows == 1 && field.cols == 1) {
            info[field.name] = py::float_(field.values[0]);
        } else if (field.rows == 1) {
            info[field.name] = row(0);
        } else {
            py::tuple rows(field.rows);
            for (int r = 0; r < field.rows; ++r) {
                rows[r] = row(r);
            }
            info[field.name] = rows;
        }
    }
    return info;
}

// A region of the image travels as (first row, rows, first column, columns).
using Region = std::tuple<py::ssize_t, py::ssize_t, py::ssize_t, py::ssize_t>;

lumasift::PixelRegion region_within(const Region& region, const lumasift::HostImage& image)
{
    const auto [first_row, rows, first_col, cols] = region;
    if (first_row < 0 || rows < 0 || first_row + rows > image.rows || first_col < 0 || cols < 0 ||
        first_col + cols > image.cols) {
        throw py::value_error("kept must be a region of the image");
    }
    return {first_row, rows, first_col, cols};
}

// The fields of an operation's info, as lumasift's functions return it.
py::dict operation_info(const lumasift::Operation& operation, const lumasift::CallParameters& parameters)
{
    lumasift::InfoField fields[lumasift::MAX_INFO_FIELDS];
    lumasift::call_info(operation, parameters, fields);
    return info_dict(fields, operation.info_fields);
}

// The result of an operation, laid out as I: `values` are its arguments in
// the order of its table, None for those left out.
py::object call(const std::string& name, const py::tuple& values, bool return_info)
{
    const lumasift::Operation& operation = operation_named(name);
    std::vector<py::array> held;
    const lumasift::CallArguments arguments = checked_arguments(operation, values, held);
    const lumasift::CallOptions threads = lumasift::call_options(arguments, {});
    lumasift::CallParameters parameters;
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::settle_call(operation, arguments, return_info, parameters, options);
    }, threads.threads);
    const lumasift::ResultShape shape = lumasift::result_shape(operation, arguments, parameters);
    std::vector<py::ssize_t> dims = shape_of(held.front());
    if (!shape.like_image) {
        dims = {shape.rows, shape.cols};
        if (shape.channels > 1) {
            dims.push_back(shape.channels);
        }
    }
    py::array result = array_like(held.front(), dtype_of(shape.type), dims);
    const lumasift::Layout layout = layout_of(result);
    void* data = result.mutable_data();
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::run_call(operation, arguments, parameters, data, layout, options);
    }, threads.threads);
    if (!return_info) {
        return std::move(result);
    }
    return py::make_tuple(result, operation_info(operation, parameters));
}

// Refuses the arguments before any work, as the call would.
void check(const std::string& name, const py::tuple& values)
{
    std::vector<py::array> held;
    checked_arguments(operation_named(name), values, held);
}

// The parameters of a call on a larger image whose statistics (one dict
// for each set of channels, or None where not measured) were gathered
// apart; given values as lists, None where left out.
using Values = std::optional<std::vector<double>>;

lumasift::GivenValues given(const Values& values)
{
    return values ? lumasift::GivenValues{values->data(), static_cast<std::ptrdiff_t>(values->size())}
                  : lumasift::GivenValues{};
}

lumasift::ImageStatistics statistics_of(const py::dict& statistics)
{
    return {statistics["noise"].cast<double>(), statistics["scale"].cast<double>(),
            statistics["texture"].cast<double>(), statistics["fine_texture"].cast<double>(),
            statistics["structure"].cast<double>()};
}

py::tuple settled_parameters(const std::optional<std::vector<py::dict>>& statistics, bool colour,
                             py::ssize_t channels, const Values& threshold, const Values& x3, const Values& x4)
{
    lumasift::ImageStatistics measured[lumasift::COLOUR_CHANNELS]{};
    for (std::size_t set = 0; statistics && set < statistics->size() && set < lumasift::COLOUR_CHANNELS; ++set) {
        measured[set] = statistics_of((*statistics)[set]);
    }
    const lumasift::CallParameters parameters =
        lumasift::parameters_of(statistics ? measured : nullptr, colour, channels, given(threshold), given(x3),
                                given(x4));
    py::list sets;
    for (int set = 0; set < parameters.sets(); ++set) {
        const lumasift::ChannelParameters& channel = parameters.channel[set];
        sets.append(py::make_tuple(channel.threshold, channel.x3, channel.x4));
    }
    return py::make_tuple(parameters.colour, sets);
}

// imlumasift's result of a block of a larger image, with the parameters the
// whole image settled: (colour, [(threshold, x3, x4) for each set]).
py::array smooth_block(const py::handle& block, const py::handle& edge_argument, const py::tuple& settled,
                       int threads, std::optional<Region> kept_argument)
{
    const Image image = image_argument(block);
    const lumasift::HostImage& host = image.host;
    std::vector<py::array> held;
    lumasift::Argument edges;
    read_argument(lumasift::IMLUMASIFT_CALL.arguments[1], edge_argument, edges, held);
    lumasift::CallParameters parameters;
    parameters.colour = settled[0].cast<bool>();
    const py::list sets = settled[1];
    for (int set = 0; set < parameters.sets(); ++set) {
        const auto values = sets[set].cast<std::tuple<double, double, double>>();
        parameters.channel[set] = {{}, std::get<0>(values), std::get<1>(values), std::get<2>(values)};
    }
    std::vector<py::ssize_t> shape = shape_of(image.array);
    const std::optional<lumasift::PixelRegion> kept =
        kept_argument ? std::optional(region_within(*kept_argument, host)) : std::nullopt;
    if (kept) {
        shape[0] = kept->rows;
        shape[1] = kept->cols;
    }
    py::array result = array_like(image.array, dtype_of(lumasift::result_class(host.value_class)), shape);
    const lumasift::Layout layout = layout_of(result);
    void* data = result.mutable_data();
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::smooth_block(host, edges.given ? &edges.image : nullptr, parameters, data, layout, options,
                                      kept ? &*kept : nullptr);
    }, threads);
    return result;
}

py::dict statistics_dict(const lumasift::ImageStatistics& statistics)
{
    return py::dict("noise"_a = statistics.noise, "scale"_a = statistics.scale, "texture"_a = statistics.texture,
                    "fine_texture"_a = statistics.fine_texture, "structure"_a = statistics.structure);
}

// A colour image's: the shared noise and scale, and a tuple of each opponent
// channel's texture measures.
py::dict colour_statistics_dict(const lumasift::ImageStatistics (&statistics)[lumasift::COLOUR_CHANNELS])
{
    py::tuple texture(lumasift::COLOUR_CHANNELS);
    py::tuple fine_texture(lumasift::COLOUR_CHANNELS);
    py::tuple structure(lumasift::COLOUR_CHANNELS);
    for (int channel = 0; channel < lumasift::COLOUR_CHANNELS; ++channel) {
        texture[channel] = statistics[channel].texture;
        fine_texture[channel] = statistics[channel].fine_texture;
        structure[channel] = statistics[channel].structure;
    }
    return py::dict("noise"_a = statistics[0].noise, "scale"_a = statistics[0].scale, "texture"_a = texture,
                    "fine_texture"_a = fine_texture, "structure"_a = structure);
}

py::dict image_statistics(const py::handle& image_argument_, bool colour, int threads)
{
    const Image image = image_argument(image_argument_);
    lumasift::ImageStatistics statistics[lumasift::COLOUR_CHANNELS]{};
    const bool as_colour = lumasift::parameter_sets(image.host, colour) == lumasift::COLOUR_CHANNELS;
    run_core([&](const lumasift::CallOptions& options) {
        return as_colour ? lumasift::measure_colour(image.host, statistics, options)
                         : lumasift::measure_image(image.host, statistics[0], options);
    }, threads);
    return as_colour ? colour_statistics_dict(statistics) : statistics_dict(statistics[0]);
}

// A lattice travels as (step, stride, clipped below, clipped above), and a
// part names the pixel it starts at.
using Lattice = std::tuple<py::ssize_t, py::ssize_t, double, double>;

lumasift::BlockLattice as_lattice(const Lattice& lattice, py::ssize_t first_row, py::ssize_t first_col)
{
    const py::ssize_t step = std::get<0>(lattice);
    if (step < 1 || lumasift::NOISE_BLOCK % step != 0 || std::get<1>(lattice) < 1 || first_row < 0 || first_col < 0 ||
        first_row % lumasift::NOISE_BLOCK != 0 || first_col % lumasift::NOISE_BLOCK != 0) {
        throw py::value_error("a lattice of the core's, and a part starting on a whole block of the image");
    }
    return {step, std::get<1>(lattice), first_row, first_col, std::get<2>(lattice), std::get<3>(lattice)};
}

lumasift::ImageRange as_range(const py::handle& range)
{
    if (range.is_none()) {
        return {0.0, 0.0, 0.0, 0.0};
    }
    const auto values = range.cast<std::tuple<double, double, double, double>>();
    return {std::get<0>(values), std::get<1>(values), std::get<2>(values), std::get<3>(values)};
}

Lattice noise_lattice(py::ssize_t rows, py::ssize_t cols, py::ssize_t channels, const py::dtype& dtype,
                      const py::handle& range)
{
    const std::optional<ElementClass> type = element_class(dtype);
    if (!type) {
        throw py::type_error("image must be a real numeric or boolean array");
    }
    const lumasift::BlockLattice lattice = lumasift::noise_lattice(rows, cols, channels, *type, as_range(range));
    return {lattice.step, lattice.stride, lattice.clipped_below, lattice.clipped_above};
}

// Records travel as rows of RECORD_FIELDS 16-bit keys.
constexpr py::ssize_t RECORD_FIELDS = sizeof(lumasift::BlockRecord) / sizeof(std::uint16_t);
static_assert(sizeof(lumasift::BlockRecord) == RECORD_FIELDS * sizeof(std::uint16_t), "a record is its keys");
using Records = py::array_t<std::uint16_t, py::array::c_style | py::array::forcecast>;

// The records of a part's channels as stored, or with `opponent`, of that
// opponent channel of a colour part.
py::array block_records(const py::handle& part_argument, const Lattice& lattice_of_image, py::ssize_t first_row,
                        py::ssize_t first_col, int threads, std::optional<int> opponent)
{
    const lumasift::BlockLattice lattice = as_lattice(lattice_of_image, first_row, first_col);
    const Image part = image_argument(part_argument);
    if (opponent && (!lumasift::holds_colour(part.host.channels) || *opponent < 0 ||
                     *opponent >= lumasift::COLOUR_CHANNELS)) {
        throw py::value_error("an opponent channel of a colour image");
    }
    const lumasift::HostImage host = opponent ? lumasift::opponent_channel(part.host, *opponent) : part.host;
    const auto most = static_cast<py::ssize_t>(lumasift::most_block_records(host, lattice));
    Records records({most, RECORD_FIELDS});
    std::size_t count = 0;
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::record_blocks(host, lattice, reinterpret_cast<lumasift::BlockRecord*>(records.mutable_data()),
                                       count, options);
    }, threads);
    records.resize({static_cast<py::ssize_t>(count), RECORD_FIELDS});
    return std::move(records);
}

py::dict statistics_of_records(const Records& records, double scale)
{
    if (records.ndim() != 2 || records.shape(1) != RECORD_FIELDS) {
        throw py::value_error("records of the wrong shape");
    }
    lumasift::ImageStatistics statistics{0.0, scale, 0.0, 0.0, 0.0};
    lumasift::statistics_of_records(reinterpret_cast<const lumasift::BlockRecord*>(records.data()),
                                    static_cast<std::size_t>(records.shape(0)), statistics);
    return statistics_dict(statistics);
}

// The texture measures of an opponent channel's records, next to the noise
// of `statistics`.
py::dict texture_of_records(const Records& records, const py::dict& statistics)
{
    if (records.ndim() != 2 || records.shape(1) != RECORD_FIELDS) {
        throw py::value_error("records of the wrong shape");
    }
    lumasift::ImageStatistics measured{statistics["noise"].cast<double>(), statistics["scale"].cast<double>(), 0.0,
                                       0.0, 0.0};
    lumasift::texture_of_records(reinterpret_cast<const lumasift::BlockRecord*>(records.data()),
                                 static_cast<std::size_t>(records.shape(0)), measured);
    return statistics_dict(measured);
}

py::tuple measure_range(const py::handle& part_argument, py::ssize_t side, int threads)
{
    const Image part = image_argument(part_argument);
    const double infinity = std::numeric_limits<double>::infinity();
    lumasift::ImageRange range{infinity, -infinity, infinity, -infinity};
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::measure_range(part.host, side, range, options);
    }, threads);
    return py::make_tuple(range.lowest_mean, range.highest_mean, range.lowest_value, range.highest_value);
}

py::object text_or_none(const char* text)
{
    return text != nullptr ? py::object(py::str(text)) : py::object(py::none());
}

// The operations' tables, for the signatures' tests.
py::list operations()
{
    const char* const kinds[] = {"image", "edges", "widths", "thresholds", "flag", "thread_count"};
    py::list tables;
    for (const lumasift::Operation* operation : lumasift::OPERATIONS) {
        py::list arguments;
        for (int a = 0; a < operation->count; ++a) {
            const lumasift::DeclaredArgument& declared = operation->arguments[a];
            arguments.append(py::dict("name"_a = declared.name, "alias"_a = text_or_none(declared.alias),
                                      "keyword"_a = declared.keyword, "kind"_a = kinds[static_cast<int>(declared.kind)],
                                      "positional"_a = declared.positional, "required"_a = declared.required,
                                      "purpose"_a = declared.purpose,
                                      "left_out"_a = text_or_none(declared.left_out)));
        }
        tables.append(py::dict("name"_a = operation->name, "results"_a = operation->results,
                               "arguments"_a = arguments));
    }
    return tables;
}

py::dtype result_dtype(const py::dtype& dtype)
{
    const std::optional<ElementClass> type = element_class(dtype);
    if (!type) {
        throw py::type_error("image must be a real numeric or boolean array");
    }
    return dtype_of(lumasift::result_class(*type));
}

}  // namespace

PYBIND11_MODULE(_core, module)
{
    module.doc() = "The lumasift core; use the functions of the lumasift package.";
    module.def("lumasift", &lumasift_call, "x1"_a, "x2"_a, "x3"_a, "x4"_a);
    // imlumasift and lumasift_edges, from their tables: call(name, arguments
    // in the table's order, return_info); check(name, arguments) refuses
    // them before any work; operations() is the tables themselves.
    module.def("call", &call, "operation"_a, "arguments"_a, "return_info"_a);
    module.def("check", &check, "operation"_a, "arguments"_a);
    module.def("operations", &operations);
    // For the blocks of a larger image (lumasift.dask): the parameters from
    // statistics gathered apart, the halo a block needs, and its result.
    module.def("settled_parameters", &settled_parameters, "statistics"_a, "colour"_a, "channels"_a, "threshold"_a,
               "x3"_a, "x4"_a);
    module.def("block_halo",
               [](const Values& x3, bool makes_edges) { return lumasift::block_halo(given(x3), makes_edges); },
               "x3"_a, "makes_edges"_a);
    module.def("smooth_block", &smooth_block, "block"_a, "E"_a, "settled"_a, "threads"_a, "kept"_a = py::none());
    module.def("class_scale", [](const py::dtype& dtype) {
        const std::optional<ElementClass> type = element_class(dtype);
        if (!type) {
            throw py::type_error("a dtype of the core's");
        }
        return lumasift::class_scale(*type);
    }, "dtype"_a);
    module.def("image_statistics", &image_statistics, "I"_a, "colour"_a = true, "threads"_a = 0);
    module.attr("WIDEST_TILED_REACH") = lumasift::widest_tiled_reach();
    module.def("noise_lattice", &noise_lattice, "rows"_a, "cols"_a, "channels"_a, "dtype"_a, "range"_a);
    module.def("scale_of", [](const py::handle& range) { return lumasift::scale_of(as_range(range)); }, "range"_a);
    module.def("block_records", &block_records, "part"_a, "lattice"_a, "first_row"_a, "first_col"_a, "threads"_a = 0,
               "opponent"_a = py::none());
    module.def("statistics_of_records", &statistics_of_records, "records"_a, "scale"_a);
    module.def("texture_of_records", &texture_of_records, "records"_a, "statistics"_a);
    module.def("texture_lattice", [](py::ssize_t rows, py::ssize_t cols) {
        const lumasift::BlockLattice lattice = lumasift::texture_lattice(rows, cols);
        return Lattice{lattice.step, lattice.stride, lattice.clipped_below, lattice.clipped_above};
    }, "rows"_a, "cols"_a);
    module.attr("COLOUR_CHANNELS") = lumasift::COLOUR_CHANNELS;
    module.def("opponent_basis", [] {
        py::tuple rows(lumasift::COLOUR_CHANNELS);
        for (int row = 0; row < lumasift::COLOUR_CHANNELS; ++row) {
            const double* weight = lumasift::OPPONENT_BASIS.row[row].weight;
            rows[row] = py::make_tuple(weight[0], weight[1], weight[2]);
        }
        return rows;
    });
    module.attr("NOISE_BLOCK") = lumasift::NOISE_BLOCK;
    module.def("scale_block_side", &lumasift::scale_block_side, "rows"_a, "cols"_a);
    module.def("measure_range", &measure_range, "part"_a, "side"_a, "threads"_a = 0);
    module.def("result_dtype", &result_dtype, "dtype"_a);
}

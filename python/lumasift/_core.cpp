// lumasift._core: the core on numpy arrays, with the checks, defaults and
// results of the Octave modules (gateway/). The Python layer (__init__.py)
// reads the scalars and holds the help; everything that touches an array's
// memory is checked here.
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

// Values given as one for every set of channels, or one for each set; the
// Python layer hands them over as lists.
using Values = std::optional<std::vector<double>>;

lumasift::GivenValues given(const Values& values)
{
    if (!values) {
        return {};
    }
    return {values->data(), static_cast<std::ptrdiff_t>(values->size())};
}

// The core's report of a fault: TypeError where an argument is of a type the
// core does not take, ValueError where it is of the wrong size or value.
[[noreturn]] void raise_fault(lumasift::ArgumentFault fault, bool wrong_type, const lumasift::HostImage* image,
                              const std::optional<double>& x3 = std::nullopt)
{
    const lumasift::FaultReport report = lumasift::fault_report(fault, "", image, pointer(x3));
    if (wrong_type) {
        throw py::type_error(report.message);
    }
    throw py::value_error(report.message);
}

// An image and the array that holds its elements, kept alive with it.
struct Image {
    py::array array;
    lumasift::HostImage host;
};

// An argument read as an image in place, or `fault` raised: TypeError for a
// dtype the core does not take, ValueError for other than two or three
// dimensions. `image` names the size of I in an E's message.
Image read_image(const py::handle& argument, lumasift::ArgumentFault fault,
                 const lumasift::HostImage* image = nullptr)
{
    py::array array = as_array(argument);
    const std::optional<ElementClass> type = array ? element_class(array.dtype()) : std::nullopt;
    if (!type) {
        raise_fault(fault, true, image);
    }
    if (array.ndim() != 2 && array.ndim() != 3) {
        raise_fault(fault, false, image);
    }
    array = with_element_strides(array);
    return {array,
            {array.data(), *type, array.shape(0), array.shape(1), array.ndim() == 3 ? array.shape(2) : 1,
             layout_of(array)}};
}

Image image_argument(const py::handle& argument)
{
    return read_image(argument, lumasift::ArgumentFault::image);
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

// A given x3 too wide to tile the image, refused before any work.
void check_window(py::ssize_t rows, py::ssize_t cols, double x3)
{
    const lumasift::HostImage shape{nullptr, ElementClass::float64, rows, cols, 1, lumasift::column_major(rows, cols)};
    const lumasift::ArgumentFault fault =
        lumasift::check_smoothing(&shape, false, false, nullptr, true, lumasift::given_value(&x3), {});
    if (fault != lumasift::ArgumentFault::none) {
        raise_fault(fault, false, &shape, x3);
    }
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

py::object imlumasift(const py::handle& image_argument_, const py::handle& edge_argument, const Values& x3,
                      const Values& x4, bool return_info, bool colour, const Values& threshold, int threads,
                      std::optional<Region> kept_argument)
{
    const Image image = image_argument(image_argument_);
    const lumasift::HostImage& host = image.host;
    const bool edges_given = !edge_argument.is_none();
    const Image edges = edges_given ? read_image(edge_argument, lumasift::ArgumentFault::edges, &host) : Image{};
    const lumasift::ArgumentFault fault = lumasift::check_smoothing(
        &host, colour, edges_given, edges_given ? &edges.host : nullptr, true, given(x3), given(x4));
    if (fault == lumasift::ArgumentFault::none && threshold &&
        lumasift::check_edges(&host, colour, true, given(threshold)) != lumasift::ArgumentFault::none) {
        raise_fault(lumasift::ArgumentFault::threshold, false, &host);
    }
    if (fault != lumasift::ArgumentFault::none) {
        const double* widest = lumasift::widest(given(x3));
        raise_fault(fault, false, &host, widest != nullptr ? std::optional(*widest) : std::nullopt);
    }

    lumasift::CallParameters parameters;
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::settle_smoothing(host, colour, edges_given, given(x3), given(x4), return_info, parameters,
                                          options, given(threshold));
    }, threads);
    std::vector<py::ssize_t> shape = shape_of(image.array);
    const std::optional<lumasift::PixelRegion> kept = kept_argument ? std::optional(region_within(*kept_argument, host))
                                                                    : std::nullopt;
    if (kept) {
        shape[0] = kept->rows;
        shape[1] = kept->cols;
    }
    py::array result = array_like(image.array, dtype_of(lumasift::result_class(host.value_class)), shape);
    const lumasift::Layout result_layout = layout_of(result);
    void* result_data = result.mutable_data();
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::smooth_image(host, edges_given ? &edges.host : nullptr, parameters, result_data,
                                      result_layout, options, kept ? &*kept : nullptr);
    }, threads);
    if (!return_info) {
        return std::move(result);
    }
    lumasift::InfoField info[lumasift::SMOOTHING_INFO_FIELDS];
    lumasift::smoothing_info(parameters, info);
    return py::make_tuple(result, info_dict(info, lumasift::SMOOTHING_INFO_FIELDS));
}

py::object lumasift_edges(const py::handle& image_argument_, const Values& threshold, bool return_info, bool colour,
                          int threads)
{
    const Image image = image_argument(image_argument_);
    if (lumasift::check_edges(&image.host, colour, true, given(threshold)) != lumasift::ArgumentFault::none) {
        raise_fault(lumasift::ArgumentFault::threshold, false, &image.host);
    }
    lumasift::CallParameters parameters;
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::settle_edges(image.host, colour, given(threshold), return_info, parameters, options);
    }, threads);
    std::vector<py::ssize_t> shape{image.host.rows, image.host.cols};
    if (parameters.colour) {
        shape.push_back(parameters.sets());
    }
    py::array edges = array_like(image.array, py::dtype::of<double>(), shape);
    const lumasift::Layout edge_layout = layout_of(edges);
    double* edge_data = static_cast<double*>(edges.mutable_data());
    run_core([&](const lumasift::CallOptions& options) {
        return lumasift::make_edge_maps(image.host, parameters, edge_data, edge_layout, options);
    }, threads);
    if (!return_info) {
        return std::move(edges);
    }
    lumasift::InfoField info[lumasift::EDGES_INFO_FIELDS];
    lumasift::edges_info(parameters, info);
    return py::make_tuple(edges, info_dict(info, lumasift::EDGES_INFO_FIELDS));
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
        raise_fault(lumasift::ArgumentFault::image, true, nullptr);
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

py::dict default_parameters(const py::dict& statistics, py::ssize_t channels)
{
    const lumasift::ImageStatistics measured{
        statistics["noise"].cast<double>(), statistics["scale"].cast<double>(),
        statistics["texture"].cast<double>(), statistics["fine_texture"].cast<double>(),
        statistics["structure"].cast<double>()};
    const lumasift::DefaultParameters defaults = lumasift::default_parameters(measured, channels);
    return py::dict("threshold"_a = defaults.threshold, "x3"_a = defaults.x3, "x4"_a = defaults.x4);
}

py::dtype result_dtype(const py::dtype& dtype)
{
    const std::optional<ElementClass> type = element_class(dtype);
    if (!type) {
        raise_fault(lumasift::ArgumentFault::image, true, nullptr);
    }
    return dtype_of(lumasift::result_class(*type));
}

}  // namespace

PYBIND11_MODULE(_core, module)
{
    module.doc() = "The lumasift core; use the functions of the lumasift package.";
    module.def("lumasift", &lumasift_call, "x1"_a, "x2"_a, "x3"_a, "x4"_a);
    // For a block of a larger image: threshold, the edges' threshold where E
    // is None (None measures the image given); threads, as many as the call
    // may run on (0: every core it justifies). The counts take threads too.
    module.def("imlumasift", &imlumasift, "I"_a, "E"_a, "x3"_a, "x4"_a, "return_info"_a, "colour"_a = true,
               "threshold"_a = py::none(), "threads"_a = 0, "kept"_a = py::none());
    module.def("lumasift_edges", &lumasift_edges, "I"_a, "threshold"_a, "return_info"_a, "colour"_a = true,
               "threads"_a = 0);
    module.def("image_statistics", &image_statistics, "I"_a, "colour"_a = true, "threads"_a = 0);
    module.attr("WIDEST_TILED_REACH") = lumasift::widest_tiled_reach();
    module.def("default_parameters", &default_parameters, "statistics"_a, "channels"_a);
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
    module.def("window_radius_for", &lumasift::window_radius_for, "x3"_a);
    module.def("check_window", &check_window, "rows"_a, "cols"_a, "x3"_a);
    module.def("measure_range", &measure_range, "part"_a, "side"_a, "threads"_a = 0);
    module.def("result_dtype", &result_dtype, "dtype"_a);
}

#include "../exact_arithmetic.h"

#include "lanes.h"

#include <cmath>
#include <cstdint>

#include "../constants.h"
#include "../convert.h"

#define LANES_TARGET

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// One pixel per lane group, in plain C++: the lane kernel as the maths
// reads, in doubles or, for the approximation, in floats.
template <class T>
struct PlainLanes {
    static constexpr int WIDTH = 1;
    using Value = T;
    using Vec = T;
    using Mask = bool;

    static Vec zero() { return T{0}; }
    static Vec broadcast(double x) { return static_cast<T>(x); }
    static Vec load(const T* p) { return *p; }
    static Vec load(const T* p, Mask valid) { return valid ? *p : T{0}; }
    static Vec add(Vec a, Vec b) { return a + b; }
    static Vec mul(Vec a, Vec b) { return a * b; }
    static Vec divide(Vec a, Vec b) { return a / b; }
    static Vec add_where(Mask valid, Vec acc, Vec x) { return valid ? acc + x : acc; }
    static Vec select(Mask far, Vec near_weight, Vec far_weight) { return far ? far_weight : near_weight; }
    static Mask from_bits(unsigned bits) { return (bits & 1u) != 0; }
};

struct ScalarLanes : PlainLanes<double> {
    static Vec sub(Vec a, Vec b) { return a - b; }
    static Vec sqrt(Vec a) { return std::sqrt(a); }
    static Vec max_number(Vec a, Vec b) { return std::fmax(a, b); }
    static void store(double* p, Vec v) { *p = v; }
    static unsigned edge_flags(const double* p) { return is_edge_value(*p); }
    static void load_bytes(const std::uint8_t* bytes, double* values) { *values = as_double(*bytes); }
    static void store_bytes(const double* values, std::uint8_t* bytes) { *bytes = converted<std::uint8_t>(*values); }
};

struct ScalarFloatLanes : PlainLanes<float> {
    static void store_doubles(double* p, Vec v) { *p = v; }
};

}  // namespace

}  // namespace lumasift

#include "kernel-inl.h"

namespace lumasift LUMASIFT_HIDDEN {

void filter_pixels(const LanePass& pass, int line, int first, int end)
{
    filter_few<ScalarLanes>(pass, line, first, end);
}

LaneKernels scalar_kernels()
{
    return kernels_for<ScalarLanes, ScalarFloatLanes>();
}

}  // namespace lumasift

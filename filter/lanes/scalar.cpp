#include "../exact_arithmetic.h"

#include "lanes.h"

#include <cmath>
#include <cstdint>

#include "../constants.h"
#include "../convert.h"

#define LANES_TARGET

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// One pixel per lane group, in plain C++: the lane kernel as the maths reads.
struct ScalarLanes {
    static constexpr int WIDTH = 1;
    using Value = double;
    using Vec = double;
    using Mask = bool;

    static Vec zero() { return 0.0; }
    static Vec broadcast(double x) { return x; }
    static Vec load(const double* p) { return *p; }
    static Vec load(const double* p, Mask valid) { return valid ? *p : 0.0; }
    static Vec add(Vec a, Vec b) { return a + b; }
    static Vec mul(Vec a, Vec b) { return a * b; }
    static Vec divide(Vec a, Vec b) { return a / b; }
    static Vec sub(Vec a, Vec b) { return a - b; }
    static Vec sqrt(Vec a) { return std::sqrt(a); }
    static Vec max_number(Vec a, Vec b) { return std::fmax(a, b); }
    static void store(double* p, Vec v) { *p = v; }
    static Vec add_where(Mask valid, Vec acc, Vec x) { return valid ? acc + x : acc; }
    static Vec select(Mask far, Vec near_weight, Vec far_weight) { return far ? far_weight : near_weight; }
    static Mask from_bits(unsigned bits) { return (bits & 1u) != 0; }
    static unsigned edge_flags(const double* p) { return is_edge_value(*p); }
    static void load_bytes(const std::uint8_t* bytes, double* values) { *values = as_double(*bytes); }
    static void store_bytes(const double* values, std::uint8_t* bytes) { *bytes = converted<std::uint8_t>(*values); }
};

// The approximation one pixel wide, in floats.
struct ScalarFloatLanes {
    static constexpr int WIDTH = 1;
    using Value = float;
    using Vec = float;
    using Mask = bool;

    static Vec zero() { return 0.0f; }
    static Vec broadcast(double x) { return static_cast<float>(x); }
    static Vec load(const float* p) { return *p; }
    static Vec load(const float* p, Mask valid) { return valid ? *p : 0.0f; }
    static Vec add(Vec a, Vec b) { return a + b; }
    static Vec mul(Vec a, Vec b) { return a * b; }
    static Vec divide(Vec a, Vec b) { return a / b; }
    static Vec add_where(Mask valid, Vec acc, Vec x) { return valid ? acc + x : acc; }
    static Vec select(Mask far, Vec near_weight, Vec far_weight) { return far ? far_weight : near_weight; }
    static Mask from_bits(unsigned bits) { return (bits & 1u) != 0; }
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

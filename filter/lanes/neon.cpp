#include "../exact_arithmetic.h"

#include "lanes.h"

#if defined(__aarch64__) || defined(_M_ARM64)

#include <arm_neon.h>

#include <cstdint>

#include "../constants.h"
#include "../convert.h"

// Advanced SIMD is part of every AArch64 processor: no flag to compile for,
// no question to ask at run time.
#define LANES_TARGET

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// Lane masks for each pattern of two bits.
const std::uint64_t MASK_PATTERNS[4][2] = {{0, 0}, {~0ull, 0}, {0, ~0ull}, {~0ull, ~0ull}};

// Two pixels per lane group; a mask is a vector whose lanes are all ones or
// all zeros. There are no masked loads: only the lanes inside are read.
struct NeonLanes {
    static constexpr int WIDTH = 2;
    using Value = double;
    using Vec = float64x2_t;
    using Mask = uint64x2_t;

    static Vec zero() { return vdupq_n_f64(0.0); }
    static Vec broadcast(double x) { return vdupq_n_f64(x); }
    static Vec load(const double* p) { return vld1q_f64(p); }
    static Vec load(const double* p, Mask valid)
    {
        const double first = vgetq_lane_u64(valid, 0) != 0 ? p[0] : 0.0;
        const double second = vgetq_lane_u64(valid, 1) != 0 ? p[1] : 0.0;
        return vsetq_lane_f64(second, vsetq_lane_f64(first, vdupq_n_f64(0.0), 0), 1);
    }
    static Vec add(Vec a, Vec b) { return vaddq_f64(a, b); }
    static Vec mul(Vec a, Vec b) { return vmulq_f64(a, b); }
    static Vec divide(Vec a, Vec b) { return vdivq_f64(a, b); }
    static Vec sub(Vec a, Vec b) { return vsubq_f64(a, b); }
    static Vec sqrt(Vec a) { return vsqrtq_f64(a); }
    // IEEE maxNum, which is std::fmax.
    static Vec max_number(Vec a, Vec b) { return vmaxnmq_f64(a, b); }
    static void store(double* p, Vec v) { vst1q_f64(p, v); }
    static Vec add_where(Mask valid, Vec acc, Vec x) { return vbslq_f64(valid, vaddq_f64(acc, x), acc); }
    static Vec select(Mask far, Vec near_weight, Vec far_weight) { return vbslq_f64(far, far_weight, near_weight); }
    static Mask from_bits(unsigned bits) { return vld1q_u64(MASK_PATTERNS[bits & 3u]); }
    static unsigned edge_flags(const double* p)
    {
        const float64x2_t v = vld1q_f64(p);
        const uint64x2_t edge = vandq_u64(vcgeq_f64(v, vdupq_n_f64(LOWEST_EDGE_VALUE)),
                                          vcltq_f64(v, vdupq_n_f64(EDGE_VALUE_LIMIT)));
        return static_cast<unsigned>((vgetq_lane_u64(edge, 0) & 1u) | ((vgetq_lane_u64(edge, 1) & 1u) << 1));
    }
    static void load_bytes(const std::uint8_t* bytes, double* values)
    {
        values[0] = as_double(bytes[0]);
        values[1] = as_double(bytes[1]);
    }
    static void store_bytes(const double* values, std::uint8_t* bytes)
    {
        bytes[0] = converted<std::uint8_t>(values[0]);
        bytes[1] = converted<std::uint8_t>(values[1]);
    }
};

// Four floats per lane group, for the approximation.
struct NeonFloatLanes {
    static constexpr int WIDTH = 4;
    using Value = float;
    using Vec = float32x4_t;
    using Mask = uint32x4_t;

    static Vec zero() { return vdupq_n_f32(0.0f); }
    static Vec broadcast(double x) { return vdupq_n_f32(static_cast<float>(x)); }
    static Vec load(const float* p) { return vld1q_f32(p); }
    static Vec load(const float* p, Mask valid)
    {
        std::uint32_t inside[4];
        vst1q_u32(inside, valid);
        float lanes[4];
        for (int i = 0; i < 4; ++i) {
            lanes[i] = inside[i] != 0 ? p[i] : 0.0f;
        }
        return vld1q_f32(lanes);
    }
    static Vec add(Vec a, Vec b) { return vaddq_f32(a, b); }
    static Vec mul(Vec a, Vec b) { return vmulq_f32(a, b); }
    static Vec divide(Vec a, Vec b) { return vdivq_f32(a, b); }
    static Vec add_where(Mask valid, Vec acc, Vec x) { return vbslq_f32(valid, vaddq_f32(acc, x), acc); }
    static Vec select(Mask far, Vec near_weight, Vec far_weight) { return vbslq_f32(far, far_weight, near_weight); }
    // Lane i all ones where bit i is set.
    static Mask from_bits(unsigned bits)
    {
        const std::uint32_t lane_bit[4] = {1, 2, 4, 8};
        return vtstq_u32(vdupq_n_u32(bits), vld1q_u32(lane_bit));
    }
    static void store_doubles(double* p, Vec v)
    {
        vst1q_f64(p, vcvt_f64_f32(vget_low_f32(v)));
        vst1q_f64(p + 2, vcvt_high_f64_f32(v));
    }
};

}  // namespace

}  // namespace lumasift

#include "kernel-inl.h"

namespace lumasift LUMASIFT_HIDDEN {

LaneKernels neon_kernels()
{
    return kernels_for<NeonLanes, NeonFloatLanes>();
}

}  // namespace lumasift

#else

namespace lumasift LUMASIFT_HIDDEN {

LaneKernels neon_kernels()
{
    return LaneKernels{};
}

}  // namespace lumasift

#endif

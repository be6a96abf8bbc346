#include "../exact_arithmetic.h"

#include "lanes.h"

#include "processor.h"

#if defined(LUMASIFT_X86_LANES)

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "../constants.h"
#include "../convert.h"

// GCC 12 warns of the undefined vectors that its own intrinsics start from.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Compiled for AVX-512 function by function, so that the module builds with
// any flags and runs these only after asking the processor.
#define LANES_TARGET __attribute__((target("avx512f")))

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// Eight pixels per lane group; masks are the processor's mask registers.
struct Avx512Lanes {
    static constexpr int WIDTH = 8;
    using Value = double;
    using Vec = __m512d;
    using Mask = __mmask8;

    LANES_TARGET static Vec zero() { return _mm512_setzero_pd(); }
    LANES_TARGET static Vec broadcast(double x) { return _mm512_set1_pd(x); }
    LANES_TARGET static Vec load(const double* p) { return _mm512_loadu_pd(p); }
    // Masked-out lanes are not read, so they may lie outside the image.
    LANES_TARGET static Vec load(const double* p, Mask valid) { return _mm512_maskz_loadu_pd(valid, p); }
    LANES_TARGET static Vec add(Vec a, Vec b) { return _mm512_add_pd(a, b); }
    LANES_TARGET static Vec mul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
    LANES_TARGET static Vec divide(Vec a, Vec b) { return _mm512_div_pd(a, b); }
    LANES_TARGET static Vec sub(Vec a, Vec b) { return _mm512_sub_pd(a, b); }
    LANES_TARGET static Vec sqrt(Vec a) { return _mm512_sqrt_pd(a); }
    // std::fmax: max_pd gives its second operand where either is NaN.
    LANES_TARGET static Vec max_number(Vec a, Vec b)
    {
        return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(b, b, _CMP_UNORD_Q), _mm512_max_pd(a, b), a);
    }
    LANES_TARGET static void store(double* p, Vec v) { _mm512_storeu_pd(p, v); }
    LANES_TARGET static Vec add_where(Mask valid, Vec acc, Vec x)
    {
        return _mm512_mask_add_pd(acc, valid, acc, x);
    }
    LANES_TARGET static Vec select(Mask far, Vec near_weight, Vec far_weight)
    {
        return _mm512_mask_blend_pd(far, near_weight, far_weight);
    }
    LANES_TARGET static Mask from_bits(unsigned bits) { return static_cast<Mask>(bits); }
    LANES_TARGET static unsigned edge_flags(const double* p)
    {
        const __m512d v = _mm512_loadu_pd(p);
        const __mmask8 low = _mm512_cmp_pd_mask(v, _mm512_set1_pd(LOWEST_EDGE_VALUE), _CMP_GE_OQ);
        return _mm512_mask_cmp_pd_mask(low, v, _mm512_set1_pd(EDGE_VALUE_LIMIT), _CMP_LT_OQ);
    }
    LANES_TARGET static void load_bytes(const std::uint8_t* bytes, double* values)
    {
        std::int64_t eight;
        std::memcpy(&eight, bytes, sizeof eight);
        const __m512i wide = _mm512_cvtepu8_epi32(_mm_cvtsi64_si128(eight));
        _mm512_storeu_pd(values, _mm512_cvtepi32_pd(_mm512_castsi512_si256(wide)));
    }
    // NaN to 0, saturated to [0, 255], then up by one where the fraction is
    // at least one half: exactly converted<std::uint8_t>.
    LANES_TARGET static void store_bytes(const double* values, std::uint8_t* bytes)
    {
        const __m512d y = _mm512_loadu_pd(values);
        const __m512d number = _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(y, y, _CMP_ORD_Q), y);
        const __m512d held = _mm512_min_pd(_mm512_max_pd(number, _mm512_setzero_pd()), _mm512_set1_pd(255.0));
        const __m512d whole = _mm512_cvtepi32_pd(_mm512_cvttpd_epi32(held));
        const __mmask8 up = _mm512_cmp_pd_mask(_mm512_sub_pd(held, whole), _mm512_set1_pd(0.5), _CMP_GE_OQ);
        const __m256i rounded = _mm512_cvttpd_epi32(_mm512_mask_add_pd(whole, up, whole, _mm512_set1_pd(1.0)));
        const __m128i packed = _mm512_cvtepi32_epi8(_mm512_castsi256_si512(rounded));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), packed);
    }
};

// Sixteen floats per lane group, for the approximation.
struct Avx512FloatLanes {
    static constexpr int WIDTH = 16;
    using Value = float;
    using Vec = __m512;
    using Mask = __mmask16;

    LANES_TARGET static Vec zero() { return _mm512_setzero_ps(); }
    LANES_TARGET static Vec broadcast(double x) { return _mm512_set1_ps(static_cast<float>(x)); }
    LANES_TARGET static Vec load(const float* p) { return _mm512_loadu_ps(p); }
    LANES_TARGET static Vec load(const float* p, Mask valid) { return _mm512_maskz_loadu_ps(valid, p); }
    LANES_TARGET static Vec add(Vec a, Vec b) { return _mm512_add_ps(a, b); }
    LANES_TARGET static Vec mul(Vec a, Vec b) { return _mm512_mul_ps(a, b); }
    LANES_TARGET static Vec divide(Vec a, Vec b) { return _mm512_div_ps(a, b); }
    LANES_TARGET static Vec add_where(Mask valid, Vec acc, Vec x) { return _mm512_mask_add_ps(acc, valid, acc, x); }
    LANES_TARGET static Vec select(Mask far, Vec near_weight, Vec far_weight)
    {
        return _mm512_mask_blend_ps(far, near_weight, far_weight);
    }
    LANES_TARGET static Mask from_bits(unsigned bits) { return static_cast<Mask>(bits); }
    LANES_TARGET static void store_doubles(double* p, Vec v)
    {
        _mm512_storeu_pd(p, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
        _mm512_storeu_pd(p + 8, _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1))));
    }
};

}  // namespace

}  // namespace lumasift

#include "kernel-inl.h"

namespace lumasift LUMASIFT_HIDDEN {

LaneKernels avx512_kernels()
{
    return processor_has_avx512f() ? kernels_for<Avx512Lanes, Avx512FloatLanes>() : LaneKernels{};
}

}  // namespace lumasift

#else

namespace lumasift LUMASIFT_HIDDEN {

LaneKernels avx512_kernels()
{
    return LaneKernels{};
}

}  // namespace lumasift

#endif

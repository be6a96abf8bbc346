#include "../exact_arithmetic.h"

#include "lanes.h"

#include "processor.h"

#if defined(LUMASIFT_X86_LANES)

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "../constants.h"
#include "../convert.h"

// Compiled for AVX2 function by function, so that the module builds with any
// flags and runs these only after asking the processor.
#define LANES_TARGET __attribute__((target("avx2")))

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// Lane masks for each pattern of four bits.
alignas(32) const std::uint64_t MASK_PATTERNS[16][4] = {
    {0, 0, 0, 0},    {~0ull, 0, 0, 0},    {0, ~0ull, 0, 0},    {~0ull, ~0ull, 0, 0},
    {0, 0, ~0ull, 0}, {~0ull, 0, ~0ull, 0}, {0, ~0ull, ~0ull, 0}, {~0ull, ~0ull, ~0ull, 0},
    {0, 0, 0, ~0ull}, {~0ull, 0, 0, ~0ull}, {0, ~0ull, 0, ~0ull}, {~0ull, ~0ull, 0, ~0ull},
    {0, 0, ~0ull, ~0ull}, {~0ull, 0, ~0ull, ~0ull}, {0, ~0ull, ~0ull, ~0ull}, {~0ull, ~0ull, ~0ull, ~0ull},
};

// Four pixels per lane group; a mask is a vector whose lanes are all ones or
// all zeros.
struct Avx2Lanes {
    static constexpr int WIDTH = 4;
    using Value = double;
    using Vec = __m256d;
    using Mask = __m256d;

    LANES_TARGET static Vec zero() { return _mm256_setzero_pd(); }
    LANES_TARGET static Vec broadcast(double x) { return _mm256_set1_pd(x); }
    LANES_TARGET static Vec load(const double* p) { return _mm256_loadu_pd(p); }
    // Masked-out lanes are not read, so they may lie outside the image.
    LANES_TARGET static Vec load(const double* p, Mask valid)
    {
        return _mm256_maskload_pd(p, _mm256_castpd_si256(valid));
    }
    LANES_TARGET static Vec add(Vec a, Vec b) { return _mm256_add_pd(a, b); }
    LANES_TARGET static Vec mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
    LANES_TARGET static Vec divide(Vec a, Vec b) { return _mm256_div_pd(a, b); }
    LANES_TARGET static Vec sub(Vec a, Vec b) { return _mm256_sub_pd(a, b); }
    LANES_TARGET static Vec sqrt(Vec a) { return _mm256_sqrt_pd(a); }
    // std::fmax: max_pd gives its second operand where either is NaN.
    LANES_TARGET static Vec max_number(Vec a, Vec b)
    {
        return _mm256_blendv_pd(_mm256_max_pd(a, b), a, _mm256_cmp_pd(b, b, _CMP_UNORD_Q));
    }
    LANES_TARGET static void store(double* p, Vec v) { _mm256_storeu_pd(p, v); }
    LANES_TARGET static Vec add_where(Mask valid, Vec acc, Vec x)
    {
        return _mm256_blendv_pd(acc, _mm256_add_pd(acc, x), valid);
    }
    LANES_TARGET static Vec select(Mask far, Vec near_weight, Vec far_weight)
    {
        return _mm256_blendv_pd(near_weight, far_weight, far);
    }
    LANES_TARGET static Mask from_bits(unsigned bits)
    {
        return _mm256_load_pd(reinterpret_cast<const double*>(MASK_PATTERNS[bits & 15u]));
    }
    LANES_TARGET static unsigned edge_flags(const double* p)
    {
        const __m256d v = _mm256_loadu_pd(p);
        const __m256d low = _mm256_cmp_pd(v, _mm256_set1_pd(LOWEST_EDGE_VALUE), _CMP_GE_OQ);
        const __m256d high = _mm256_cmp_pd(v, _mm256_set1_pd(EDGE_VALUE_LIMIT), _CMP_LT_OQ);
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_and_pd(low, high)));
    }
    LANES_TARGET static void load_bytes(const std::uint8_t* bytes, double* values)
    {
        std::int32_t four;
        std::memcpy(&four, bytes, sizeof four);
        _mm256_storeu_pd(values, _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four))));
    }
    // NaN to 0, saturated to [0, 255], then up by one where the fraction is
    // at least one half: exactly converted<std::uint8_t>.
    LANES_TARGET static void store_bytes(const double* values, std::uint8_t* bytes)
    {
        const __m256d y = _mm256_loadu_pd(values);
        const __m256d number = _mm256_and_pd(y, _mm256_cmp_pd(y, y, _CMP_ORD_Q));
        const __m256d held = _mm256_min_pd(_mm256_max_pd(number, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
        const __m128i whole = _mm256_cvttpd_epi32(held);
        const __m256d fraction = _mm256_sub_pd(held, _mm256_cvtepi32_pd(whole));
        const __m256d up = _mm256_and_pd(_mm256_cmp_pd(fraction, _mm256_set1_pd(0.5), _CMP_GE_OQ), _mm256_set1_pd(1.0));
        const __m128i rounded = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_cvtepi32_pd(whole), up));
        const __m128i packed = _mm_packus_epi16(_mm_packus_epi32(rounded, rounded), _mm_setzero_si128());
        const std::int32_t four = _mm_cvtsi128_si32(packed);
        std::memcpy(bytes, &four, sizeof four);
    }
};

// Eight floats per lane group, for the approximation.
struct Avx2FloatLanes {
    static constexpr int WIDTH = 8;
    using Value = float;
    using Vec = __m256;
    using Mask = __m256;

    LANES_TARGET static Vec zero() { return _mm256_setzero_ps(); }
    LANES_TARGET static Vec broadcast(double x) { return _mm256_set1_ps(static_cast<float>(x)); }
    LANES_TARGET static Vec load(const float* p) { return _mm256_loadu_ps(p); }
    LANES_TARGET static Vec load(const float* p, Mask valid)
    {
        return _mm256_maskload_ps(p, _mm256_castps_si256(valid));
    }
    LANES_TARGET static Vec add(Vec a, Vec b) { return _mm256_add_ps(a, b); }
    LANES_TARGET static Vec mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
    LANES_TARGET static Vec divide(Vec a, Vec b) { return _mm256_div_ps(a, b); }
    LANES_TARGET static Vec add_where(Mask valid, Vec acc, Vec x)
    {
        return _mm256_blendv_ps(acc, _mm256_add_ps(acc, x), valid);
    }
    LANES_TARGET static Vec select(Mask far, Vec near_weight, Vec far_weight)
    {
        return _mm256_blendv_ps(near_weight, far_weight, far);
    }
    // Lane i all ones where bit i is set.
    LANES_TARGET static Mask from_bits(unsigned bits)
    {
        const __m256i lane_bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
        const __m256i set = _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(bits)), lane_bit);
        return _mm256_castsi256_ps(_mm256_cmpeq_epi32(set, lane_bit));
    }
    LANES_TARGET static void store_doubles(double* p, Vec v)
    {
        _mm256_storeu_pd(p, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
        _mm256_storeu_pd(p + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
    }
};

}  // namespace

}  // namespace lumasift

#include "kernel-inl.h"

namespace lumasift LUMASIFT_HIDDEN {

LaneKernels avx2_kernels()
{
    return processor_has_avx2() ? kernels_for<Avx2Lanes, Avx2FloatLanes>() : LaneKernels{};
}

}  // namespace lumasift

#else

namespace lumasift LUMASIFT_HIDDEN {

LaneKernels avx2_kernels()
{
    return LaneKernels{};
}

}  // namespace lumasift

#endif

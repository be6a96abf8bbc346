#include "exact_arithmetic.h"

#include "lanes.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include <cstdint>

#include "filter.h"

// Compiled for AVX2 function by function, so that the module builds with any
// flags and runs these only after asking the processor.
#define LANES_TARGET __attribute__((target("avx2")))

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
    using Vec = __m256d;
    using Mask = __m256d;

    LANES_TARGET static Vec zero() { return _mm256_setzero_pd(); }
    LANES_TARGET static Vec broadcast(double x) { return _mm256_set1_pd(x); }
    LANES_TARGET static Vec load(const double* p) { return _mm256_loadu_pd(p); }
    // Masked-out lanes are not read, so they may lie outside the plane.
    LANES_TARGET static Vec load(const double* p, Mask valid)
    {
        return _mm256_maskload_pd(p, _mm256_castpd_si256(valid));
    }
    LANES_TARGET static Vec add(Vec a, Vec b) { return _mm256_add_pd(a, b); }
    LANES_TARGET static Vec mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
    LANES_TARGET static Vec add_where(Mask valid, Vec acc, Vec x)
    {
        return _mm256_blendv_pd(acc, _mm256_add_pd(acc, x), valid);
    }
    LANES_TARGET static Vec select(Mask far, Vec near_weight, Vec far_weight)
    {
        return _mm256_blendv_pd(near_weight, far_weight, far);
    }
    LANES_TARGET static Mask widen(__m128i flags)
    {
        return _mm256_castsi256_pd(_mm256_cvtepi32_epi64(flags));
    }
    LANES_TARGET static Mask edges_above(const std::int32_t* p)
    {
        const __m128i edges = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        return widen(_mm_cmpgt_epi32(edges, _mm_set1_epi32(EDGE_THRESHOLD)));
    }
    LANES_TARGET static Mask edges_above(const std::int32_t* p, Mask valid)
    {
        // The low half of each 64-bit lane mask, as four 32-bit lane masks.
        const __m256i halves = _mm256_permutevar8x32_epi32(_mm256_castpd_si256(valid),
                                                           _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
        const __m128i valid32 = _mm256_castsi256_si128(halves);
        const __m128i edges = _mm_maskload_epi32(p, valid32);
        return _mm256_and_pd(widen(_mm_cmpgt_epi32(edges, _mm_set1_epi32(EDGE_THRESHOLD))), valid);
    }
    LANES_TARGET static Mask either(Mask a, Mask b) { return _mm256_or_pd(a, b); }
    LANES_TARGET static Mask both(Mask a, Mask b) { return _mm256_and_pd(a, b); }
    LANES_TARGET static Mask none() { return _mm256_setzero_pd(); }
    LANES_TARGET static Mask from_bits(unsigned bits)
    {
        return _mm256_load_pd(reinterpret_cast<const double*>(MASK_PATTERNS[bits & 15u]));
    }
    LANES_TARGET static Mask load_mask(const std::uint16_t* p) { return from_bits(*p); }
    LANES_TARGET static void store_mask(std::uint16_t* p, Mask m)
    {
        *p = static_cast<std::uint16_t>(_mm256_movemask_pd(m));
    }
    LANES_TARGET static void store_quotient(double* out, Vec sum, Vec total, int count)
    {
        if (count >= WIDTH) {
            _mm256_storeu_pd(out, _mm256_div_pd(sum, total));
        } else if (count > 0) {
            const Mask stored = from_bits((1u << count) - 1u);
            _mm256_maskstore_pd(out, _mm256_castpd_si256(stored), _mm256_div_pd(sum, total));
        }
    }
};

}  // namespace

#include "lane_kernel.h"

RowFilter avx2_row_filter()
{
    if (__builtin_cpu_supports("avx2")) {
        return &filter_row<Avx2Lanes>;
    }
    return nullptr;
}

#else

RowFilter avx2_row_filter()
{
    return nullptr;
}

#endif

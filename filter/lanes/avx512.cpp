#include "../exact_arithmetic.h"

#include "lanes.h"

#include "processor.h"

#if defined(LUMASIFT_X86_LANES)

#include <immintrin.h>

// Compiled for AVX-512 function by function, so that the module builds with
// any flags and runs these only after asking the processor.
#define LANES_TARGET __attribute__((target("avx512f")))

namespace lumasift LUMASIFT_HIDDEN {

namespace {

// Eight pixels per lane group; masks are the processor's mask registers.
struct Avx512Lanes {
    static constexpr int WIDTH = 8;
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
};

}  // namespace

}  // namespace lumasift

#include "kernel-inl.h"

namespace lumasift LUMASIFT_HIDDEN {

LanePath avx512_lanes()
{
    return processor_has_avx512f() ? LANES<Avx512Lanes> : LanePath{nullptr, nullptr};
}

}  // namespace lumasift

#else

namespace lumasift LUMASIFT_HIDDEN {

LanePath avx512_lanes()
{
    return {nullptr, nullptr};
}

}  // namespace lumasift

#endif

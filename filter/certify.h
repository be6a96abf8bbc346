// Results of a narrower class than double, from an approximation that is
// proven to convert as the exact double does.
//
// The lane engine's float kernels (LaneKernels::approximate_line) compute
// each window in floats: the values and weights rounded to float, sums and
// quotient in float, in any order. A result of class T needs only
// convert<T>(y) of the exact double y, and conversion is monotone, so where
// convert(ŷ - B) == convert(ŷ + B) for a bound |ŷ - y| <= B, that value is
// convert(y): Ziv's rounding test. Elsewhere the pixel is evaluated exactly.
//
// The bound, for a window of at most n samples (u = 2^-53 and v = 2^-24 the
// unit roundoffs of double and float, γ(k, r) = k r / (1 - k r); Higham,
// Accuracy and Stability of Numerical Algorithms, §3.1 and Lemma 3.3). Let
// w_i be the exact rule's weights (near or far, chosen by the same shadow
// bits in both kernels), x_i its values, S* = Σ x_i w_i and T* = Σ w_i
// exactly, and m = Σ |x_i| w_i / T*, the window's mean magnitude.
// 1. The exact rule: its sum S of the products in double has
//    |S - S*| <= γ(n, u) m T*, its total T (accumulated, or the plain total,
//    a double sum of the same weights) |T - T*| <= γ(n, u) T*, and
//    y = fl(S / T). So |S / T - S*/T*| <= m 2γ(n, u) / (1 - γ(n, u)) and
//    |y - S / T| <= u m (1 + γ(n, u)) / (1 - γ(n, u)): together m α_d.
// 2. The approximation: x'_i = x_i (1 + η), w'_i = w_i (1 + ε), |η|, |ε| <= v
//    (the float conversions); the float kernels sum a block of the schedule
//    at a time and fold the blocks, so each product meets at most
//    d = summation_depth(n) roundings on its way into the sum (its own, the
//    block's additions, the folds), and Ŝ = Σ x_i w_i (1 + φ_i) with
//    |φ_i| <= ρ_S = γ(d + 2, v). Likewise T̂ = T* (1 + ψ),
//    |ψ| <= ρ_T = γ(d + 1, v), for a float sum of the w'_i and for the float
//    of the plain total (v + γ(n - 1, u) <= γ(d + 1, v): n u < v).
//    Then |Ŝ / T̂ - S*/T*| <= |Ŝ - S*| / T̂ + (|S*| / T*) ρ_T / (1 - ρ_T)
//    <= m (ρ_S + ρ_T) / (1 - ρ_T), and the float quotient ŷ adds at most
//    v |Ŝ / T̂| <= v m (1 + ρ_S) / (1 - ρ_T): together m α.
// 3. So |ŷ - y| <= m (α + α_d) + ABSOLUTE. ABSOLUTE covers what is absolute
//    rather than relative, against a total T* >= 1 (the centre's weight is
//    exp(0) = 1 at either width, checked where the tables are built): the
//    weights below 2^-60 that the float kernels take as 0, each moving S* by
//    at most 2^-60 |x| and T* by 2^-60, and underflow, at most 2^-150 an
//    operation in float and 2^-1075 in double, over 3n + 2 operations. So
//    (3n + 2) (value_limit + 1) 2^-58 holds them all.
// 4. m: at most the largest |x| the window can hold (value_limit); and where
//    no value is negative, m = S*/T* and step 2 gives ŷ >= m (1 - α) -
//    ABSOLUTE, so m <= (ŷ + ABSOLUTE) / (1 - α), which follows the pixel.
// 5. The bound used has room for its own arithmetic in double: m and B
//    round by at most 6u relative, which BOUND_SLACK covers, and ŷ ± B by
//    at most u (|ŷ| + B), which 2^-50 |ŷ| covers with the slack.
#ifndef LUMASIFT_CERTIFY_H
#define LUMASIFT_CERTIFY_H

#include <atomic>
#include <cmath>
#include <cstdint>

#include "hidden.h"
#include "image.h"

namespace lumasift LUMASIFT_HIDDEN {

constexpr double BOUND_SLACK = 1.0 + 0x1p-30;

// How far an approximation of a window of up to `samples` samples may lie
// from the exact double: steps 1 to 3 above.
struct ApproximationBound {
    double alpha;      // the approximation's relative part, α
    double relative;   // α + α_d
    double absolute;   // ABSOLUTE, for values of magnitude up to value_limit
};

ApproximationBound approximation_bound(int samples, double value_limit);

// The bound B as slope |ŷ| + offset: step 4 where the values are never
// negative, from ŷ, and else from value_limit; with step 5's room, which
// also holds the rounding of slope, offset and their use (a few u).
struct LinearBound {
    double slope;
    double offset;

    double at(double approximation) const { return slope * std::fabs(approximation) + offset; }
};

LinearBound linear_bound(const ApproximationBound& bound, bool nonnegative, double value_limit);

// Whether the approximation pays for values of this class, which are also
// the results', and windows of up to `samples` samples: where its bound at
// the class's largest magnitude is small against the class's unit, so that
// few pixels fall back to the exact evaluation.
bool approximation_pays(ElementClass value_class, int samples);

// The largest magnitude of a class's values: for classes of 16 bits or
// fewer, infinity for the others, which the approximation does not take.
double class_value_limit(ElementClass value_class);

// Pixels of a call that the approximation decided and that it sent to the
// exact evaluation, for tests and benchmarks.
struct PathCounts {
    std::atomic<std::int64_t> approximated{0};
    // Of those, the ones Ziv's test left undecided, evaluated exactly.
    std::atomic<std::int64_t> undecided{0};
};

}  // namespace lumasift

#endif

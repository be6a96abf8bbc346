#include "exact_arithmetic.h"

#include "certify.h"

#include <cmath>
#include <limits>

#include "lanes/types.h"

namespace lumasift LUMASIFT_HIDDEN {

namespace {

constexpr double DOUBLE_ROUNDOFF = 0x1p-53;
constexpr double FLOAT_ROUNDOFF = 0x1p-24;

double gamma(double k, double roundoff)
{
    return k * roundoff / (1.0 - k * roundoff);
}

// An approximation's bound at its largest value must stay below this part
// of the class's unit for it to pay: beyond, pixels near the rounding
// boundaries, about twice the bound's share of them, would fall back.
constexpr double LARGEST_PAYING_BOUND = 1.0 / 16.0;
// Windows of fewer samples (reach 1) hold too little arithmetic for the
// floats to save what the test costs: measured 1.12x of the exact path
// there, 0.96x at reach 2 and 0.78x at reach 10 (bench/filter_bench.cpp).
constexpr int FEWEST_PAYING_SAMPLES = 25;

}  // namespace

ApproximationBound approximation_bound(int samples, double value_limit)
{
    const double n = samples > 2 ? samples : 2;
    const double exact_gamma = gamma(n, DOUBLE_ROUNDOFF);
    const double alpha_d = (2.0 * exact_gamma + DOUBLE_ROUNDOFF * (1.0 + exact_gamma)) / (1.0 - exact_gamma);
    const double depth = summation_depth(samples > 2 ? samples : 2);
    const double rho_s = gamma(depth + 2.0, FLOAT_ROUNDOFF);
    const double rho_t = gamma(depth + 1.0, FLOAT_ROUNDOFF);
    const double alpha = (rho_s + rho_t + FLOAT_ROUNDOFF * (1.0 + rho_s)) / (1.0 - rho_t);
    return {alpha, alpha + alpha_d, (3.0 * n + 2.0) * (value_limit + 1.0) * 0x1p-58};
}

LinearBound linear_bound(const ApproximationBound& bound, bool nonnegative, double value_limit)
{
    constexpr double SUM_ROUNDING = 0x1p-50;
    if (nonnegative) {
        const double per_magnitude = bound.relative / (1.0 - bound.alpha);
        return {per_magnitude * BOUND_SLACK + SUM_ROUNDING,
                (per_magnitude * bound.absolute + bound.absolute) * BOUND_SLACK};
    }
    return {SUM_ROUNDING, (bound.relative * value_limit + bound.absolute) * BOUND_SLACK};
}

double class_value_limit(ElementClass value_class)
{
    switch (value_class) {
    case ElementClass::uint8: return 255.0;
    case ElementClass::int8: return 128.0;
    case ElementClass::uint16: return 65535.0;
    case ElementClass::int16: return 32768.0;
    default: return std::numeric_limits<double>::infinity();
    }
}

bool approximation_pays(ElementClass value_class, int samples)
{
    const double limit = class_value_limit(value_class);
    if (!std::isfinite(limit) || samples < FEWEST_PAYING_SAMPLES || samples > (1 << 20)) {
        return false;
    }
    return linear_bound(approximation_bound(samples, limit), false, limit).at(limit) <= LARGEST_PAYING_BOUND;
}

}  // namespace lumasift

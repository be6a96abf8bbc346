// Conversions between the host's element classes and the doubles the
// filter works in, exactly as the host converts.
#ifndef LUMASIFT_CONVERT_H
#define LUMASIFT_CONVERT_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "hidden.h"
#include "image.h"

// Inlined wherever used, so that callers compiled for wider vectors
// convert with them.
#if defined(__GNUC__)
#define CONVERT_INLINE inline __attribute__((always_inline))
#else
#define CONVERT_INLINE inline
#endif

namespace lumasift LUMASIFT_HIDDEN {

// A value as a double, as the host converts it: exactly, but for 64-bit
// integers, which go to the nearest double.
template <class T>
CONVERT_INLINE double as_double(T value)
{
    return static_cast<double>(value);
}

CONVERT_INLINE double as_double(LogicalElement element)
{
    return element.value != 0 ? 1.0 : 0.0;
}

// A filtered value in the result's class, as the host converts a double:
// NaN to 0, rounded half away from zero, saturated.
template <class T>
CONVERT_INLINE T converted(double y)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(y);
    } else {
        constexpr double lowest = static_cast<double>(std::numeric_limits<T>::min());
        constexpr double highest = static_cast<double>(std::numeric_limits<T>::max());
        if constexpr (sizeof(T) < 8) {
            // Saturating first gives the same integer, and leaves a value
            // that truncation takes exactly; the fraction is exact too.
            // Branch-free, so that the compiler may convert many at a time.
            using Whole = std::conditional_t<sizeof(T) < 4, std::int32_t, std::int64_t>;
            const double number = y == y ? y : 0.0;
            const double held = std::min(std::max(number, lowest), highest);
            const Whole whole = static_cast<Whole>(held);
            const double fraction = held - static_cast<double>(whole);
            return static_cast<T>(whole + static_cast<Whole>(fraction >= 0.5) - static_cast<Whole>(fraction <= -0.5));
        } else {
            // No C library's round: some round 0.49999999999999994 up.
            if (std::isnan(y)) {
                return 0;
            }
            // The upper bound as a double is a power of two that the type
            // cannot hold, so equal saturates too.
            if (y <= lowest) {
                return std::numeric_limits<T>::min();
            }
            if (y >= highest) {
                return std::numeric_limits<T>::max();
            }
            // From 2^52 on every double is an integer.
            if (std::fabs(y) >= 4503599627370496.0) {
                return static_cast<T>(y);
            }
            const std::int64_t whole = static_cast<std::int64_t>(y);
            const double fraction = y - static_cast<double>(whole);
            return static_cast<T>(whole + (fraction >= 0.5) - (fraction <= -0.5));
        }
    }
}

// target[i] = convert(source[i]) for count elements, through a local chunk:
// where one side is a byte type it may alias the other, which would keep the
// compiler from converting many values at a time.
template <class From, class To, class Convert>
CONVERT_INLINE void convert_in_chunks(const From* source, To* target, int count, const Convert& convert)
{
    constexpr int CHUNK = 64;
    for (int first = 0; first < count; first += CHUNK) {
        const int n = count - first < CHUNK ? count - first : CHUNK;
        From in[CHUNK] = {};
        To out[CHUNK];
        std::memcpy(in, source + first, n * sizeof(From));
        for (int i = 0; i < CHUNK; ++i) {
            out[i] = convert(in[i]);
        }
        std::memcpy(target + first, out, n * sizeof(To));
    }
}

// One value of a mixed channel (HostImage::mix) from the three it mixes,
// summed in the one order every path takes.
CONVERT_INLINE double mixed(const ChannelMix& mix, double x0, double x1, double x2)
{
    return (mix.weight[0] * x0 + mix.weight[1] * x1) + mix.weight[2] * x2;
}

// The same of element `at` of stored channel 0 and its kin `channel_step`
// apart.
template <class T>
CONVERT_INLINE double mixed_value(const ChannelMix& mix, const T* at, std::ptrdiff_t channel_step)
{
    return mixed(mix, as_double(at[0]), as_double(at[channel_step]), as_double(at[2 * channel_step]));
}

}  // namespace lumasift

#endif

// The host's conversion of a double to an element class, written out for
// the tests and sharing nothing with the product.
#ifndef LUMASIFT_TESTS_HOST_CONVERSION_H
#define LUMASIFT_TESTS_HOST_CONVERSION_H

#include <cmath>
#include <limits>
#include <type_traits>

// The host's rule, written out without the C library, whose round is wrong
// for 0.49999999999999994 on some systems: NaN to 0, rounded half away from
// zero, saturated; to the nearest single for single.
template <class T>
T host_integer(double y)
{
    if (std::isnan(y)) {
        return 0;
    }
    const long double lowest = std::numeric_limits<T>::min();
    const long double highest = std::numeric_limits<T>::max();
    long double rounded = y;  // an integer already from 2^52 on
    if (std::fabs(y) < 4503599627370496.0) {
        const long long whole = static_cast<long long>(y);
        const double fraction = y - static_cast<double>(whole);
        rounded = static_cast<long double>(whole + (fraction >= 0.5 ? 1 : 0) - (fraction <= -0.5 ? 1 : 0));
    }
    if (rounded < lowest) {
        return std::numeric_limits<T>::min();
    }
    if (rounded > highest) {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(rounded);
}

template <class T>
T host_conversion(double y)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(y);
    } else {
        return host_integer<T>(y);
    }
}

#endif

#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ravolet {

// The smaller of (the larger of value and lower) and upper: when the bounds are
// crossed the upper one wins.
template <class T>
constexpr T clamp(const T& value, const T& lower, const T& upper) {
    return std::min(std::max(value, lower), upper);
}

// A number as a whole one, cut toward zero. Only a hand-edited document holds
// values beyond the 64-bit range; they read as its nearest end, and NaN as 0,
// rather than being converted, which would be undefined.
inline std::int64_t truncatedInteger(double value) {
    constexpr double upper = 9223372036854775808.0; // 2^63, exact in a double
    if (std::isnan(value)) return 0;
    if (value >= upper) return std::numeric_limits<std::int64_t>::max();
    if (value < -upper) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

// The nearest whole number, halves away from zero (2.5 gives 3, -2.5 gives
// -3), as std::llround gives it, without the library call: for the values
// callers pass (bounded well inside ±2^52 first) the cut toward zero and
// the fraction it leaves are exact.
inline std::int64_t roundHalfAway(double value) {
    auto whole = static_cast<std::int64_t>(value);
    const double fraction = value - static_cast<double>(whole);
    if (fraction >= 0.5) ++whole;
    else if (fraction <= -0.5) --whole;
    return whole;
}

} // namespace ravolet

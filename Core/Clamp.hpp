#pragma once

#include <algorithm>

namespace ravolet {

// The smaller of (the larger of value and lower) and upper: when the bounds are
// crossed the upper one wins.
template <class T>
constexpr T clamp(const T& value, const T& lower, const T& upper) {
    return std::min(std::max(value, lower), upper);
}

} // namespace ravolet

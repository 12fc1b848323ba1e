#pragma once

#include <cmath>
#include <functional>
#include <ostream>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// One motion delta: mouse counts or pixels, fractions allowed.
struct PointerDelta {
    double dx = 0;
    double dy = 0;

    static const PointerDelta zero;

    double magnitude() const { return std::sqrt(dx * dx + dy * dy); }
    constexpr bool isZero() const { return dx == 0 && dy == 0; }

    friend constexpr bool operator==(const PointerDelta&, const PointerDelta&) = default;
    friend std::ostream& operator<<(std::ostream& os, const PointerDelta& d) {
        return os << "PointerDelta(" << d.dx << ", " << d.dy << ")";
    }
};

inline constexpr PointerDelta PointerDelta::zero{0, 0};

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerDelta> {
    std::size_t operator()(const ravolet::PointerDelta& d) const noexcept { return ravolet::hashFields(d.dx, d.dy); }
};

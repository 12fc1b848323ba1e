#pragma once

#include <functional>
#include <iosfwd>

#include "Core/Json.hpp"
#include "Core/PointerAcceleration.hpp"
#include "Core/PointerDelta.hpp"

namespace ravolet {

// Scales each motion delta by a gain that depends on the hand's speed in
// mouse counts per second. Stateless.
struct PointerCurve {
    // The constant gain (1 = unchanged); a negative value works as 0.
    double sensitivity = 1.0;
    PointerAcceleration acceleration = PointerAcceleration::off();

    static const PointerCurve linear;
    static const PointerCurve desktop;

    // The gain for a speed in counts per second; never below the base gain.
    double gain(double speedCountsPerSecond) const;
    // The delta scaled by the gain for its speed over `intervalMillis`; both
    // axes get the same gain, so the direction of motion is kept.
    PointerDelta apply(const PointerDelta& delta, double intervalMillis) const;

    Json toJson() const;
    static PointerCurve fromJson(const JsonValue& v);

    friend constexpr bool operator==(const PointerCurve&, const PointerCurve&) = default;
};

inline constexpr PointerCurve PointerCurve::linear{1.0, PointerAcceleration::off()};
inline constexpr PointerCurve PointerCurve::desktop{1.0, PointerAcceleration::curve(1.0, 800, 6.0)};

std::ostream& operator<<(std::ostream& os, const PointerCurve& curve);

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerCurve> {
    std::size_t operator()(const ravolet::PointerCurve& c) const noexcept {
        return ravolet::hashFields(c.sensitivity, c.acceleration);
    }
};

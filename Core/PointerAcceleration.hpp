#pragma once

#include <functional>
#include <iosfwd>
#include <variant>

#include "Core/Json.hpp"

namespace ravolet {

// The speed-dependent part of a pointer curve: none, or a power curve of the
// hand's speed above a threshold, bounded by a largest extra factor.
struct PointerAcceleration {
    struct Off {
        friend constexpr bool operator==(const Off&, const Off&) = default;
    };
    struct Curve {
        double exponent = 0;
        double thresholdCountsPerSecond = 0;
        double maxGain = 0;
        friend constexpr bool operator==(const Curve&, const Curve&) = default;
    };

    std::variant<Off, Curve> value;

    static constexpr PointerAcceleration off() { return {Off{}}; }
    static constexpr PointerAcceleration curve(double exponent, double thresholdCountsPerSecond, double maxGain) {
        return {Curve{exponent, thresholdCountsPerSecond, maxGain}};
    }

    constexpr bool isOff() const { return std::holds_alternative<Off>(value); }
    // The curve's numbers, or null when acceleration is off.
    constexpr const Curve* curveParameters() const { return std::get_if<Curve>(&value); }

    // {"off": {}} or {"curve": {"exponent": …, "thresholdCountsPerSecond": …, "maxGain": …}}
    Json toJson() const;
    static PointerAcceleration fromJson(const JsonValue& v);

    friend constexpr bool operator==(const PointerAcceleration&, const PointerAcceleration&) = default;
};

std::ostream& operator<<(std::ostream& os, const PointerAcceleration& acceleration);

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerAcceleration> {
    std::size_t operator()(const ravolet::PointerAcceleration& a) const noexcept;
};

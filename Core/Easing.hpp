#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string_view>

#include "Core/Json.hpp"
#include "Core/RawValueEnum.hpp"

namespace ravolet {

// The curve that shapes a glide's travel over time.
enum class Easing { linear, easeOut, easeInOut };

inline constexpr std::array<Easing, 3> allEasings{Easing::linear, Easing::easeOut, Easing::easeInOut};
inline constexpr std::array<std::string_view, 3> easingRawValues{"linear", "easeOut", "easeInOut"};

constexpr std::string_view toString(Easing easing) { return enumRawValue(easingRawValues, easing); }

// Exactly "linear", "easeOut" or "easeInOut", case-sensitive.
constexpr std::optional<Easing> easingFromString(std::string_view raw) {
    return enumFromRawValue<Easing>(easingRawValues, raw);
}

// Eased progress for a progress value; the progress is first bounded to 0...1,
// and every curve runs from 0 at 0 to 1 at 1. Never decreases as the
// progress grows, in floating point too. Inline: a glide evaluates it for
// each of its steps.
inline double easingValue(Easing easing, double progress) {
    double p = progress;
    if (!(p > 0)) p = 0; // at or below 0 (and NaN) start the curve
    if (p > 1) p = 1;
    switch (easing) {
    case Easing::linear: return p;
    case Easing::easeOut: {
        const double q = 1 - p;
        return 1 - q * q * q;
    }
    case Easing::easeInOut: {
        if (p < 0.5) return 4 * p * p * p;
        const double q = 2 - 2 * p;
        return 1 - q * q * q / 2;
    }
    }
    return p;
}

// The progress at which the curve reaches an eased value (bounded to 0...1):
// the inverse of easingValue, to about 1e-14.
double easingProgress(Easing easing, double eased);

inline std::ostream& operator<<(std::ostream& os, Easing easing) { return os << toString(easing); }

inline Json toJson(Easing easing) { return std::string(toString(easing)); }
inline Easing easingFromJson(const JsonValue& v) { return enumFromJson<Easing>(easingRawValues, "Easing", v); }

} // namespace ravolet

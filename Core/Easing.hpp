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
// and every curve runs from 0 at 0 to 1 at 1.
double easingValue(Easing easing, double progress);

inline std::ostream& operator<<(std::ostream& os, Easing easing) { return os << toString(easing); }

inline Json toJson(Easing easing) { return std::string(toString(easing)); }
inline Easing easingFromJson(const JsonValue& v) { return enumFromJson<Easing>(easingRawValues, "Easing", v); }

} // namespace ravolet

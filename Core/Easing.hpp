#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string_view>

#include "Core/Json.hpp"

namespace ravolet {

// The curve that shapes a glide's travel over time.
enum class Easing { linear, easeOut, easeInOut };

inline constexpr std::array<Easing, 3> allEasings{Easing::linear, Easing::easeOut, Easing::easeInOut};

constexpr std::string_view toString(Easing easing) {
    switch (easing) {
    case Easing::linear: return "linear";
    case Easing::easeOut: return "easeOut";
    case Easing::easeInOut: return "easeInOut";
    }
    return "linear";
}

// Exactly "linear", "easeOut" or "easeInOut", case-sensitive.
constexpr std::optional<Easing> easingFromString(std::string_view raw) {
    for (Easing e : allEasings) {
        if (toString(e) == raw) return e;
    }
    return std::nullopt;
}

// Eased progress for a progress value; the progress is first bounded to 0...1,
// and every curve runs from 0 at 0 to 1 at 1.
double easingValue(Easing easing, double progress);

inline std::ostream& operator<<(std::ostream& os, Easing easing) { return os << toString(easing); }

inline Json toJson(Easing easing) { return std::string(toString(easing)); }
Easing easingFromJson(const JsonValue& v);

} // namespace ravolet

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string_view>

#include "Core/Json.hpp"
#include "Support/OptionSet.hpp"

namespace ravolet {

// The scroll axis of a wheel event.
enum class ScrollAxis { vertical, horizontal };

inline constexpr std::array<ScrollAxis, 2> allScrollAxes{ScrollAxis::vertical, ScrollAxis::horizontal};

constexpr std::string_view toString(ScrollAxis axis) {
    return axis == ScrollAxis::vertical ? "vertical" : "horizontal";
}

// Exactly "vertical" or "horizontal", case-sensitive.
constexpr std::optional<ScrollAxis> scrollAxisFromString(std::string_view raw) {
    if (raw == "vertical") return ScrollAxis::vertical;
    if (raw == "horizontal") return ScrollAxis::horizontal;
    return std::nullopt;
}

inline std::ostream& operator<<(std::ostream& os, ScrollAxis axis) { return os << toString(axis); }

inline Json toJson(ScrollAxis axis) { return std::string(toString(axis)); }
inline ScrollAxis scrollAxisFromJson(const JsonValue& v) {
    const auto axis = scrollAxisFromString(v.asString());
    if (!axis) v.fail("Cannot initialize ScrollAxis from invalid String value " + v.asString());
    return *axis;
}

// The set of axes that smooth scrolling handles. Other bits are kept as stored.
struct ScrollAxes : OptionSet<ScrollAxes, std::uint8_t> {
    using OptionSet::OptionSet;
    using OptionSet::contains;

    constexpr explicit ScrollAxes(ScrollAxis axis) : OptionSet(axis == ScrollAxis::vertical ? 1 : 2) {}

    static const ScrollAxes vertical;
    static const ScrollAxes horizontal;
    static const ScrollAxes both;

    constexpr bool contains(ScrollAxis axis) const { return contains(ScrollAxes(axis)); }

    // A bare unsigned 8-bit number.
    Json toJson() const { return rawValue; }
    static ScrollAxes fromJson(const JsonValue& v) { return ScrollAxes(v.asInteger<std::uint8_t>()); }
};

inline constexpr ScrollAxes ScrollAxes::vertical{std::uint8_t{1}};
inline constexpr ScrollAxes ScrollAxes::horizontal{std::uint8_t{2}};
inline constexpr ScrollAxes ScrollAxes::both{std::uint8_t{3}};

} // namespace ravolet


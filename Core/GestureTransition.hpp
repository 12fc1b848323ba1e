#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string_view>

#include "Core/Json.hpp"
#include "Core/RawValueEnum.hpp"

namespace ravolet {

// How a new glide relates to the scroll gesture that may be open on its axis:
// it begins one, continues the open one, or ends the open one and begins anew.
enum class GestureTransition { begin, continuePrevious, endPreviousThenBegin };

inline constexpr std::array<GestureTransition, 3> allGestureTransitions{
    GestureTransition::begin, GestureTransition::continuePrevious, GestureTransition::endPreviousThenBegin};
inline constexpr std::array<std::string_view, 3> gestureTransitionRawValues{"begin", "continuePrevious",
                                                                            "endPreviousThenBegin"};

constexpr std::string_view toString(GestureTransition transition) {
    return enumRawValue(gestureTransitionRawValues, transition);
}
constexpr std::optional<GestureTransition> gestureTransitionFromString(std::string_view raw) {
    return enumFromRawValue<GestureTransition>(gestureTransitionRawValues, raw);
}

inline std::ostream& operator<<(std::ostream& os, GestureTransition transition) {
    return os << toString(transition);
}

inline Json toJson(GestureTransition transition) { return std::string(toString(transition)); }
inline GestureTransition gestureTransitionFromJson(const JsonValue& v) {
    return enumFromJson<GestureTransition>(gestureTransitionRawValues, "GestureTransition", v);
}

} // namespace ravolet

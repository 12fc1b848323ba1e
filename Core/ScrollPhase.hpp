#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string_view>

#include "Core/Json.hpp"
#include "Core/RawValueEnum.hpp"

namespace ravolet {

// The phase of one posted scroll step within its gesture.
enum class ScrollPhase { began, changed, ended };

inline constexpr std::array<ScrollPhase, 3> allScrollPhases{ScrollPhase::began, ScrollPhase::changed,
                                                            ScrollPhase::ended};
inline constexpr std::array<std::string_view, 3> scrollPhaseRawValues{"began", "changed", "ended"};

constexpr std::string_view toString(ScrollPhase phase) { return enumRawValue(scrollPhaseRawValues, phase); }
constexpr std::optional<ScrollPhase> scrollPhaseFromString(std::string_view raw) {
    return enumFromRawValue<ScrollPhase>(scrollPhaseRawValues, raw);
}

inline std::ostream& operator<<(std::ostream& os, ScrollPhase phase) { return os << toString(phase); }

inline Json toJson(ScrollPhase phase) { return std::string(toString(phase)); }
inline ScrollPhase scrollPhaseFromJson(const JsonValue& v) {
    return enumFromJson<ScrollPhase>(scrollPhaseRawValues, "ScrollPhase", v);
}

} // namespace ravolet

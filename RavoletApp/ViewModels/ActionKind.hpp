#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string_view>

#include "Core/Action.hpp"
#include "Core/RawValueEnum.hpp"

namespace ravolet {

// The kinds of action a user may give a button, in the order the action
// editor offers them. Each stands for the Action case of the same name.
enum class ActionKind { passThrough, keyStroke, hold, repeatWhileHeld, sequence, dpiShift, launchApp, runShortcut };

inline constexpr std::array<ActionKind, 8> allActionKinds{
    ActionKind::passThrough, ActionKind::keyStroke, ActionKind::hold,      ActionKind::repeatWhileHeld,
    ActionKind::sequence,    ActionKind::dpiShift,  ActionKind::launchApp, ActionKind::runShortcut};
inline constexpr std::array<std::string_view, 8> actionKindRawValues{
    "passThrough", "keyStroke", "hold", "repeatWhileHeld", "sequence", "dpiShift", "launchApp", "runShortcut"};

// The raw value, which is also the kind's identity.
constexpr std::string_view toString(ActionKind kind) { return enumRawValue(actionKindRawValues, kind); }

// Exactly one of the eight raw values, case-sensitive; anything else gives no kind.
constexpr std::optional<ActionKind> actionKindFromString(std::string_view raw) {
    return enumFromRawValue<ActionKind>(actionKindRawValues, raw);
}

// The kind of an action: the case of the same name.
ActionKind actionKind(const Action& action);

// The picker's title for the kind ("Press a keyboard shortcut").
std::string_view title(ActionKind kind);

// The paragraph the action editor shows under its picker.
std::string_view explanation(ActionKind kind);

inline std::ostream& operator<<(std::ostream& os, ActionKind kind) { return os << toString(kind); }

} // namespace ravolet

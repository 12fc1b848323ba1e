#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "Core/Action.hpp"
#include "Core/Json.hpp"
#include "Core/ModifierFlags.hpp"

namespace ravolet {

// Ties a mouse button and a set of held modifier keys to an action.
//
// JSON: {"action": action object, "button": integer, "isEnabled": Boolean,
// "modifiers": number}, all required. Values are stored as written: a button
// outside the bindable range or modifiers with caps lock stay as they are.
struct ButtonBinding {
    // The button this binding is for.
    std::int64_t button = 0;
    // Modifier keys that must be held; only the bindable bits count.
    ModifierFlags modifiers;
    // What the button does.
    Action action;
    // A disabled binding never applies.
    bool isEnabled = true;

    Json toJson() const;
    static ButtonBinding fromJson(const JsonValue& v);

    friend bool operator==(const ButtonBinding&, const ButtonBinding&) = default;
};

std::ostream& operator<<(std::ostream&, const ButtonBinding&);

} // namespace ravolet

template <>
struct std::hash<ravolet::ButtonBinding> {
    std::size_t operator()(const ravolet::ButtonBinding& binding) const noexcept;
};

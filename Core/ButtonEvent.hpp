#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "Core/ModifierFlags.hpp"

namespace ravolet {

// One press or release of a mouse button, as read from a tapped event.
struct ButtonEvent {
    // 0 left, 1 right, 2 and up the other buttons.
    std::int64_t button = 0;
    // True for a press, false for a release.
    bool isDown = false;
    // Modifier keys held when the event happened.
    ModifierFlags modifiers;
    // Time of the event in milliseconds of the monotonic clock.
    double timestampMillis = 0;

    static ButtonEvent down(std::int64_t button, double at, ModifierFlags modifiers = ModifierFlags::none) {
        return {button, true, modifiers, at};
    }
    static ButtonEvent up(std::int64_t button, double at, ModifierFlags modifiers = ModifierFlags::none) {
        return {button, false, modifiers, at};
    }

    friend bool operator==(const ButtonEvent&, const ButtonEvent&) = default;
};

std::ostream& operator<<(std::ostream&, const ButtonEvent&);

} // namespace ravolet

template <>
struct std::hash<ravolet::ButtonEvent> {
    std::size_t operator()(const ravolet::ButtonEvent& event) const noexcept;
};

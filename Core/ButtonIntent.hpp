#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <variant>

#include "Core/Action.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/RepeatToken.hpp"

namespace ravolet {

// One effect that has to happen now: the output of the button router and the
// input of the macro executor, which performs a list of them in order.
// Modifier keys are never intents of their own: every key intent carries the
// modifiers to hold with it. Exists only in memory.
struct ButtonIntent {
    // The mouse button's own press or release is to reach the system.
    struct PassThroughButton {
        std::int64_t number = 0;
        bool isDown = false;
        friend bool operator==(const PassThroughButton&, const PassThroughButton&) = default;
    };
    // The key goes down with these modifiers.
    using KeyDown = KeyPayload<KeyCase::keyDown>;
    // The key goes up.
    using KeyUp = KeyPayload<KeyCase::keyUp>;
    // The intents after this one wait this long.
    struct Delay {
        double millis = 0;
        friend bool operator==(const Delay&, const Delay&) = default;
    };
    struct MouseButtonDown {
        std::int64_t number = 0;
        friend bool operator==(const MouseButtonDown&, const MouseButtonDown&) = default;
    };
    struct MouseButtonUp {
        std::int64_t number = 0;
        friend bool operator==(const MouseButtonUp&, const MouseButtonUp&) = default;
    };
    // Begin performing the token's step every intervalMillis.
    struct StartRepeat {
        RepeatToken token;
        friend bool operator==(const StartRepeat&, const StartRepeat&) = default;
    };
    // End the repetition whose token has this id.
    struct StopRepeat {
        std::int64_t id = 0;
        friend bool operator==(const StopRepeat&, const StopRepeat&) = default;
    };
    // The mouse is to run at this DPI from now on.
    struct SetDPI {
        std::int64_t dpi = 0;
        friend bool operator==(const SetDPI&, const SetDPI&) = default;
    };
    // Open the application with this bundle identifier; run the Shortcut with
    // this name. The same payloads as the actions that ask for them.
    using LaunchApp = Action::LaunchApp;
    using RunShortcut = Action::RunShortcut;

    using Value = std::variant<PassThroughButton, KeyDown, KeyUp, Delay, MouseButtonDown, MouseButtonUp, StartRepeat,
                               StopRepeat, SetDPI, LaunchApp, RunShortcut>;
    Value value;

    static ButtonIntent passThroughButton(std::int64_t number, bool isDown) { return {PassThroughButton{number, isDown}}; }
    static ButtonIntent keyDown(std::uint16_t code, ModifierFlags modifiers) { return {KeyDown{code, modifiers}}; }
    static ButtonIntent keyUp(std::uint16_t code, ModifierFlags modifiers) { return {KeyUp{code, modifiers}}; }
    static ButtonIntent delay(double millis) { return {Delay{millis}}; }
    static ButtonIntent mouseButtonDown(std::int64_t number) { return {MouseButtonDown{number}}; }
    static ButtonIntent mouseButtonUp(std::int64_t number) { return {MouseButtonUp{number}}; }
    static ButtonIntent startRepeat(RepeatToken token) { return {StartRepeat{std::move(token)}}; }
    static ButtonIntent stopRepeat(std::int64_t id) { return {StopRepeat{id}}; }
    static ButtonIntent setDPI(std::int64_t dpi) { return {SetDPI{dpi}}; }
    static ButtonIntent launchApp(std::string bundleID) { return {LaunchApp{std::move(bundleID)}}; }
    static ButtonIntent runShortcut(std::string name) { return {RunShortcut{std::move(name)}}; }

    friend bool operator==(const ButtonIntent&, const ButtonIntent&) = default;
};

std::ostream& operator<<(std::ostream&, const ButtonIntent&);

} // namespace ravolet

template <>
struct std::hash<ravolet::ButtonIntent> {
    std::size_t operator()(const ravolet::ButtonIntent& intent) const noexcept;
};

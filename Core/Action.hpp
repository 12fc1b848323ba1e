#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

#include "Core/Json.hpp"
#include "Core/MacroStep.hpp"
#include "Core/ModifierFlags.hpp"

namespace ravolet {

// What a button binding performs.
//
// JSON: an object with exactly one member named after the case whose value
// holds the payload fields ("_0" for the steps of a sequence, an empty object
// for passThrough). Nothing is corrected on reading: repeat intervals are
// raised to 1 ms only when a repeat starts.
struct Action {
    // The button keeps its normal behaviour.
    struct PassThrough {
        friend bool operator==(const PassThrough&, const PassThrough&) = default;
    };
    // At the press, the key goes down and up once; the release does nothing.
    using KeyStroke = KeyPayload<KeyCase::keyStroke>;
    // At the press, every step plays in order; the release does nothing.
    struct Sequence {
        std::vector<MacroStep> steps;
        friend bool operator==(const Sequence&, const Sequence&) = default;
    };
    // The key is down for as long as the button is held.
    using Hold = KeyPayload<KeyCase::hold>;
    // The step is performed at the press and then once per interval until the release.
    struct RepeatWhileHeld {
        MacroStep step;
        double intervalMillis = 0;
        friend bool operator==(const RepeatWhileHeld&, const RepeatWhileHeld&) = default;
    };
    // The mouse runs at toDPI while the button is held.
    struct DpiShift {
        std::int64_t toDPI = 0;
        friend bool operator==(const DpiShift&, const DpiShift&) = default;
    };
    // At the press, the application with this bundle identifier is opened.
    struct LaunchApp {
        std::string bundleID;
        friend bool operator==(const LaunchApp&, const LaunchApp&) = default;
    };
    // At the press, the command line `name` runs, split into words as a
    // terminal splits them. Stored with "quoting": "shell"; a line stored
    // without it was written when lines were split as a desktop entry's Exec
    // value is, and is read as the line that runs the same words now.
    struct RunShortcut {
        std::string name;
        friend bool operator==(const RunShortcut&, const RunShortcut&) = default;
    };

    using Value = std::variant<PassThrough, KeyStroke, Sequence, Hold, RepeatWhileHeld, DpiShift, LaunchApp, RunShortcut>;
    Value value;

    static Action passThrough() { return {PassThrough{}}; }
    static Action keyStroke(std::uint16_t code, ModifierFlags modifiers) { return {KeyStroke{code, modifiers}}; }
    static Action sequence(std::vector<MacroStep> steps) { return {Sequence{std::move(steps)}}; }
    static Action hold(std::uint16_t code, ModifierFlags modifiers) { return {Hold{code, modifiers}}; }
    static Action repeatWhileHeld(MacroStep step, double intervalMillis) { return {RepeatWhileHeld{step, intervalMillis}}; }
    static Action dpiShift(std::int64_t toDPI) { return {DpiShift{toDPI}}; }
    static Action launchApp(std::string bundleID) { return {LaunchApp{std::move(bundleID)}}; }
    static Action runShortcut(std::string name) { return {RunShortcut{std::move(name)}}; }

    Json toJson() const;
    static Action fromJson(const JsonValue& v);

    friend bool operator==(const Action&, const Action&) = default;
};

std::ostream& operator<<(std::ostream&, const Action&);

} // namespace ravolet

template <>
struct std::hash<ravolet::Action> {
    std::size_t operator()(const ravolet::Action& action) const noexcept;
};

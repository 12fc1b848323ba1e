#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Action.hpp"
#include "HIDPlusPlus/HIDPPDPIRange.hpp"
#include "RavoletApp/ViewModels/ActionKind.hpp"
#include "RavoletApp/ViewModels/KeyRecorderModel.hpp"
#include "RavoletApp/ViewModels/PageFacts.hpp"

namespace ravolet {

// How the action editor reads and writes one action. Each reading looks at
// the action's case and gives a fixed fall-back for the others; each writing
// gives the whole new action (the caller writes it back at once).
namespace ActionEditing {

inline constexpr double defaultRepeatIntervalMillis = 120;
inline constexpr std::int64_t defaultShiftDPI = 400;

// The key a key stroke or hold sends, or the key of a repeat's key step
// (press, down or up); no key (code 0, no modifiers) otherwise.
RecordedKey key(const Action& action);
// A key stroke or hold with the new key; a repeat whose step becomes a press
// and release of the new key, whatever step it had, interval kept; any other
// action unchanged.
Action withKey(const Action& action, RecordedKey key);

// A repeat's interval as stored; 120 for any other action.
double repeatInterval(const Action& action);
// A repeat with the new interval, stored as given; any other action unchanged.
Action withRepeatInterval(const Action& action, double millis);

// The steps of a sequence; none for any other action.
std::vector<MacroStep> sequenceSteps(const Action& action);
// The DPI of a shift; 400 for any other action.
std::int64_t shiftDPI(const Action& action);
// The identifier of a launch; empty for any other action.
std::string launchBundleID(const Action& action);
// The name of a Shortcut run; empty for any other action.
std::string shortcutName(const Action& action);

// The key a change of kind carries over: a key stroke's or hold's key; a
// repeat's key when its step presses the key or holds it down; the first
// press-and-release step of a sequence (down and up steps passed over); none
// for anything else.
std::optional<RecordedKey> carriedKey(const Action& action);
// The action after the user chose a kind: unchanged when it already has that
// kind, otherwise a fresh action of the kind with the carried key (or no key)
// where the kind sends one.
Action withKind(const Action& action, ActionKind kind);

// A whole DPI from the slider's value, cut toward zero.
std::int64_t dpiFromSlider(double value);
// The line under the DPI slider telling what the mouse will really be set to;
// nothing while the mouse's DPI capability is unknown.
std::optional<std::string> dpiRoundingNote(const std::optional<HIDPPDPIRange>& capability, std::int64_t dpi);

inline constexpr std::string_view pickerTitle = "This button";
inline constexpr std::string_view pickerResetTitle = "Button action";
inline constexpr std::string_view keyLabel = "Key";
inline constexpr std::string_view repeatTitle = "Repeat every";
inline constexpr std::string_view repeatHelp =
    "How long Ravolet waits between repeats. Around 100 ms feels like holding a key on the keyboard; slower is "
    "easier to stop on the value you want.";
inline constexpr std::string_view dpiTitle = "DPI while held";
inline constexpr std::string_view dpiHelp = "Sensor resolution while this button is held.";
inline constexpr std::string_view dpiExplanation =
    "A low value — 400 is the usual choice — makes the pointer crawl while you hold the button, which is what you "
    "want for fine aiming or precise selection. Let go and the profile's normal DPI comes straight back.";
inline constexpr std::string_view appLabel = "App";
inline constexpr std::string_view noAppChosen = "None chosen";
inline constexpr std::string_view chooseApp = "Choose…";
inline constexpr std::string_view bundleIDTitle = "Application ID";
inline constexpr std::string_view bundleIDExplanation =
    "The application ID is the app's internal name, such as org.mozilla.firefox. Choosing an app above fills it in "
    "for you.";
inline constexpr std::string_view shortcutLabel = "Command";
inline constexpr std::string_view shortcutFieldTitle = "Command and its arguments";
inline constexpr std::string_view shortcutExplanation =
    "Type the command as you would in a terminal: spaces part the arguments, and single or double quotes, or a "
    "backslash, keep spaces and quotes within one. Ravolet starts the program directly, without a shell, so "
    "$VARIABLES, ~, wildcards, | and ; reach it exactly as typed. It runs in the background and Ravolet does not wait "
    "for it to finish.";

// What the line typed would do, said under the field as it is typed: the
// program it starts with its arguments, or why it would not start. Nothing
// for an empty line. `path` is where programs are looked for (PATH).
std::optional<PageStatusLine> commandCheck(std::string_view line, std::string_view path);

// "120 ms": a whole number of milliseconds, cut toward zero (the read-out
// of the repeat and pause sliders).
std::string millisecondsText(double millis);

} // namespace ActionEditing

} // namespace ravolet

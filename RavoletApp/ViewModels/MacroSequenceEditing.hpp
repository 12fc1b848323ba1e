#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "Core/MacroStep.hpp"
#include "Core/RawValueEnum.hpp"
#include "RavoletApp/ViewModels/KeyRecorderModel.hpp"

namespace ravolet {

// The kinds of step the sequence editor's "Does" picker offers, in its
// order; each stands for the MacroStep case of the same name.
enum class MacroStepKind { key, keyDown, keyUp, delay, mouseButton };

inline constexpr std::array<MacroStepKind, 5> allMacroStepKinds{
    MacroStepKind::key, MacroStepKind::keyDown, MacroStepKind::keyUp, MacroStepKind::delay,
    MacroStepKind::mouseButton};
inline constexpr std::array<std::string_view, 5> macroStepKindRawValues{"key", "keyDown", "keyUp", "delay",
                                                                        "mouseButton"};

constexpr std::string_view toString(MacroStepKind kind) { return enumRawValue(macroStepKindRawValues, kind); }

// How the sequence editor reads and writes steps and the list of steps. Every
// list edit gives the whole new list, or nothing when the position it names
// is no longer in the list (nothing is written then).
namespace MacroSequenceEditing {

MacroStepKind kind(const MacroStep& step);
// "Press and release a key", "Hold a key down", "Let a key back up", "Wait",
// "Click a mouse button".
std::string_view title(MacroStepKind kind);

// The key of a press, down or up step; no key for the others.
RecordedKey key(const MacroStep& step);
// The same key step with the new key; any other step unchanged.
MacroStep withKey(const MacroStep& step, RecordedKey key);
// The step rebuilt as the kind the user chose, even the kind it already has:
// key kinds carry the step's key over (no key from a pause or a click), a
// pause waits 50 ms and a click presses button 2.
MacroStep withKind(const MacroStep& step, MacroStepKind kind);

inline constexpr double newPauseMillis = 50;
inline constexpr std::int64_t newMouseButton = 2;
inline constexpr std::int64_t resetMouseButton = 0;
inline constexpr std::int64_t lowestMouseButton = 0;
inline constexpr std::int64_t highestMouseButton = 15;

// What "Add a key press", "Step action" reset and a fresh sequence hold:
// press and release the key with code 0, no modifiers.
MacroStep keyPress();
// What "Add a pause" appends.
MacroStep pause();
// What the "Sequence" reset writes: one key press.
std::vector<MacroStep> resetSequence();

// The step a row at index shows; a pause of 0 ms once the list has no such entry.
MacroStep stepAt(const std::vector<MacroStep>& steps, std::ptrdiff_t index);
std::optional<std::vector<MacroStep>> replacingStep(const std::vector<MacroStep>& steps, std::ptrdiff_t index,
                                                    const MacroStep& step);
std::optional<std::vector<MacroStep>> removingStep(const std::vector<MacroStep>& steps, std::ptrdiff_t index);
// Swapped with the step before or after it.
std::optional<std::vector<MacroStep>> movingEarlier(const std::vector<MacroStep>& steps, std::ptrdiff_t index);
std::optional<std::vector<MacroStep>> movingLater(const std::vector<MacroStep>& steps, std::ptrdiff_t index);
// Whether a row offers its up and down buttons at all.
bool canMoveEarlier(std::ptrdiff_t index, std::size_t count);
bool canMoveLater(std::ptrdiff_t index, std::size_t count);

inline constexpr std::string_view header = "Sequence";
inline constexpr std::string_view emptyNotice = "This sequence is empty, so the button does nothing. Add a step below.";
inline constexpr std::string_view addKeyPress = "Add a key press";
inline constexpr std::string_view addPause = "Add a pause";
inline constexpr std::string_view explanation =
    "Steps play in order, top to bottom, once each time you click the button. A pause between steps gives the app "
    "you are driving time to catch up — without one, the keys arrive faster than most apps can process them.";
inline constexpr std::string_view kindPickerTitle = "Does";
inline constexpr std::string_view kindResetTitle = "Step action";
inline constexpr std::string_view pauseTitle = "Wait for";
inline constexpr std::string_view pauseHelp = "Pause before the next step.";
inline constexpr std::string_view mouseButtonLabel = "Mouse button";
inline constexpr std::string_view keyDownReminder =
    "Remember to add a matching “Let a key back up” step later in the sequence, or that key will stay down.";

} // namespace MacroSequenceEditing

} // namespace ravolet

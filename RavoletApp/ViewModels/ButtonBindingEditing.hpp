#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/ButtonBinding.hpp"
#include "Core/Config.hpp"
#include "Core/Profile.hpp"
#include "RavoletApp/ViewModels/ActionSummary.hpp"

namespace ravolet {

// What the Buttons page and its binding cards show and how they change the
// edited profile's `buttons` list. A button's bindings are taken in the order
// they stand in the list; a card is identified by its binding's position
// there. Every edit gives the whole new profile, or nothing when the position
// it names is no longer valid (nothing is written then).
namespace ButtonBindingEditing {

// The buttons the page lists: 3 to 15. 0 to 2 (left, right, middle) are never offered.
inline constexpr std::int64_t firstBindableButton = 3;
inline constexpr std::int64_t lastBindableButton = 15;
inline constexpr std::int64_t initialButton = 3;
std::vector<std::int64_t> bindableButtons();
bool isBindable(std::int64_t button);

// A stored button number as Linux knows it. The settings file keeps the
// numbers Ravolet has always stored (0 left, 1 right, 2 middle, 3 back, 4
// forward, then upward); the kernel reports button n as the key code
// BTN_LEFT + n, and the X server, and so xev and xinput, number them from 1
// for the three main ones and from 8 for the side buttons (4 to 7 are the
// wheel's).
struct LinuxButton {
    int kernelCode;
    std::string_view kernelName; // "BTN_SIDE"; empty where the kernel has none for the code
    int xButton;
    // Where the button is on a G502 X; empty where the mouse sends none by
    // that number as it ships.
    std::string_view place;
};
// For 0 to 15, the buttons a mouse report can carry.
LinuxButton linuxButton(std::int64_t button);
// The button by where it is and by the number a Linux user sees for it:
// "Back — button 8", "Sniper — button 10", "Button 12 — not on a G502 X".
std::string buttonName(std::int64_t button);
// The note under the button's name in the right pane, which also says what
// the kernel calls it.
std::string buttonNote(std::int64_t button);

// Positions of the button's bindings in profile.buttons, ascending.
std::vector<std::size_t> bindingIndices(const Profile& profile, std::int64_t button);
// The one line under a button in the list: "Unchanged", the summary of its
// plain binding (else of its first), "Turned off" when that one is off, and
// " (+N more)" for the others. Commands are looked for in `commandSearchPath`.
std::string summary(const Profile& profile, std::int64_t button, const ApplicationNameLookup& applicationName,
                    std::string_view commandSearchPath);
// Whether the button has a binding needing no modifier (caps lock does not
// count); "Give this button a job" is offered only while it has none.
bool hasPlainBinding(const Profile& profile, std::int64_t button);
// What a reader hears for the button's row: its name and what it does, as
// one phrase ("Back — button 8, unchanged").
std::string rowAccessibleName(std::int64_t button, std::string_view summary);

// Appends a binding of the button, enabled, sending the key with code 0: with
// no modifiers, or with command for "Add a version that needs a modifier".
Profile addingBinding(const Profile& profile, std::int64_t button, bool needsModifier);
// The button's bindings removed (the others keep their order), then the
// factory profile's bindings of the button with the same profile identifier
// appended; none for a profile the factory document does not have.
Profile restoringDefaults(const Profile& profile, std::int64_t button, const Config& factory);

// The binding a card at index shows; a stand-by (the button, no modifiers,
// pass-through, enabled) once the list has no such entry.
ButtonBinding bindingAt(const Profile& profile, std::ptrdiff_t index, std::int64_t button);
std::optional<Profile> replacingBinding(const Profile& profile, std::ptrdiff_t index, const ButtonBinding& binding);
std::optional<Profile> removingBinding(const Profile& profile, std::ptrdiff_t index);
// What a card's action reset restores: the action of the factory profile's
// first binding of the button with exactly the same modifier bits as the
// entry at index; pass-through when there is none.
Action defaultAction(const Profile& profile, std::ptrdiff_t index, std::int64_t button, const Config& factory);

// The card's header: "Whenever the button is pressed" or "Only while Control
// + Shift is held".
std::string cardHeader(ModifierFlags modifiers);
// A modifier checkbox's state: every bit of the flag is set.
bool hasModifier(ModifierFlags modifiers, ModifierFlags flag);
// The flag's bits added or removed; other bits (caps lock) stay.
ModifierFlags withModifier(ModifierFlags modifiers, ModifierFlags flag, bool on);

// The button a press selects while finding by pressing: 3 to 15, nothing otherwise.
std::optional<std::int64_t> buttonFoundByPress(std::int64_t buttonNumber);

inline constexpr std::string_view restoreDefaults = "Restore defaults";
inline constexpr std::string_view restoreHelp = "Restore all bindings for this mouse button to their defaults";
// "Restore all bindings for <name> to defaults".
std::string restoreAccessibleName(std::int64_t button);
inline constexpr std::string_view untouchedTitle = "This button is untouched";
inline constexpr std::string_view untouchedMessage = "Ravolet passes it straight to your desktop. Give it a job below.";
inline constexpr std::string_view addJob = "Give this button a job";
inline constexpr std::string_view addModifierVersion = "Add a version that needs a modifier";
inline constexpr std::string_view modifierVersionsNote =
    "A button can do different things depending on which modifier keys you are holding. The version needing the "
    "most modifiers wins, so a plain binding never gets in the way of a Ctrl one.";
inline constexpr std::string_view findByPressing = "Find a button by pressing it";
inline constexpr std::string_view findResetTitle = "Find a button";
inline constexpr std::string_view findNote =
    "Turn this on and press a button on your mouse over this window; Ravolet jumps to it. It can only see buttons it "
    "is still passing through, so a button you have already bound will not respond.";
inline constexpr std::string_view enabledLabel = "On";
inline constexpr std::string_view enabledResetTitle = "Binding enabled";
inline constexpr std::string_view removeBinding = "Remove this binding";
// Beside the Fn modifier, and under the modifiers while a binding needs it.
inline constexpr std::string_view fnNote =
    "On most keyboards Fn is handled inside the keyboard and never reaches Linux, so a binding that needs Fn held "
    "cannot fire.";
inline constexpr std::string_view modifiersNote =
    "Tick a modifier to make this binding apply only while that key is held. Leave them all clear for the button's "
    "everyday job.";

} // namespace ButtonBindingEditing

} // namespace ravolet

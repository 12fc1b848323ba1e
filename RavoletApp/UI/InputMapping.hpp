#pragma once

#include "Core/ModifierFlags.hpp"

#include <QtGlobal>
#include <Qt>

#include <cstdint>
#include <optional>

class QKeyEvent;

namespace ravolet {

// The one translation from what Qt reports to what the settings document
// stores: host key codes, modifier sets and mouse button numbers.

// Whether this platform's native scan codes are evdev key codes plus 8 (the
// X11 and Wayland keycodes of xkb).
bool nativeScanCodesAreEvdev();

// The host key code of a key event. The physical key is preferred: where the
// scan code is an evdev one it decides, so the code does not change with the
// keyboard layout. Otherwise (a synthesised event, another platform, a key the
// host has no code for) the Qt key decides, on the US layout's positions, with
// the keypad modifier telling the keypad's keys apart. None when neither
// names a key the host has.
std::optional<std::uint16_t> hostKeyCode(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode,
                                         bool scanCodesAreEvdev);
std::optional<std::uint16_t> hostKeyCode(const QKeyEvent& event);

// Shift → shift, Ctrl → control, Alt → option, Meta (the Super key) → command;
// Qt's other modifiers (keypad, group switch) are not modifier keys.
ModifierFlags modifierFlags(Qt::KeyboardModifiers modifiers);

// The flag a modifier key itself stands for (Shift, Control, Alt, Meta or
// Super, Caps Lock); none for any other key.
std::optional<ModifierFlags> modifierKeyFlag(int qtKey);

// Whether the event is a modifier key's own (the keys above, AltGr, and any
// key at one of the host's modifier positions): such presses and releases
// change the held modifiers rather than being keys of their own.
bool isModifierKey(const QKeyEvent& event);

// The modifiers held once the event has happened: a modifier key's own press
// counts and its release no longer does. Caps lock is included where the
// platform reports it (xkb's lock bit in the native modifiers).
ModifierFlags heldModifiers(const QKeyEvent& event);

// Left 0, right 1, middle 2, back 3, forward 4 and further extra buttons
// upward; none for no button or several at once.
std::optional<int> mouseButtonNumber(Qt::MouseButtons button);

} // namespace ravolet

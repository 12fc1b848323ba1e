#include "RavoletApp/UI/InputMapping.hpp"

#include "Platform/HostKeyCodes.hpp"

#include <QGuiApplication>
#include <QKeyEvent>

#include <bit>
#include <span>

namespace ravolet {

namespace {

struct QtKeyCode {
    int qtKey;
    std::uint16_t hostCode;
};

// Keys by what Qt names them, at their places on the US layout; shifted
// symbols stand for the key that types them there.
constexpr QtKeyCode mainKeys[] = {
    {Qt::Key_A, 0},  {Qt::Key_B, 11}, {Qt::Key_C, 8},  {Qt::Key_D, 2},  {Qt::Key_E, 14}, {Qt::Key_F, 3},
    {Qt::Key_G, 5},  {Qt::Key_H, 4},  {Qt::Key_I, 34}, {Qt::Key_J, 38}, {Qt::Key_K, 40}, {Qt::Key_L, 37},
    {Qt::Key_M, 46}, {Qt::Key_N, 45}, {Qt::Key_O, 31}, {Qt::Key_P, 35}, {Qt::Key_Q, 12}, {Qt::Key_R, 15},
    {Qt::Key_S, 1},  {Qt::Key_T, 17}, {Qt::Key_U, 32}, {Qt::Key_V, 9},  {Qt::Key_W, 13}, {Qt::Key_X, 7},
    {Qt::Key_Y, 16}, {Qt::Key_Z, 6},
    {Qt::Key_0, 29}, {Qt::Key_1, 18}, {Qt::Key_2, 19}, {Qt::Key_3, 20}, {Qt::Key_4, 21},
    {Qt::Key_5, 23}, {Qt::Key_6, 22}, {Qt::Key_7, 26}, {Qt::Key_8, 28}, {Qt::Key_9, 25},
    {Qt::Key_ParenRight, 29}, {Qt::Key_Exclam, 18}, {Qt::Key_At, 19}, {Qt::Key_NumberSign, 20},
    {Qt::Key_Dollar, 21}, {Qt::Key_Percent, 23}, {Qt::Key_AsciiCircum, 22}, {Qt::Key_Ampersand, 26},
    {Qt::Key_Asterisk, 28}, {Qt::Key_ParenLeft, 25},
    {Qt::Key_Minus, 27}, {Qt::Key_Underscore, 27}, {Qt::Key_Equal, 24}, {Qt::Key_Plus, 24},
    {Qt::Key_BracketLeft, 33}, {Qt::Key_BraceLeft, 33}, {Qt::Key_BracketRight, 30}, {Qt::Key_BraceRight, 30},
    {Qt::Key_Backslash, 42}, {Qt::Key_Bar, 42}, {Qt::Key_Semicolon, 41}, {Qt::Key_Colon, 41},
    {Qt::Key_Apostrophe, 39}, {Qt::Key_QuoteDbl, 39}, {Qt::Key_Comma, 43}, {Qt::Key_Less, 43},
    {Qt::Key_Period, 47}, {Qt::Key_Greater, 47}, {Qt::Key_Slash, 44}, {Qt::Key_Question, 44},
    {Qt::Key_QuoteLeft, 50}, {Qt::Key_AsciiTilde, 50},
    {Qt::Key_F1, 122}, {Qt::Key_F2, 120}, {Qt::Key_F3, 99},   {Qt::Key_F4, 118},  {Qt::Key_F5, 96},
    {Qt::Key_F6, 97},  {Qt::Key_F7, 98},  {Qt::Key_F8, 100},  {Qt::Key_F9, 101},  {Qt::Key_F10, 109},
    {Qt::Key_F11, 103}, {Qt::Key_F12, 111}, {Qt::Key_F13, 105}, {Qt::Key_F14, 107}, {Qt::Key_F15, 113},
    {Qt::Key_F16, 106}, {Qt::Key_F17, 64}, {Qt::Key_F18, 79},  {Qt::Key_F19, 80},  {Qt::Key_F20, 90},
    {Qt::Key_Print, 105}, {Qt::Key_ScrollLock, 107}, {Qt::Key_Pause, 113},
    {Qt::Key_Return, 36}, {Qt::Key_Tab, 48}, {Qt::Key_Backtab, 48}, {Qt::Key_Space, 49},
    {Qt::Key_Backspace, 51}, {Qt::Key_Delete, 117}, {Qt::Key_Escape, 53}, {Qt::Key_Help, 114},
    {Qt::Key_Insert, 114}, {Qt::Key_Home, 115}, {Qt::Key_End, 119}, {Qt::Key_PageUp, 116},
    {Qt::Key_PageDown, 121}, {Qt::Key_Menu, 110},
    {Qt::Key_Left, 123}, {Qt::Key_Right, 124}, {Qt::Key_Down, 125}, {Qt::Key_Up, 126},
    {Qt::Key_Enter, 76}, {Qt::Key_NumLock, 71}, {Qt::Key_Clear, 71},
    {Qt::Key_Meta, 55}, {Qt::Key_Super_L, 55}, {Qt::Key_Super_R, 54}, {Qt::Key_Shift, 56},
    {Qt::Key_CapsLock, 57}, {Qt::Key_Alt, 58}, {Qt::Key_Control, 59}, {Qt::Key_AltGr, 61},
    {Qt::Key_VolumeUp, 72}, {Qt::Key_VolumeDown, 73}, {Qt::Key_VolumeMute, 74},
};

// Keys with the keypad modifier. Without Num Lock the keypad reports
// navigation keys; they still stand for the keypad's own keys.
constexpr QtKeyCode keypadKeys[] = {
    {Qt::Key_0, 82}, {Qt::Key_1, 83}, {Qt::Key_2, 84}, {Qt::Key_3, 85}, {Qt::Key_4, 86},
    {Qt::Key_5, 87}, {Qt::Key_6, 88}, {Qt::Key_7, 89}, {Qt::Key_8, 91}, {Qt::Key_9, 92},
    {Qt::Key_Plus, 69}, {Qt::Key_Minus, 78}, {Qt::Key_Asterisk, 67}, {Qt::Key_Slash, 75},
    {Qt::Key_Enter, 76}, {Qt::Key_Return, 76}, {Qt::Key_Period, 65}, {Qt::Key_Comma, 65},
    {Qt::Key_Delete, 65}, {Qt::Key_Equal, 81}, {Qt::Key_Clear, 87}, {Qt::Key_Insert, 82},
    {Qt::Key_End, 83}, {Qt::Key_Down, 84}, {Qt::Key_PageDown, 85}, {Qt::Key_Left, 86},
    {Qt::Key_Right, 88}, {Qt::Key_Home, 89}, {Qt::Key_Up, 91}, {Qt::Key_PageUp, 92},
};

std::optional<std::uint16_t> find(std::span<const QtKeyCode> table, int qtKey) {
    for (const QtKeyCode& entry : table) {
        if (entry.qtKey == qtKey) return entry.hostCode;
    }
    return std::nullopt;
}

// xkb's Lock modifier bit in the X11 and Wayland native modifier state.
constexpr quint32 xkbLockMask = 0x2;
constexpr quint32 xkbKeycodeOffset = 8;

// The host's modifier keys have the codes 54 (right Command) to 63 (Fn).
constexpr std::uint16_t firstModifierHostCode = 54;
constexpr std::uint16_t lastModifierHostCode = 63;

} // namespace

bool nativeScanCodesAreEvdev() {
    const QString platform = QGuiApplication::platformName();
    return platform == QStringLiteral("xcb") || platform == QStringLiteral("wayland");
}

std::optional<std::uint16_t> hostKeyCode(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode,
                                         bool scanCodesAreEvdev) {
    if (scanCodesAreEvdev && nativeScanCode > xkbKeycodeOffset && nativeScanCode - xkbKeycodeOffset <= 0xFFFF) {
        if (auto code = platform::hostKeyCode(static_cast<std::uint16_t>(nativeScanCode - xkbKeycodeOffset))) {
            return code;
        }
    }
    if (modifiers.testFlag(Qt::KeypadModifier)) {
        if (auto code = find(keypadKeys, qtKey)) return code;
    }
    return find(mainKeys, qtKey);
}

std::optional<std::uint16_t> hostKeyCode(const QKeyEvent& event) {
    return hostKeyCode(event.key(), event.modifiers(), event.nativeScanCode(), nativeScanCodesAreEvdev());
}

ModifierFlags modifierFlags(Qt::KeyboardModifiers modifiers) {
    ModifierFlags flags;
    if (modifiers.testFlag(Qt::ShiftModifier)) flags.insert(ModifierFlags::shift);
    if (modifiers.testFlag(Qt::ControlModifier)) flags.insert(ModifierFlags::control);
    if (modifiers.testFlag(Qt::AltModifier)) flags.insert(ModifierFlags::option);
    if (modifiers.testFlag(Qt::MetaModifier)) flags.insert(ModifierFlags::command);
    return flags;
}

std::optional<ModifierFlags> modifierKeyFlag(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Shift: return ModifierFlags::shift;
        case Qt::Key_Control: return ModifierFlags::control;
        case Qt::Key_Alt: return ModifierFlags::option;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R: return ModifierFlags::command;
        case Qt::Key_CapsLock: return ModifierFlags::capsLock;
        default: return std::nullopt;
    }
}

bool isModifierKey(const QKeyEvent& event) {
    if (modifierKeyFlag(event.key()) || event.key() == Qt::Key_AltGr) return true;
    const auto code = hostKeyCode(event);
    return code && *code >= firstModifierHostCode && *code <= lastModifierHostCode;
}

ModifierFlags heldModifiers(const QKeyEvent& event) {
    ModifierFlags flags = modifierFlags(event.modifiers());
    const bool xkb = nativeScanCodesAreEvdev();
    bool capsLock = xkb && (event.nativeModifiers() & xkbLockMask) != 0;
    // The native state is the one from before the event: Caps Lock's own
    // press turns the lock over.
    if (event.key() == Qt::Key_CapsLock && event.type() == QEvent::KeyPress && xkb) capsLock = !capsLock;
    if (capsLock) flags.insert(ModifierFlags::capsLock);

    // Qt already counts Shift, Control, Alt and Meta this way; the Super keys
    // it reports with the state from before.
    if (const auto own = modifierKeyFlag(event.key()); own && *own != ModifierFlags::capsLock) {
        if (event.type() == QEvent::KeyPress) {
            flags.insert(*own);
        } else if (event.type() == QEvent::KeyRelease) {
            flags.remove(*own);
        }
    }
    return flags;
}

std::optional<int> mouseButtonNumber(Qt::MouseButtons buttons) {
    const auto bits = static_cast<unsigned>(buttons.toInt());
    if (std::popcount(bits) != 1) return std::nullopt;
    // Qt numbers its buttons as bits in exactly this order: left, right,
    // middle, back, forward, then the extra buttons.
    return std::countr_zero(bits);
}

} // namespace ravolet

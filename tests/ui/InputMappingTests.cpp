#include "RavoletApp/UI/InputMapping.hpp"

#include "Platform/HostKeyCodes.hpp"
#include "RavoletApp/ViewModels/KeyCatalog.hpp"

#include <QKeyEvent>

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <map>

namespace ravolet {
namespace {

using M = ModifierFlags;

struct StandardKey {
    std::uint16_t evdevCode;
    int qtKey;
    bool keypad;
};

// Every key of the catalogue as a standard keyboard reports it: its evdev code
// and the Qt key it gives on the US layout.
const std::map<std::string, StandardKey>& standardKeys() {
    static const std::map<std::string, StandardKey> keys = [] {
        std::map<std::string, StandardKey> keys{
            {"Return", {KEY_ENTER, Qt::Key_Return, false}}, {"Tab", {KEY_TAB, Qt::Key_Tab, false}},
            {"Space", {KEY_SPACE, Qt::Key_Space, false}}, {"Backspace", {KEY_BACKSPACE, Qt::Key_Backspace, false}},
            {"Delete", {KEY_DELETE, Qt::Key_Delete, false}}, {"Escape", {KEY_ESC, Qt::Key_Escape, false}},
            {"Insert", {KEY_INSERT, Qt::Key_Insert, false}}, {"Home", {KEY_HOME, Qt::Key_Home, false}},
            {"End", {KEY_END, Qt::Key_End, false}}, {"Page Up", {KEY_PAGEUP, Qt::Key_PageUp, false}},
            {"Page Down", {KEY_PAGEDOWN, Qt::Key_PageDown, false}}, {"Left Arrow", {KEY_LEFT, Qt::Key_Left, false}},
            {"Right Arrow", {KEY_RIGHT, Qt::Key_Right, false}}, {"Up Arrow", {KEY_UP, Qt::Key_Up, false}},
            {"Down Arrow", {KEY_DOWN, Qt::Key_Down, false}}, {"-", {KEY_MINUS, Qt::Key_Minus, false}},
            {"=", {KEY_EQUAL, Qt::Key_Equal, false}}, {"[", {KEY_LEFTBRACE, Qt::Key_BracketLeft, false}},
            {"]", {KEY_RIGHTBRACE, Qt::Key_BracketRight, false}}, {"\\", {KEY_BACKSLASH, Qt::Key_Backslash, false}},
            {";", {KEY_SEMICOLON, Qt::Key_Semicolon, false}}, {"'", {KEY_APOSTROPHE, Qt::Key_Apostrophe, false}},
            {",", {KEY_COMMA, Qt::Key_Comma, false}}, {".", {KEY_DOT, Qt::Key_Period, false}},
            {"/", {KEY_SLASH, Qt::Key_Slash, false}}, {"`", {KEY_GRAVE, Qt::Key_QuoteLeft, false}},
            {"Keypad +", {KEY_KPPLUS, Qt::Key_Plus, true}}, {"Keypad -", {KEY_KPMINUS, Qt::Key_Minus, true}},
            {"Keypad ×", {KEY_KPASTERISK, Qt::Key_Asterisk, true}}, {"Keypad ÷", {KEY_KPSLASH, Qt::Key_Slash, true}},
            {"Keypad Enter", {KEY_KPENTER, Qt::Key_Enter, true}}, {"Keypad .", {KEY_KPDOT, Qt::Key_Period, true}},
        };
        // Letters and digits along the keyboard's rows, which evdev numbers
        // one after another; their Qt keys are their characters.
        const std::pair<std::string_view, int> rows[] = {
            {"1234567890", KEY_1}, {"QWERTYUIOP", KEY_Q}, {"ASDFGHJKL", KEY_A}, {"ZXCVBNM", KEY_Z}};
        for (const auto& [row, first] : rows) {
            for (std::size_t i = 0; i < row.size(); ++i) {
                keys[std::string(1, row[i])] = {static_cast<std::uint16_t>(first + i), row[i], false};
            }
        }
        const std::uint16_t keypadDigits[] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                              KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
        for (int digit = 0; digit < 10; ++digit) {
            keys["Keypad " + std::to_string(digit)] = {keypadDigits[digit], Qt::Key_0 + digit, true};
        }
        const std::uint16_t functionKeys[] = {KEY_F1,  KEY_F2,  KEY_F3,  KEY_F4,  KEY_F5,  KEY_F6,  KEY_F7,
                                              KEY_F8,  KEY_F9,  KEY_F10, KEY_F11, KEY_F12, KEY_F13, KEY_F14,
                                              KEY_F15, KEY_F16, KEY_F17, KEY_F18, KEY_F19, KEY_F20};
        for (int n = 1; n <= 20; ++n) keys["F" + std::to_string(n)] = {functionKeys[n - 1], Qt::Key_F1 + n - 1, false};
        return keys;
    }();
    return keys;
}

TEST(InputMapping, EveryCatalogueKeyMapsFromItsScanCodeAndFromItsQtKey) {
    ASSERT_EQ(standardKeys().size(), KeyCatalog::all().size());
    for (const KeyCatalog::Key& key : KeyCatalog::all()) {
        const auto found = standardKeys().find(key.name);
        ASSERT_NE(found, standardKeys().end()) << key.name;
        const StandardKey& standard = found->second;
        const Qt::KeyboardModifiers keypad = standard.keypad ? Qt::KeypadModifier : Qt::NoModifier;
        const quint32 scanCode = standard.evdevCode + 8u;

        // The physical key decides where the scan code is an evdev one,
        // whatever the layout made of it.
        EXPECT_EQ(hostKeyCode(Qt::Key_unknown, Qt::NoModifier, scanCode, true), key.code) << key.name;
        EXPECT_EQ(hostKeyCode(Qt::Key_Q, Qt::NoModifier, scanCode, true), key.code) << key.name;
        // Elsewhere, or for a synthesised event, the Qt key does.
        EXPECT_EQ(hostKeyCode(standard.qtKey, keypad, 0, true), key.code) << key.name;
        EXPECT_EQ(hostKeyCode(standard.qtKey, keypad, scanCode, false), key.code) << key.name;
        const QKeyEvent event(QEvent::KeyPress, standard.qtKey, keypad);
        EXPECT_EQ(hostKeyCode(event), key.code) << key.name;
        // A key sent for the code is the same key.
        EXPECT_EQ(platform::evdevKeyCode(key.code), standard.evdevCode) << key.name;
    }

    // Shifted symbols stand for their keys; a key the host lacks maps to nothing.
    EXPECT_EQ(hostKeyCode(Qt::Key_Exclam, Qt::ShiftModifier, 0, false), 18);
    EXPECT_EQ(hostKeyCode(Qt::Key_Home, Qt::KeypadModifier, 0, false), 89);
    EXPECT_EQ(hostKeyCode(Qt::Key_LaunchMail, Qt::NoModifier, 0, false), std::nullopt);
    EXPECT_EQ(hostKeyCode(Qt::Key_LaunchMail, Qt::NoModifier, KEY_MAIL + 8u, true), std::nullopt);
}

TEST(InputMapping, ModifiersAndMouseButtons) {
    const struct {
        Qt::KeyboardModifiers qt;
        ModifierFlags flags;
    } modifiers[] = {
        {Qt::NoModifier, M::none},
        {Qt::ShiftModifier, M::shift},
        {Qt::ControlModifier, M::control},
        {Qt::AltModifier, M::option},
        {Qt::MetaModifier, M::command},
        {Qt::ShiftModifier | Qt::MetaModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier,
         M::of({M::shift, M::command})},
    };
    for (const auto& row : modifiers) EXPECT_EQ(modifierFlags(row.qt), row.flags) << row.qt.toInt();

    // A modifier key's own press counts and its release no longer does,
    // the Super keys included.
    const struct {
        QEvent::Type type;
        int key;
        Qt::KeyboardModifiers before;
        bool isModifier;
        ModifierFlags held;
    } keys[] = {
        {QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, true, M::shift},
        {QEvent::KeyPress, Qt::Key_Super_L, Qt::ShiftModifier, true, M::of({M::shift, M::command})},
        {QEvent::KeyRelease, Qt::Key_Super_R, Qt::MetaModifier, true, M::none},
        {QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier | Qt::AltModifier, true, M::option},
        {QEvent::KeyPress, Qt::Key_AltGr, Qt::NoModifier, true, M::none},
        {QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier, false, M::control},
    };
    for (const auto& row : keys) {
        const QKeyEvent event(row.type, row.key, row.before);
        EXPECT_EQ(isModifierKey(event), row.isModifier) << row.key;
        EXPECT_EQ(heldModifiers(event), row.held) << row.key;
    }

    const struct {
        Qt::MouseButtons qt;
        std::optional<int> number;
    } buttons[] = {
        {Qt::LeftButton, 0},     {Qt::RightButton, 1},    {Qt::MiddleButton, 2},
        {Qt::BackButton, 3},     {Qt::ForwardButton, 4},  {Qt::ExtraButton3, 5},
        {Qt::ExtraButton24, 26}, {Qt::NoButton, std::nullopt}, {Qt::LeftButton | Qt::RightButton, std::nullopt},
    };
    for (const auto& row : buttons) EXPECT_EQ(mouseButtonNumber(row.qt), row.number) << row.qt.toInt();
}

} // namespace
} // namespace ravolet

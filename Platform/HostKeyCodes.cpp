#include "Platform/HostKeyCodes.hpp"

#include <linux/input-event-codes.h>

#include <array>

namespace ravolet::platform {

namespace {

constexpr std::array pairs{
    // Letters.
    HostKeyCodePair{KEY_A, 0}, HostKeyCodePair{KEY_S, 1}, HostKeyCodePair{KEY_D, 2}, HostKeyCodePair{KEY_F, 3},
    HostKeyCodePair{KEY_H, 4}, HostKeyCodePair{KEY_G, 5}, HostKeyCodePair{KEY_Z, 6}, HostKeyCodePair{KEY_X, 7},
    HostKeyCodePair{KEY_C, 8}, HostKeyCodePair{KEY_V, 9}, HostKeyCodePair{KEY_B, 11}, HostKeyCodePair{KEY_Q, 12},
    HostKeyCodePair{KEY_W, 13}, HostKeyCodePair{KEY_E, 14}, HostKeyCodePair{KEY_R, 15}, HostKeyCodePair{KEY_Y, 16},
    HostKeyCodePair{KEY_T, 17}, HostKeyCodePair{KEY_O, 31}, HostKeyCodePair{KEY_U, 32}, HostKeyCodePair{KEY_I, 34},
    HostKeyCodePair{KEY_P, 35}, HostKeyCodePair{KEY_L, 37}, HostKeyCodePair{KEY_J, 38}, HostKeyCodePair{KEY_K, 40},
    HostKeyCodePair{KEY_N, 45}, HostKeyCodePair{KEY_M, 46},
    // The digit row.
    HostKeyCodePair{KEY_1, 18}, HostKeyCodePair{KEY_2, 19}, HostKeyCodePair{KEY_3, 20}, HostKeyCodePair{KEY_4, 21},
    HostKeyCodePair{KEY_6, 22}, HostKeyCodePair{KEY_5, 23}, HostKeyCodePair{KEY_9, 25}, HostKeyCodePair{KEY_7, 26},
    HostKeyCodePair{KEY_8, 28}, HostKeyCodePair{KEY_0, 29},
    // Punctuation, and the extra key of ISO keyboards beside the left Shift.
    HostKeyCodePair{KEY_EQUAL, 24}, HostKeyCodePair{KEY_MINUS, 27}, HostKeyCodePair{KEY_RIGHTBRACE, 30},
    HostKeyCodePair{KEY_LEFTBRACE, 33}, HostKeyCodePair{KEY_APOSTROPHE, 39}, HostKeyCodePair{KEY_SEMICOLON, 41},
    HostKeyCodePair{KEY_BACKSLASH, 42}, HostKeyCodePair{KEY_COMMA, 43}, HostKeyCodePair{KEY_SLASH, 44},
    HostKeyCodePair{KEY_DOT, 47}, HostKeyCodePair{KEY_GRAVE, 50}, HostKeyCodePair{KEY_102ND, 10},
    // Editing keys. Insert sits where the host keyboard has Help.
    HostKeyCodePair{KEY_ENTER, 36}, HostKeyCodePair{KEY_TAB, 48}, HostKeyCodePair{KEY_SPACE, 49},
    HostKeyCodePair{KEY_BACKSPACE, 51}, HostKeyCodePair{KEY_ESC, 53}, HostKeyCodePair{KEY_INSERT, 114},
    HostKeyCodePair{KEY_HELP, 114}, HostKeyCodePair{KEY_HOME, 115}, HostKeyCodePair{KEY_PAGEUP, 116},
    HostKeyCodePair{KEY_DELETE, 117}, HostKeyCodePair{KEY_END, 119}, HostKeyCodePair{KEY_PAGEDOWN, 121},
    HostKeyCodePair{KEY_COMPOSE, 110},
    // Arrows.
    HostKeyCodePair{KEY_LEFT, 123}, HostKeyCodePair{KEY_RIGHT, 124}, HostKeyCodePair{KEY_DOWN, 125},
    HostKeyCodePair{KEY_UP, 126},
    // Function keys. Print Screen, Scroll Lock and Pause sit where an extended
    // host keyboard has F13 to F15.
    HostKeyCodePair{KEY_F1, 122}, HostKeyCodePair{KEY_F2, 120}, HostKeyCodePair{KEY_F3, 99},
    HostKeyCodePair{KEY_F4, 118}, HostKeyCodePair{KEY_F5, 96}, HostKeyCodePair{KEY_F6, 97},
    HostKeyCodePair{KEY_F7, 98}, HostKeyCodePair{KEY_F8, 100}, HostKeyCodePair{KEY_F9, 101},
    HostKeyCodePair{KEY_F10, 109}, HostKeyCodePair{KEY_F11, 103}, HostKeyCodePair{KEY_F12, 111},
    HostKeyCodePair{KEY_F13, 105}, HostKeyCodePair{KEY_SYSRQ, 105}, HostKeyCodePair{KEY_F14, 107},
    HostKeyCodePair{KEY_SCROLLLOCK, 107}, HostKeyCodePair{KEY_F15, 113}, HostKeyCodePair{KEY_PAUSE, 113},
    HostKeyCodePair{KEY_F16, 106}, HostKeyCodePair{KEY_F17, 64}, HostKeyCodePair{KEY_F18, 79},
    HostKeyCodePair{KEY_F19, 80}, HostKeyCodePair{KEY_F20, 90},
    // The keypad. Num Lock sits where the host keypad has Clear.
    HostKeyCodePair{KEY_KP0, 82}, HostKeyCodePair{KEY_KP1, 83}, HostKeyCodePair{KEY_KP2, 84},
    HostKeyCodePair{KEY_KP3, 85}, HostKeyCodePair{KEY_KP4, 86}, HostKeyCodePair{KEY_KP5, 87},
    HostKeyCodePair{KEY_KP6, 88}, HostKeyCodePair{KEY_KP7, 89}, HostKeyCodePair{KEY_KP8, 91},
    HostKeyCodePair{KEY_KP9, 92}, HostKeyCodePair{KEY_KPDOT, 65}, HostKeyCodePair{KEY_KPASTERISK, 67},
    HostKeyCodePair{KEY_KPPLUS, 69}, HostKeyCodePair{KEY_NUMLOCK, 71}, HostKeyCodePair{KEY_KPSLASH, 75},
    HostKeyCodePair{KEY_KPENTER, 76}, HostKeyCodePair{KEY_KPMINUS, 78}, HostKeyCodePair{KEY_KPEQUAL, 81},
    HostKeyCodePair{KEY_KPJPCOMMA, 95},
    // Modifiers: Super is the host's Command, Alt its Option.
    HostKeyCodePair{KEY_RIGHTMETA, 54}, HostKeyCodePair{KEY_LEFTMETA, 55}, HostKeyCodePair{KEY_LEFTSHIFT, 56},
    HostKeyCodePair{KEY_CAPSLOCK, 57}, HostKeyCodePair{KEY_LEFTALT, 58}, HostKeyCodePair{KEY_LEFTCTRL, 59},
    HostKeyCodePair{KEY_RIGHTSHIFT, 60}, HostKeyCodePair{KEY_RIGHTALT, 61}, HostKeyCodePair{KEY_RIGHTCTRL, 62},
    HostKeyCodePair{KEY_FN, 63},
    // Sound keys and the keys of Japanese keyboards.
    HostKeyCodePair{KEY_VOLUMEUP, 72}, HostKeyCodePair{KEY_VOLUMEDOWN, 73}, HostKeyCodePair{KEY_MUTE, 74},
    HostKeyCodePair{KEY_YEN, 93}, HostKeyCodePair{KEY_RO, 94}, HostKeyCodePair{KEY_HANJA, 102},
    HostKeyCodePair{KEY_HANGEUL, 104},
};

constexpr std::uint16_t absent = 0xFFFF;

// Direct lookups both ways, built at compile time; the first pair for a code wins.
template <std::size_t Size, class From, class To>
constexpr std::array<std::uint16_t, Size> index(From from, To to) {
    std::array<std::uint16_t, Size> table{};
    table.fill(absent);
    for (const HostKeyCodePair& pair : pairs) {
        std::uint16_t& slot = table[from(pair)];
        if (slot == absent) slot = to(pair);
    }
    return table;
}

constexpr auto evdevSide = [](const HostKeyCodePair& p) { return p.evdevCode; };
constexpr auto hostSide = [](const HostKeyCodePair& p) { return p.hostCode; };
constexpr auto hostByEvdev = index<KEY_MAX + 1>(evdevSide, hostSide);
constexpr auto evdevByHost = index<128>(hostSide, evdevSide);

template <std::size_t Size>
std::optional<std::uint16_t> lookUp(const std::array<std::uint16_t, Size>& table, std::uint16_t code) {
    if (code >= Size || table[code] == absent) return std::nullopt;
    return table[code];
}

} // namespace

std::span<const HostKeyCodePair> hostKeyCodePairs() { return pairs; }

std::optional<std::uint16_t> hostKeyCode(std::uint16_t evdevCode) { return lookUp(hostByEvdev, evdevCode); }

std::optional<std::uint16_t> evdevKeyCode(std::uint16_t hostCode) { return lookUp(evdevByHost, hostCode); }

} // namespace ravolet::platform

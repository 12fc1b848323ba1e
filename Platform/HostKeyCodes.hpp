#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace ravolet::platform {

// The settings document names a key by the original host's virtual key code,
// which stands for a physical key position whatever the keyboard layout. Linux
// names the same positions by evdev key codes (KEY_* of the kernel's input
// interface). This table is the one translation between the two, used when a
// key is recorded and when a key is sent.
struct HostKeyCodePair {
    std::uint16_t evdevCode;
    std::uint16_t hostCode;
};

// Every pair, the preferred evdev key for a host code first: where several
// Linux keys sit at one host position (Insert and Help, for instance), the
// first is the one a key sent for that host code presses.
std::span<const HostKeyCodePair> hostKeyCodePairs();

// The host key code of the physical key with this evdev code; none for a key
// the host has no code for (media and launcher keys, for instance).
std::optional<std::uint16_t> hostKeyCode(std::uint16_t evdevCode);

// The evdev key to press for a host key code; none for a code no Linux key
// stands for.
std::optional<std::uint16_t> evdevKeyCode(std::uint16_t hostCode);

} // namespace ravolet::platform

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// What the high-resolution wheel feature can do.
struct HIDPPWheelCapability {
    std::uint8_t multiplier = 0;
    bool hasInvert = false;
    bool hasRatchetSwitch = false;
    std::uint8_t flags = 0;

    HIDPPWheelCapability() = default;
    // hasInvert is flag bit 0x08, hasRatchetSwitch bit 0x04; the byte is kept whole.
    HIDPPWheelCapability(std::uint8_t multiplier, std::uint8_t flags)
        : multiplier(multiplier), hasInvert((flags & 0x08) != 0), hasRatchetSwitch((flags & 0x04) != 0), flags(flags) {}

    // "multiplier=8 hasInvert=true hasRatchetSwitch=true flags=0x0C".
    std::string description() const;

    friend bool operator==(const HIDPPWheelCapability&, const HIDPPWheelCapability&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPWheelCapability& c) { return os << c.description(); }
};

// The wheel's reporting mode.
struct HIDPPWheelMode {
    bool target = false;  // wheel reports go to HID++ notifications instead of the plain HID wheel
    bool highResolution = false;
    bool inverted = false;

    HIDPPWheelMode() = default;
    HIDPPWheelMode(bool target, bool highResolution, bool inverted)
        : target(target), highResolution(highResolution), inverted(inverted) {}
    // target bit 0x01, highResolution 0x02, inverted 0x04; other bits ignored.
    static HIDPPWheelMode fromRawValue(std::uint8_t raw) { return {(raw & 0x01) != 0, (raw & 0x02) != 0, (raw & 0x04) != 0}; }
    std::uint8_t rawValue() const {
        return static_cast<std::uint8_t>((target ? 0x01 : 0) | (highResolution ? 0x02 : 0) | (inverted ? 0x04 : 0));
    }

    // "target=HID++ events hiRes=true inverted=false".
    std::string description() const;

    friend bool operator==(const HIDPPWheelMode&, const HIDPPWheelMode&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPWheelMode& m) { return os << m.description(); }
};

enum class HIDPPRatchetState : std::uint8_t { freeSpin = 0, ratchet = 1 };

std::optional<HIDPPRatchetState> hidppRatchetState(std::uint8_t raw);
// "free-spin", "ratchet (engaged)".
std::string_view description(HIDPPRatchetState state);
std::ostream& operator<<(std::ostream& os, HIDPPRatchetState state);

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPWheelCapability> {
    std::size_t operator()(const ravolet::HIDPPWheelCapability& c) const noexcept {
        return ravolet::hashFields(c.multiplier, c.hasInvert, c.hasRatchetSwitch, c.flags);
    }
};

template <>
struct std::hash<ravolet::HIDPPWheelMode> {
    std::size_t operator()(const ravolet::HIDPPWheelMode& m) const noexcept { return std::hash<std::uint8_t>{}(m.rawValue()); }
};

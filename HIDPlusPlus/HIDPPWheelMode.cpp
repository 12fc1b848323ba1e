#include "HIDPlusPlus/HIDPPWheelMode.hpp"

#include <fmt/format.h>

namespace ravolet {

namespace {
std::string_view boolText(bool b) { return b ? "true" : "false"; }
} // namespace

std::string HIDPPWheelCapability::description() const {
    return fmt::format("multiplier={} hasInvert={} hasRatchetSwitch={} flags=0x{:02X}", multiplier, boolText(hasInvert),
                       boolText(hasRatchetSwitch), flags);
}

std::string HIDPPWheelMode::description() const {
    return fmt::format("target={} hiRes={} inverted={}", target ? "HID++ events" : "plain HID wheel", boolText(highResolution),
                       boolText(inverted));
}

std::optional<HIDPPRatchetState> hidppRatchetState(std::uint8_t raw) {
    if (raw > 1) return std::nullopt;
    return static_cast<HIDPPRatchetState>(raw);
}

std::string_view description(HIDPPRatchetState state) {
    return state == HIDPPRatchetState::freeSpin ? "free-spin" : "ratchet (engaged)";
}

std::ostream& operator<<(std::ostream& os, HIDPPRatchetState state) { return os << description(state); }

} // namespace ravolet

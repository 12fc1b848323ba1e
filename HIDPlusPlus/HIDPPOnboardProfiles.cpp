#include "HIDPlusPlus/HIDPPOnboardProfiles.hpp"

#include <fmt/format.h>

namespace ravolet {

std::optional<HIDPPOnboardMode> hidppOnboardMode(std::uint8_t raw) {
    if (raw != 1 && raw != 2) return std::nullopt;
    return static_cast<HIDPPOnboardMode>(raw);
}

std::string_view description(HIDPPOnboardMode mode) {
    return mode == HIDPPOnboardMode::onboard ? "ONBOARD (device-driven)" : "HOST (software-driven)";
}

std::ostream& operator<<(std::ostream& os, HIDPPOnboardMode mode) { return os << description(mode); }

std::string HIDPPOnboardProfilesDescriptor::description() const {
    return fmt::format(
        "memModel={} profileFmt={} macroFmt={} profiles={} oob={} buttons={} sectors={} sectorSize={} mechLayout=0x{:02X} "
        "various=0x{:02X}",
        memoryModel, profileFormat, macroFormat, profileCount, profileCountOOB, buttonCount, sectorCount, sectorSize,
        mechanicalLayout, variousInfo);
}

std::string HIDPPCurrentProfile::description() const { return fmt::format("page={} index={}", page, index); }

} // namespace ravolet

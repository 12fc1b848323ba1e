#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// Who drives the mouse's settings: its own stored profiles or the host.
enum class HIDPPOnboardMode : std::uint8_t { onboard = 1, host = 2 };

std::optional<HIDPPOnboardMode> hidppOnboardMode(std::uint8_t raw);
// "ONBOARD (device-driven)", "HOST (software-driven)".
std::string_view description(HIDPPOnboardMode mode);
std::ostream& operator<<(std::ostream& os, HIDPPOnboardMode mode);

// What the onboard-profiles feature reports about its memory.
struct HIDPPOnboardProfilesDescriptor {
    std::uint8_t memoryModel = 0;
    std::uint8_t profileFormat = 0;
    std::uint8_t macroFormat = 0;
    std::uint8_t profileCount = 0;
    std::uint8_t profileCountOOB = 0;
    std::uint8_t buttonCount = 0;
    std::uint8_t sectorCount = 0;
    std::int64_t sectorSize = 0;
    std::uint8_t mechanicalLayout = 0;
    std::uint8_t variousInfo = 0;

    std::string description() const;

    friend bool operator==(const HIDPPOnboardProfilesDescriptor&, const HIDPPOnboardProfilesDescriptor&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPOnboardProfilesDescriptor& d) { return os << d.description(); }
};

// The profile the mouse runs: its memory page and index.
struct HIDPPCurrentProfile {
    std::uint8_t page = 0;
    std::uint8_t index = 0;

    // "page=0 index=1".
    std::string description() const;

    friend bool operator==(const HIDPPCurrentProfile&, const HIDPPCurrentProfile&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPCurrentProfile& p) { return os << p.description(); }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPOnboardProfilesDescriptor> {
    std::size_t operator()(const ravolet::HIDPPOnboardProfilesDescriptor& d) const noexcept {
        return ravolet::hashFields(d.memoryModel, d.profileFormat, d.macroFormat, d.profileCount, d.profileCountOOB, d.buttonCount,
                                  d.sectorCount, d.sectorSize, d.mechanicalLayout, d.variousInfo);
    }
};

template <>
struct std::hash<ravolet::HIDPPCurrentProfile> {
    std::size_t operator()(const ravolet::HIDPPCurrentProfile& p) const noexcept { return ravolet::hashFields(p.page, p.index); }
};

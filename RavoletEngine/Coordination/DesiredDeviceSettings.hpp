#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// The mouse settings an apply writes. An absent field leaves that setting of
// the mouse untouched.
struct DesiredDeviceSettings {
    std::optional<std::int64_t> dpi;
    std::optional<std::int64_t> reportRateHertz;
    std::optional<bool> highResolutionWheel;

    friend bool operator==(const DesiredDeviceSettings&, const DesiredDeviceSettings&) = default;
    friend std::ostream& operator<<(std::ostream& os, const DesiredDeviceSettings& d) {
        os << "DesiredDeviceSettings(dpi ";
        d.dpi ? os << *d.dpi : os << '-';
        os << ", rate ";
        d.reportRateHertz ? os << *d.reportRateHertz : os << '-';
        os << ", highResolutionWheel ";
        d.highResolutionWheel ? os << *d.highResolutionWheel : os << '-';
        return os << ')';
    }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::DesiredDeviceSettings> {
    std::size_t operator()(const ravolet::DesiredDeviceSettings& d) const noexcept {
        return ravolet::hashFields(d.dpi, d.reportRateHertz, d.highResolutionWheel);
    }
};

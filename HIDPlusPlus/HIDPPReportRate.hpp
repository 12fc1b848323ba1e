#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// One report interval.
struct HIDPPReportRate {
    std::int64_t milliseconds = 0;

    constexpr HIDPPReportRate() = default;
    constexpr explicit HIDPPReportRate(std::int64_t milliseconds) : milliseconds(milliseconds) {}

    // The rate of this frequency, or nothing unless 1000 is an exact multiple of it.
    static std::optional<HIDPPReportRate> fromHertz(std::int64_t hertz);

    // 1000 / milliseconds without remainder; 0 below 1 ms.
    std::int64_t hertz() const { return milliseconds < 1 ? 0 : 1000 / milliseconds; }

    // "1000 Hz (1 ms)".
    std::string description() const;

    friend constexpr bool operator==(const HIDPPReportRate&, const HIDPPReportRate&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPReportRate& r) { return os << r.description(); }
};

// The rates a device supports and the one it runs at.
struct HIDPPReportRateInfo {
    std::uint8_t bitmap = 0;  // bit i: an interval of i + 1 ms
    HIDPPReportRate current;

    // One rate per set bit, ascending bit order (fastest first).
    std::vector<HIDPPReportRate> supported() const;

    // "current=1000 Hz (1 ms) supported=[1000Hz/500Hz/250Hz/125Hz] bitmap=0x8B".
    std::string description() const;

    friend bool operator==(const HIDPPReportRateInfo&, const HIDPPReportRateInfo&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPReportRateInfo& i) { return os << i.description(); }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPReportRate> {
    std::size_t operator()(const ravolet::HIDPPReportRate& r) const noexcept { return std::hash<std::int64_t>{}(r.milliseconds); }
};

template <>
struct std::hash<ravolet::HIDPPReportRateInfo> {
    std::size_t operator()(const ravolet::HIDPPReportRateInfo& i) const noexcept { return ravolet::hashFields(i.bitmap, i.current); }
};

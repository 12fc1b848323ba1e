#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// The one kind of device the program cares about, by USB vendor and product.
// A plain value, safe to copy to and read on any thread.
struct HIDPPDeviceMatch {
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;

    // The mouse the program is built for.
    static const HIDPPDeviceMatch g502X;

    // "046D:C099": upper-case hexadecimal, at least four digits each, never cut.
    std::string description() const;

    friend constexpr bool operator==(const HIDPPDeviceMatch&, const HIDPPDeviceMatch&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPDeviceMatch& m) { return os << m.description(); }
};

inline constexpr HIDPPDeviceMatch HIDPPDeviceMatch::g502X{0x046D, 0xC099};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPDeviceMatch> {
    std::size_t operator()(const ravolet::HIDPPDeviceMatch& m) const noexcept {
        return ravolet::hashFields(m.vendorID, m.productID);
    }
};

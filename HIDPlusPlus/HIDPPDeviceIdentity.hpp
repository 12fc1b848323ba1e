#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// One entry of a device's usage list.
struct HIDUsagePair {
    std::int64_t usagePage = 0;
    std::int64_t usage = 0;

    // "FF00:01".
    std::string description() const;

    friend bool operator==(const HIDUsagePair&, const HIDUsagePair&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDUsagePair& p) { return os << p.description(); }
};

// The properties of a HID device, read once when a link is made.
struct HIDPPDeviceIdentity {
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    std::optional<std::string> product;
    std::optional<std::string> manufacturer;
    std::optional<std::string> serialNumber;
    std::optional<std::int64_t> locationID;
    std::int64_t primaryUsagePage = 0;
    std::int64_t primaryUsage = 0;
    std::int64_t maxInputReportSize = 0;
    std::int64_t maxOutputReportSize = 0;
    std::vector<HIDUsagePair> usagePairs;

    // Whether this is the vendor collection that speaks HID++: some usage pair
    // on the vendor page and room for a 20-byte long report. The primary
    // usage plays no part (the mouse lists the vendor page second).
    bool carriesHIDPP() const;

    // "046D:C099 G502 X usage=01:02 maxIn=20 maxOut=20 pairs=[01:02,FF00:01]".
    std::string description() const;
    // The product name, or "?".
    std::string productText() const { return product.value_or("?"); }

    friend bool operator==(const HIDPPDeviceIdentity&, const HIDPPDeviceIdentity&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPDeviceIdentity& i) { return os << i.description(); }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDUsagePair> {
    std::size_t operator()(const ravolet::HIDUsagePair& p) const noexcept { return ravolet::hashFields(p.usagePage, p.usage); }
};

template <>
struct std::hash<ravolet::HIDPPDeviceIdentity> {
    std::size_t operator()(const ravolet::HIDPPDeviceIdentity& i) const noexcept;
};

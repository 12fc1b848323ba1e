#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "Core/DeviceID.hpp"
#include "Support/ValueSupport.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"

namespace ravolet {

// "G502 X [0x046D:0xC099] usage 1/2": the product or "(unnamed)", vendor and
// product as "0x%04X" or "?", usage page and usage or -1.
std::string hidServiceLabel(const std::optional<std::string>& product, std::optional<std::int64_t> vendorID,
                            std::optional<std::int64_t> productID, std::optional<std::int64_t> primaryUsagePage,
                            std::optional<std::int64_t> primaryUsage);

// One HID service as the device scope knows it, with the registry properties
// it was described by.
struct ScopedDevice {
    std::uint64_t registryID = 0; // never 0 for a listed service
    std::optional<std::int64_t> vendorID;
    std::optional<std::int64_t> productID;
    std::optional<std::string> product;
    std::optional<std::string> transport;
    std::optional<std::int64_t> primaryUsagePage;
    std::optional<std::int64_t> primaryUsage;

    DeviceID deviceID() const { return DeviceID(registryID); }
    // Vendor and product both present and equal to the match's; usage plays no part.
    bool matches(const HIDPPDeviceMatch& match) const {
        return vendorID && *vendorID == match.vendorID && productID && *productID == match.productID;
    }
    // "G502 X [0x046D:0xC099] usage 1/2"; "(unnamed) [?:?] usage -1/-1" without properties.
    std::string label() const;

    friend bool operator==(const ScopedDevice&, const ScopedDevice&) = default;
    friend std::ostream& operator<<(std::ostream& os, const ScopedDevice& d) {
        return os << "ScopedDevice(" << d.registryID << ", " << d.label() << ')';
    }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::ScopedDevice> {
    std::size_t operator()(const ravolet::ScopedDevice& d) const noexcept {
        return ravolet::hashFields(d.registryID, d.vendorID, d.productID, d.product, d.transport, d.primaryUsagePage,
                                   d.primaryUsage);
    }
};

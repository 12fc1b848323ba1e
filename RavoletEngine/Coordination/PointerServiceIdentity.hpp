#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "Core/Json.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// One HID event service as the pointer property backends list it, addressed
// by its registry entry identifier; the other fields are the service's own
// properties when it has them.
struct PointerServiceIdentity {
    std::uint64_t registryID = 0;
    std::optional<std::int64_t> vendorID = std::nullopt;
    std::optional<std::int64_t> productID = std::nullopt;
    std::optional<std::string> product = std::nullopt;
    std::optional<std::int64_t> primaryUsagePage = std::nullopt;
    std::optional<std::int64_t> primaryUsage = std::nullopt;

    // A generic-desktop mouse collection: usage page 1, usage 2, both present.
    bool isPointerCollection() const;
    // Vendor and product both present and equal to the match's.
    bool matches(const HIDPPDeviceMatch& match) const;
    // "USB Receiver [0x046D:0xC099] usage 1/2 registry 0x1000".
    std::string label() const;

    // Absent fields are left out. Reading takes each integer only as an
    // integer token ("registryID" unsigned and required) and each text only as
    // a string; anything else fails the whole value.
    Json toJson() const;
    static PointerServiceIdentity fromJson(const JsonValue& v);

    friend bool operator==(const PointerServiceIdentity&, const PointerServiceIdentity&) = default;
};

std::ostream& operator<<(std::ostream& os, const PointerServiceIdentity& identity);

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerServiceIdentity> {
    std::size_t operator()(const ravolet::PointerServiceIdentity& s) const noexcept {
        return ravolet::hashFields(s.registryID, s.vendorID, s.productID, s.product, s.primaryUsagePage, s.primaryUsage);
    }
};

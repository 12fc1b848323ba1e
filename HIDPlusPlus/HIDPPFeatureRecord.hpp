#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "HIDPlusPlus/HIDPPFeature.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// One entry of a device's feature table, as the device reported it.
struct HIDPPFeatureRecord {
    std::uint8_t index = 0;
    std::uint16_t id = 0;
    std::optional<HIDPPFeature> feature;  // none for an identifier the catalogue does not know
    HIDPPFeatureType type;
    std::uint8_t version = 0;

    HIDPPFeatureRecord() = default;
    HIDPPFeatureRecord(std::uint8_t index, std::uint16_t id, HIDPPFeatureType type, std::uint8_t version)
        : index(index), id(id), feature(hidppFeature(id)), type(type), version(version) {}

    // The feature's name, or "unknown".
    std::string_view name() const { return feature ? ravolet::name(*feature) : std::string_view("unknown"); }

    // "idx 0x09 -> 0x2201 AdjustableDPI v2 [hidden,engineering]".
    std::string description() const;

    friend bool operator==(const HIDPPFeatureRecord&, const HIDPPFeatureRecord&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPFeatureRecord& r) { return os << r.description(); }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPFeatureRecord> {
    std::size_t operator()(const ravolet::HIDPPFeatureRecord& r) const noexcept {
        return ravolet::hashFields(r.index, r.id, r.feature, r.type, r.version);
    }
};

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "Support/OptionSet.hpp"

namespace ravolet {

// The HID++ 2.0 feature identifiers the client knows.
enum class HIDPPFeature : std::uint16_t {
    root = 0x0000,
    featureSet = 0x0001,
    featureInfo = 0x0002,
    deviceInformation = 0x0003,
    deviceNameType = 0x0005,
    deviceFriendlyName = 0x0007,
    unifiedBattery = 0x1004,
    batteryStatus = 0x1000,
    configChangeMonitor = 0x0020,
    dfuControl = 0x00C2,
    manufacturingMode = 0x1801,
    deviceReset = 0x1802,
    oobState = 0x1805,
    configurableProperties = 0x1806,
    ledTest = 0x18A1,
    enableHiddenFeatures = 0x1E00,
    spiDirectAccess = 0x1E22,
    tdeAccess = 0x1EB0,
    reprogControlsV4 = 0x1B04,
    smartShift = 0x2110,
    smartShiftEnhanced = 0x2111,
    hiResWheel = 0x2121,
    adjustableDPI = 0x2201,
    extendedAdjustableDPI = 0x2202,
    reportRate = 0x8060,
    extendedReportRate = 0x8061,
    onboardProfiles = 0x8100,
    mouseButtonSpy = 0x8110,
};

// Every known feature, in catalogue order (not sorted by identifier).
extern const std::array<HIDPPFeature, 28> allHIDPPFeatures;

// The known feature with this identifier, or nothing.
std::optional<HIDPPFeature> hidppFeature(std::uint16_t identifier);

constexpr std::uint16_t rawValue(HIDPPFeature feature) { return static_cast<std::uint16_t>(feature); }

// "AdjustableDPI".
std::string_view name(HIDPPFeature feature);

// "0x2201 AdjustableDPI".
std::string description(HIDPPFeature feature);

std::ostream& operator<<(std::ostream& os, HIDPPFeature feature);

// The type flags a device's feature table reports for each entry. The three
// low bits have no name; they are kept and compared like the named ones.
struct HIDPPFeatureType : OptionSet<HIDPPFeatureType, std::uint8_t> {
    using OptionSet::OptionSet;

    static const HIDPPFeatureType obsolete;
    static const HIDPPFeatureType hidden;
    static const HIDPPFeatureType engineering;
    static const HIDPPFeatureType manufacturingDeactivatable;
    static const HIDPPFeatureType complianceDeactivatable;

    // The named flags that are set, highest bit first, joined by ","; "-" for none.
    std::string description() const;

    friend std::ostream& operator<<(std::ostream& os, const HIDPPFeatureType& t) { return os << t.description(); }
};

inline constexpr HIDPPFeatureType HIDPPFeatureType::obsolete{0x80};
inline constexpr HIDPPFeatureType HIDPPFeatureType::hidden{0x40};
inline constexpr HIDPPFeatureType HIDPPFeatureType::engineering{0x20};
inline constexpr HIDPPFeatureType HIDPPFeatureType::manufacturingDeactivatable{0x10};
inline constexpr HIDPPFeatureType HIDPPFeatureType::complianceDeactivatable{0x08};

} // namespace ravolet


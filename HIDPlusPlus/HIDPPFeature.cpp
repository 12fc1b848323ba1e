#include "HIDPlusPlus/HIDPPFeature.hpp"

#include <algorithm>
#include <utility>

#include <fmt/format.h>

#include "HIDPlusPlus/HIDPPText.hpp"

namespace ravolet {

namespace {

struct FeatureEntry {
    HIDPPFeature feature;
    std::string_view name;
};

constexpr std::array<FeatureEntry, 28> catalogue{{
    {HIDPPFeature::root, "Root"},
    {HIDPPFeature::featureSet, "FeatureSet"},
    {HIDPPFeature::featureInfo, "FeatureInfo"},
    {HIDPPFeature::deviceInformation, "DeviceInformation"},
    {HIDPPFeature::deviceNameType, "DeviceNameType"},
    {HIDPPFeature::deviceFriendlyName, "DeviceFriendlyName"},
    {HIDPPFeature::unifiedBattery, "UnifiedBattery"},
    {HIDPPFeature::batteryStatus, "BatteryStatus"},
    {HIDPPFeature::configChangeMonitor, "ConfigChangeMonitor"},
    {HIDPPFeature::dfuControl, "DFUControl"},
    {HIDPPFeature::manufacturingMode, "ManufacturingMode"},
    {HIDPPFeature::deviceReset, "DeviceReset"},
    {HIDPPFeature::oobState, "OOBState"},
    {HIDPPFeature::configurableProperties, "ConfigurableDeviceProperties"},
    {HIDPPFeature::ledTest, "LEDTest"},
    {HIDPPFeature::enableHiddenFeatures, "EnableHiddenFeatures"},
    {HIDPPFeature::spiDirectAccess, "SPIDirectAccess"},
    {HIDPPFeature::tdeAccess, "TDEAccess"},
    {HIDPPFeature::reprogControlsV4, "ReprogrammableControlsV4"},
    {HIDPPFeature::smartShift, "SmartShift"},
    {HIDPPFeature::smartShiftEnhanced, "SmartShiftEnhanced"},
    {HIDPPFeature::hiResWheel, "HiResWheel"},
    {HIDPPFeature::adjustableDPI, "AdjustableDPI"},
    {HIDPPFeature::extendedAdjustableDPI, "ExtendedAdjustableDPI"},
    {HIDPPFeature::reportRate, "ReportRate"},
    {HIDPPFeature::extendedReportRate, "ExtendedReportRate"},
    {HIDPPFeature::onboardProfiles, "OnboardProfiles"},
    {HIDPPFeature::mouseButtonSpy, "MouseButtonSpy"},
}};

constexpr std::array<HIDPPFeature, 28> featuresInOrder() {
    std::array<HIDPPFeature, 28> all{};
    for (std::size_t i = 0; i < catalogue.size(); ++i) all[i] = catalogue[i].feature;
    return all;
}

const FeatureEntry* entry(std::uint16_t identifier) {
    const auto it = std::ranges::find_if(catalogue, [&](const FeatureEntry& e) { return rawValue(e.feature) == identifier; });
    return it == catalogue.end() ? nullptr : &*it;
}

} // namespace

const std::array<HIDPPFeature, 28> allHIDPPFeatures = featuresInOrder();

std::optional<HIDPPFeature> hidppFeature(std::uint16_t identifier) {
    if (const FeatureEntry* e = entry(identifier)) return e->feature;
    return std::nullopt;
}

std::string_view name(HIDPPFeature feature) {
    const FeatureEntry* e = entry(rawValue(feature));
    return e ? e->name : std::string_view("unknown");
}

std::string description(HIDPPFeature feature) {
    return fmt::format("0x{:04X} {}", rawValue(feature), name(feature));
}

std::ostream& operator<<(std::ostream& os, HIDPPFeature feature) { return os << description(feature); }

std::string HIDPPFeatureType::description() const {
    static constexpr HIDPPFlagName flags[] = {
        {0x80, "obsolete"},
        {0x40, "hidden"},
        {0x20, "engineering"},
        {0x10, "manufDeactivatable"},
        {0x08, "compliDeactivatable"},
    };
    return hidppFlagsText(rawValue, flags);
}

} // namespace ravolet

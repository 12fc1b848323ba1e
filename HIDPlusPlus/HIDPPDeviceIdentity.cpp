#include "HIDPlusPlus/HIDPPDeviceIdentity.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "HIDPlusPlus/HIDPPWire.hpp"

namespace ravolet {

std::string HIDUsagePair::description() const {
    return fmt::format("{:02X}:{:02X}", static_cast<std::uint64_t>(usagePage), static_cast<std::uint64_t>(usage));
}

bool HIDPPDeviceIdentity::carriesHIDPP() const {
    const bool vendorPage = std::ranges::any_of(usagePairs, [](const HIDUsagePair& p) { return p.usagePage == HIDPPWire::vendorUsagePage; });
    return vendorPage && maxOutputReportSize > HIDPPWire::longPayloadLength;
}

std::string HIDPPDeviceIdentity::description() const {
    std::string pairs;
    for (const HIDUsagePair& p : usagePairs) {
        if (!pairs.empty()) pairs += ',';
        pairs += p.description();
    }
    return fmt::format("{:04X}:{:04X} {} usage={:02X}:{:02X} maxIn={} maxOut={} pairs=[{}]", static_cast<std::uint64_t>(vendorID),
                       static_cast<std::uint64_t>(productID), productText(), static_cast<std::uint64_t>(primaryUsagePage),
                       static_cast<std::uint64_t>(primaryUsage), maxInputReportSize, maxOutputReportSize, pairs);
}

} // namespace ravolet

std::size_t std::hash<ravolet::HIDPPDeviceIdentity>::operator()(const ravolet::HIDPPDeviceIdentity& i) const noexcept {
    std::size_t pairs = 0;
    for (const auto& p : i.usagePairs) pairs = ravolet::hashFields(pairs, p);
    return ravolet::hashFields(i.vendorID, i.productID, i.product, i.manufacturer, i.serialNumber, i.locationID, i.primaryUsagePage,
                              i.primaryUsage, i.maxInputReportSize, i.maxOutputReportSize, pairs);
}

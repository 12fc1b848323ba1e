#include "HIDPlusPlus/HIDPPError.hpp"

#include <algorithm>
#include <array>
#include <type_traits>

#include <fmt/format.h>

#include "Platform/IOReturn.hpp"

namespace ravolet {

namespace pf = platform;

std::string_view HIDPP20ErrorCode::name() const {
    static constexpr std::array<std::string_view, 11> names{
        "noError", "unknown", "invalidArgument", "outOfRange", "hardwareError", "logitechInternal",
        "invalidFeatureIndex", "invalidFunctionId", "busy", "unsupported", "invalidDeviceIndex",
    };
    return rawValue < names.size() ? names[rawValue] : std::string_view("vendor/unassigned");
}

std::string HIDPP20ErrorCode::description() const { return fmt::format("0x{:02X} ({})", rawValue, name()); }

HIDPPError HIDPPError::from(std::int32_t ioReturn, std::string operation) {
    switch (ioReturn) {
    case pf::kIOReturnNotPermitted:
    case pf::kIOReturnNotPrivileged:
        return notPermitted();
    case pf::kIOReturnNotOpen:
        return notOpen();
    case pf::kIOReturnNoDevice:
    case pf::kIOReturnNotAttached:
    case pf::kIOReturnOffline:
        return deviceRemoved();
    default:
        return ioKit(std::move(operation), ioReturn);
    }
}

std::string HIDPPError::ioReturnDescription(std::int32_t ioReturn) {
    // Only these codes are named in user-facing texts; every other one,
    // even one the platform can name, reads "unknown".
    static constexpr std::array<pf::IOReturn, 12> described{
        pf::kIOReturnSuccess,        pf::kIOReturnNotOpen,     pf::kIOReturnNotPermitted, pf::kIOReturnNotPrivileged,
        pf::kIOReturnExclusiveAccess, pf::kIOReturnUnsupported, pf::kIOReturnNoDevice,     pf::kIOReturnNotAttached,
        pf::kIOReturnBadArgument,    pf::kIOReturnTimeout,     pf::kIOReturnBusy,         pf::kIOReturnError,
    };
    std::string_view codeName = "unknown";
    if (std::ranges::find(described, ioReturn) != described.end()) codeName = pf::ioReturnName(ioReturn).value_or("unknown");
    return fmt::format("0x{:08X} ({})", static_cast<std::uint32_t>(ioReturn), codeName);
}

std::string HIDPPError::description() const {
    struct Describe {
        std::string operator()(const DeviceNotFound&) const { return "no HID++ collection found for the requested device"; }
        std::string operator()(const NotPermitted&) const { return "not permitted: Mouse Access is denied for this process"; }
        std::string operator()(const NotOpen&) const { return "device is not open"; }
        std::string operator()(const NotConnected&) const { return "not connected"; }
        std::string operator()(const DeviceRemoved&) const { return "device was removed"; }
        std::string operator()(const IOKit& e) const { return e.operation + " failed: " + ioReturnDescription(e.code); }
        std::string operator()(const Timeout& e) const { return e.operation + " timed out"; }
        std::string operator()(const FeatureUnsupported& e) const {
            return fmt::format("feature 0x{:04X} {} is not supported by this device", rawValue(e.feature), name(e.feature));
        }
        std::string operator()(const Protocol20& e) const { return "HID++ 2.0 error " + e.code.description(); }
        std::string operator()(const Protocol10& e) const { return fmt::format("HID++ 1.0 error 0x{:02X}", e.code); }
        std::string operator()(const MalformedResponse& e) const { return "malformed response: " + e.text; }
        std::string operator()(const InvalidArgument& e) const { return "invalid argument: " + e.text; }
    };
    return std::visit(Describe{}, value_);
}

} // namespace ravolet

std::size_t std::hash<ravolet::HIDPPError>::operator()(const ravolet::HIDPPError& e) const noexcept {
    using E = ravolet::HIDPPError;
    const std::size_t payload = std::visit(
        [](const auto& p) -> std::size_t {
            using P = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<P, E::IOKit>) return ravolet::hashFields(p.operation, p.code);
            else if constexpr (std::is_same_v<P, E::Timeout>) return ravolet::hashFields(p.operation);
            else if constexpr (std::is_same_v<P, E::FeatureUnsupported>) return ravolet::hashFields(p.feature);
            else if constexpr (std::is_same_v<P, E::Protocol20>) return ravolet::hashFields(p.code);
            else if constexpr (std::is_same_v<P, E::Protocol10>) return ravolet::hashFields(p.code);
            else if constexpr (std::is_same_v<P, E::MalformedResponse> || std::is_same_v<P, E::InvalidArgument>)
                return ravolet::hashFields(p.text);
            else return 0;
        },
        e.value());
    return ravolet::hashFields(e.value().index(), payload);
}

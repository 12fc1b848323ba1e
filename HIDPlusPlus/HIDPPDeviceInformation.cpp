#include "HIDPlusPlus/HIDPPDeviceInformation.hpp"

#include <fmt/format.h>

#include "HIDPlusPlus/HIDPPText.hpp"

namespace ravolet {

std::string HIDPPProtocolVersion::description() const { return fmt::format("HID++ {}.{}", major, minor); }

std::string HIDPPTransports::description() const {
    static constexpr HIDPPFlagName names[] = {
        {0x0001, "Bluetooth"},
        {0x0002, "BLE"},
        {0x0004, "eQuad"},
        {0x0008, "USB"},
    };
    return hidppFlagsText(rawValue, names);
}

std::string HIDPPDeviceInformation::unitIDHex() const { return hidppHexBytes(unitID); }
std::string HIDPPDeviceInformation::modelIDHex() const { return hidppHexBytes(modelIDs); }

std::string HIDPPDeviceInformation::description() const {
    return fmt::format("entities={} unitID={} transports=[{}] modelIDs={}", entityCount, unitIDHex(), transports.description(),
                       modelIDHex());
}

} // namespace ravolet

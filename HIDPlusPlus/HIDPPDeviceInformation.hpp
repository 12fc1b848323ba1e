#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Support/OptionSet.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// The HID++ protocol version a device reports; ordered by major, then minor.
struct HIDPPProtocolVersion {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;

    // "HID++ 4.2".
    std::string description() const;

    friend constexpr bool operator==(const HIDPPProtocolVersion&, const HIDPPProtocolVersion&) = default;
    friend constexpr auto operator<=>(const HIDPPProtocolVersion&, const HIDPPProtocolVersion&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPProtocolVersion& v) { return os << v.description(); }
};

// The transports a device supports.
struct HIDPPTransports : OptionSet<HIDPPTransports, std::uint16_t> {
    using OptionSet::OptionSet;

    static const HIDPPTransports bluetooth;
    static const HIDPPTransports bluetoothLE;
    static const HIDPPTransports eQuad;
    static const HIDPPTransports usb;

    // "Bluetooth,USB"; "-" when none of the four is set.
    std::string description() const;

    friend std::ostream& operator<<(std::ostream& os, const HIDPPTransports& t) { return os << t.description(); }
};

inline constexpr HIDPPTransports HIDPPTransports::bluetooth{0x0001};
inline constexpr HIDPPTransports HIDPPTransports::bluetoothLE{0x0002};
inline constexpr HIDPPTransports HIDPPTransports::eQuad{0x0004};
inline constexpr HIDPPTransports HIDPPTransports::usb{0x0008};

// What the device-information feature reports.
struct HIDPPDeviceInformation {
    std::uint8_t entityCount = 0;
    std::vector<std::uint8_t> unitID;
    HIDPPTransports transports;
    std::vector<std::uint8_t> modelIDs;

    // The bytes as upper-case hexadecimal pairs without separators.
    std::string unitIDHex() const;
    std::string modelIDHex() const;

    // "entities=3 unitID=0A1B2C3D transports=[USB] modelIDs=C09900000000".
    std::string description() const;

    friend bool operator==(const HIDPPDeviceInformation&, const HIDPPDeviceInformation&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPDeviceInformation& i) { return os << i.description(); }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPProtocolVersion> {
    std::size_t operator()(const ravolet::HIDPPProtocolVersion& v) const noexcept { return ravolet::hashFields(v.major, v.minor); }
};

template <>
struct std::hash<ravolet::HIDPPDeviceInformation> {
    std::size_t operator()(const ravolet::HIDPPDeviceInformation& i) const noexcept {
        return ravolet::hashFields(i.entityCount, std::string(i.unitID.begin(), i.unitID.end()), i.transports,
                                  std::string(i.modelIDs.begin(), i.modelIDs.end()));
    }
};

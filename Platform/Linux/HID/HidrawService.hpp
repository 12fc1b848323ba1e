#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Platform/HIDDevice.hpp"
#include "Platform/HIDSystem.hpp"
#include "Platform/Linux/HID/HIDReportDescriptor.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"

namespace ravolet::platform {

// One hidraw node as a HID service: the node, its registry id, and the
// registry properties the host would give the same interface, read from
// sysfs once when the service is made (HidrawRegistry makes them):
// - VendorID, ProductID and Transport from the HID device's HID_ID (its bus);
// - Product from HID_NAME, SerialNumber from HID_UNIQ (when not empty),
//   Manufacturer from the USB device the interface belongs to (when it is
//   one), LocationID from HID_PHYS (below);
// - the usage pairs, the primary usage and the largest report sizes from the
//   report descriptor. A descriptor that cannot be read or parsed gives none
//   of these, so that no caller takes the node for what it is not.
class HidrawService final : public HIDService {
public:
    static std::shared_ptr<HidrawService> make(std::uint64_t registryID, HidrawNode node,
                                               std::optional<std::uint64_t> arrivedAtNanos);

    std::optional<std::uint64_t> registryEntryID() const override { return registryID_; }

    const HidrawNode& node() const { return node_; }
    const HIDProperties& properties() const { return properties_; }
    // Whether its reports start with their report id (and reads say which).
    bool numberedReports() const { return numberedReports_; }
    bool matches(const HIDMatching& matching) const;
    // When the node appeared, on the monotonic clock, if it appeared while we
    // were watching; none for a node that was there when we first looked.
    const std::optional<std::uint64_t>& arrivedAtNanos() const { return arrivedAtNanos_; }

    // The properties of a node whose report descriptor reads as `descriptor`
    // (none when it could not be read or parsed) and whose USB device was
    // made by `manufacturer`.
    static HIDProperties propertiesOf(const HidrawNode& node, const std::optional<HIDReportDescriptor>& descriptor,
                                      const std::optional<std::string>& manufacturer);
    // A number for a physical path: the same for every interface of one
    // device on one port ("usb-0000:00:14.0-2/input1" and ".../input0"), as
    // the host's location id is, and different for another port.
    static std::int64_t locationID(std::string_view phys);

    HidrawService(std::uint64_t registryID, HidrawNode node, HIDProperties properties, bool numberedReports,
                  std::optional<std::uint64_t> arrivedAtNanos);

private:
    const std::uint64_t registryID_;
    const HidrawNode node_;
    const HIDProperties properties_;
    const bool numberedReports_;
    const std::optional<std::uint64_t> arrivedAtNanos_;
};

} // namespace ravolet::platform

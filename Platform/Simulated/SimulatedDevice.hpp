#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "Platform/PrivateHIDEventSystem.hpp"

namespace ravolet::platform {

// An input device of the simulated machine: one HID service with its registry
// identifier and properties, whose events the simulated event system injects.
struct SimulatedDevice {
    std::uint64_t registryID = 0;
    std::map<std::string, PropertyValue> properties;
    // Whether the system keeps a HID event behind each of its input events
    // (read through "CGEventCopyIOHIDEvent").
    bool providesHIDEvent = true;
    // Whether its button and drag events carry its sender in field 87.
    bool fillsSenderField = true;

    // The target mouse: vendor 0x046D, product 0xC099, over USB.
    static SimulatedDevice targetMouse(std::uint64_t registryID = 0x100000A51);
    // A built-in trackpad of another vendor.
    static SimulatedDevice trackpad(std::uint64_t registryID = 0x100000B20);
    // Some other mouse.
    static SimulatedDevice otherMouse(std::uint64_t registryID = 0x100000C37);
};

} // namespace ravolet::platform

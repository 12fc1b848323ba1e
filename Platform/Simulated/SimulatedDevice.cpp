#include "Platform/Simulated/SimulatedDevice.hpp"

namespace ravolet::platform {

namespace {

SimulatedDevice device(std::uint64_t registryID, std::int64_t vendor, std::int64_t product, std::string name,
                       std::string transport, std::int64_t usagePage, std::int64_t usage) {
    SimulatedDevice d;
    d.registryID = registryID;
    d.properties = {
        {"VendorID", vendor},
        {"ProductID", product},
        {"Product", std::move(name)},
        {"Transport", std::move(transport)},
        {"PrimaryUsagePage", usagePage},
        {"PrimaryUsage", usage},
    };
    return d;
}

} // namespace

SimulatedDevice SimulatedDevice::targetMouse(std::uint64_t registryID) {
    return device(registryID, 0x046D, 0xC099, "G502 X", "USB", 1, 2);
}

SimulatedDevice SimulatedDevice::trackpad(std::uint64_t registryID) {
    return device(registryID, 0x05AC, 0x0265, "Trackpad", "SPI", 13, 5);
}

SimulatedDevice SimulatedDevice::otherMouse(std::uint64_t registryID) {
    return device(registryID, 0x045E, 0x0823, "Basic Mouse", "USB", 1, 2);
}

} // namespace ravolet::platform

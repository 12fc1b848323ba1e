#pragma once

#include <memory>

#include "Platform/HIDSystem.hpp"
#include "Platform/Linux/HID/HidrawRegistry.hpp"
#include "Platform/Linux/Kernel/UeventMonitor.hpp"
#include "Platform/Linux/LinuxPermissionProbe.hpp"

namespace ravolet::platform {

// The HID system of a Linux machine: the services are its hidraw nodes
// (HidrawRegistry, HidrawService), devices talk to them (HidrawDevice), and
// notifications follow the kernel's uevents (HidrawNotificationPort).
//
// A mouse has one hidraw node per USB interface, all with its vendor and
// product; each is a service of its own with the usage pairs and report sizes
// of its report descriptor, so that the HID++ client's own matching (a vendor
// page collection with room for a 20-byte report) picks the one that speaks
// HID++ and leaves the others alone.
//
// The access check answers for the nodes of one device kind (given when the
// system is made): granted when one of them may be read and written, denied
// when none may, unknown when there is no such node (LinuxPermissionProbe).
class LinuxHIDSystem final : public HIDSystem {
public:
    struct Options {
        HidrawRegistry::Options registry;
        // The kernel's uevents; when empty, each notification port holds
        // UeventMonitor::shared() while it lives (so that its thread ends
        // with the last port, not with the process).
        std::shared_ptr<UeventMonitor> uevents;
        // Whose nodes checkListenAccess() looks at.
        HIDMatching accessMatching;
        // access(2) when empty.
        LinuxPermissionProbe::AccessCheck accessCheck;
    };

    static std::shared_ptr<LinuxHIDSystem> make(Options options);
    // This machine's sysfs and /dev, answering access for `accessMatching`.
    static std::shared_ptr<LinuxHIDSystem> make(const HIDMatching& accessMatching);

    std::expected<std::vector<std::shared_ptr<HIDService>>, IOReturn> matchingServices(const HIDMatching& matching) override;
    std::shared_ptr<HIDDevice> createDevice(const std::shared_ptr<HIDService>& service) override;
    std::shared_ptr<HIDNotificationPort> createNotificationPort() override;
    HIDAccess checkListenAccess() override;

    const std::shared_ptr<HidrawRegistry>& registry() const { return registry_; }

    LinuxHIDSystem(std::shared_ptr<HidrawRegistry> registry, std::shared_ptr<UeventMonitor> uevents,
                   LinuxPermissionProbe access);

private:
    const std::shared_ptr<HidrawRegistry> registry_;
    const std::shared_ptr<UeventMonitor> uevents_;
    const LinuxPermissionProbe access_;
};

} // namespace ravolet::platform

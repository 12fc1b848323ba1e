#include "Platform/Linux/HID/LinuxHIDSystem.hpp"

#include "Platform/Linux/HID/HidrawDevice.hpp"
#include "Platform/Linux/HID/HidrawNotificationPort.hpp"

namespace ravolet::platform {

std::shared_ptr<LinuxHIDSystem> LinuxHIDSystem::make(Options options) {
    LinuxPermissionProbe access(options.accessMatching.vendorID, options.accessMatching.productID, options.registry.roots,
                                std::move(options.accessCheck));
    return std::make_shared<LinuxHIDSystem>(std::make_shared<HidrawRegistry>(std::move(options.registry)),
                                            std::move(options.uevents), std::move(access));
}

std::shared_ptr<LinuxHIDSystem> LinuxHIDSystem::make(const HIDMatching& accessMatching) {
    Options options;
    options.accessMatching = accessMatching;
    return make(std::move(options));
}

LinuxHIDSystem::LinuxHIDSystem(std::shared_ptr<HidrawRegistry> registry, std::shared_ptr<UeventMonitor> uevents,
                               LinuxPermissionProbe access)
    : registry_(std::move(registry)), uevents_(std::move(uevents)), access_(std::move(access)) {}

std::expected<std::vector<std::shared_ptr<HIDService>>, IOReturn> LinuxHIDSystem::matchingServices(const HIDMatching& matching) {
    std::vector<std::shared_ptr<HIDService>> services;
    for (auto& service : registry_->services(matching)) services.push_back(std::move(service));
    return services;
}

std::shared_ptr<HIDDevice> LinuxHIDSystem::createDevice(const std::shared_ptr<HIDService>& service) {
    auto hidraw = std::dynamic_pointer_cast<HidrawService>(service);
    if (!hidraw) return nullptr;
    return std::make_shared<HidrawDevice>(std::move(hidraw), registry_);
}

std::shared_ptr<HIDNotificationPort> LinuxHIDSystem::createNotificationPort() {
    return std::make_shared<HidrawNotificationPort>(registry_, uevents_ ? uevents_ : UeventMonitor::shared());
}

HIDAccess LinuxHIDSystem::checkListenAccess() {
    const HIDAccessType access = access_.hidListenAccess();
    if (access == HIDAccessType::granted) return HIDAccess::granted;
    if (access == HIDAccessType::denied) return HIDAccess::denied;
    return HIDAccess::unknown;
}

} // namespace ravolet::platform

#include "FakeMouse/FakeUSBMouse.hpp"

#include <cstdlib>
#include <utility>

#include <fmt/format.h>

namespace ravolet::testing {

FakeUSBMouse::FakeUSBMouse(UhidIdentity identity, std::string port, std::vector<Interface> interfaces,
                           PointerLayout layout)
    : identity_(std::move(identity)), port_(std::move(port)), interfaces_(std::move(interfaces)), layout_(layout) {
    identity_.phys = phys(0);
}

FakeUSBMouse::~FakeUSBMouse() { unplug(); }

std::string FakeUSBMouse::phys(int interface) const { return fmt::format("{}/input{}", port_, interface); }

std::expected<void, std::string> FakeUSBMouse::plugIn() {
    std::vector<std::shared_ptr<UhidDevice>> pulled;
    {
        std::lock_guard lock(mutex_);
        if (!devices_.empty() && devices_.front()->exists()) return {};
        pulled = std::move(devices_);
        devices_.clear();
    }
    pulled.clear(); // their threads end here, outside the lock their handlers may want

    std::vector<std::shared_ptr<UhidDevice>> devices;
    for (int n = 0; n < interfaceCount(); ++n) {
        UhidIdentity identity = identity_;
        identity.phys = phys(n);
        auto device = UhidDevice::create(identity, interfaces_[n].reportDescriptor, interfaces_[n].onOutput);
        if (!device) return std::unexpected(device.error());
        devices.push_back(std::move(*device));
    }
    for (int n = 0; n < interfaceCount(); ++n) {
        auto found = waitForKernelHIDDevice(phys(n), plugInTimeout);
        if (!found) return std::unexpected(found.error()); // the devices made go with `devices`
    }
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
    buttons_ = 0;
    return {};
}

void FakeUSBMouse::unplug() {
    std::vector<std::shared_ptr<UhidDevice>> devices;
    {
        std::lock_guard lock(mutex_);
        devices = std::move(devices_);
        devices_.clear();
    }
    for (auto& device : devices) device->destroy();
}

void FakeUSBMouse::pullCable() {
    std::lock_guard lock(mutex_);
    for (auto& device : devices_) device->destroy();
}

bool FakeUSBMouse::isPluggedIn() const {
    std::lock_guard lock(mutex_);
    return !devices_.empty() && devices_.front()->exists();
}

std::expected<KernelHIDDevice, std::string> FakeUSBMouse::kernelDevice(int interface) const {
    if (interface < 0 || interface >= interfaceCount())
        return std::unexpected(fmt::format("\"{}\" has no interface {}", identity_.name, interface));
    if (!isPluggedIn()) return std::unexpected(fmt::format("\"{}\" is unplugged", identity_.name));
    if (auto device = kernelHIDDevice(phys(interface))) return std::move(*device);
    return std::unexpected(fmt::format("the kernel shows no HID device at \"{}\"", phys(interface)));
}

std::expected<void, std::string> FakeUSBMouse::send(int interface, std::span<const std::uint8_t> report) {
    std::shared_ptr<UhidDevice> device;
    {
        std::lock_guard lock(mutex_);
        if (interface >= 0 && static_cast<std::size_t>(interface) < devices_.size()) device = devices_[interface];
    }
    if (!device) return std::unexpected(fmt::format("\"{}\" is unplugged", identity_.name));
    return device->sendInput(report);
}

std::expected<void, std::string> FakeUSBMouse::sendPointer(std::uint16_t buttons, int dx, int dy, int wheel, int pan) {
    std::vector<std::uint8_t> report;
    const int buttonBytes = (layout_.buttons + 7) / 8;
    for (int i = 0; i < buttonBytes; ++i) report.push_back(static_cast<std::uint8_t>(buttons >> (8 * i)));
    for (const int axis : {dx, dy}) {
        for (int i = 0; i < layout_.axisBytes; ++i) report.push_back(static_cast<std::uint8_t>(axis >> (8 * i)));
    }
    report.push_back(static_cast<std::uint8_t>(wheel));
    if (layout_.horizontalWheel) report.push_back(static_cast<std::uint8_t>(pan));
    return send(0, report);
}

std::uint16_t FakeUSBMouse::heldButtons() const {
    std::lock_guard lock(mutex_);
    return buttons_;
}

std::expected<void, std::string> FakeUSBMouse::move(int dx, int dy) {
    // The descriptors leave the most negative number out, as mice do.
    const int limit = layout_.axisBytes == 1 ? 127 : 32767;
    if (std::abs(dx) > limit || std::abs(dy) > limit)
        return std::unexpected(fmt::format("a move of ({}, {}) does not fit one report (at most ±{})", dx, dy, limit));
    return sendPointer(heldButtons(), dx, dy, 0, 0);
}

std::expected<void, std::string> FakeUSBMouse::setButton(int button, bool down) {
    if (button < 0 || button >= layout_.buttons)
        return std::unexpected(fmt::format("\"{}\" has no button {} (it has {})", identity_.name, button, layout_.buttons));
    std::uint16_t buttons = 0;
    {
        std::lock_guard lock(mutex_);
        const auto bit = static_cast<std::uint16_t>(1u << button);
        buttons_ = static_cast<std::uint16_t>(down ? buttons_ | bit : buttons_ & ~bit);
        buttons = buttons_;
    }
    return sendPointer(buttons, 0, 0, 0, 0);
}

std::expected<void, std::string> FakeUSBMouse::press(int button) { return setButton(button, true); }

std::expected<void, std::string> FakeUSBMouse::release(int button) { return setButton(button, false); }

std::expected<void, std::string> FakeUSBMouse::turnWheel(int detents) {
    const int tick = detents < 0 ? -1 : 1;
    const int reports = std::abs(detents) * wheelReportsPerDetent();
    for (int i = 0; i < reports; ++i) {
        if (auto sent = sendPointer(heldButtons(), 0, 0, tick, 0); !sent) return sent;
    }
    return {};
}

std::expected<void, std::string> FakeUSBMouse::turnHorizontalWheel(int detents) {
    if (!layout_.horizontalWheel) return std::unexpected(fmt::format("\"{}\" has no horizontal wheel", identity_.name));
    const int tick = detents < 0 ? -1 : 1;
    for (int i = 0; i < std::abs(detents); ++i) {
        if (auto sent = sendPointer(heldButtons(), 0, 0, 0, tick); !sent) return sent;
    }
    return {};
}

} // namespace ravolet::testing

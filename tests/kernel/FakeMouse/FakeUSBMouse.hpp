#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "FakeMouse/KernelNodes.hpp"
#include "FakeMouse/UhidDevice.hpp"

namespace ravolet::testing {

// A USB mouse that exists only in the kernel: one uhid device per USB
// interface, each with the mouse's name, vendor, product and serial number
// and the physical path "<port>/input<n>", as the kernel's USB HID driver
// names the interfaces of a real one. FakeG502X and FakeOrdinaryMouse are the
// two mice the kernel tests use; this class plugs them in and out and turns
// what the test does with the mouse into the pointer reports of interface 0.
//
// Every member may be called from any thread. Input fails (with a message)
// while the mouse is unplugged.
class FakeUSBMouse {
public:
    // How interface 0's input report is laid out: the buttons as bits (button
    // 0 in the lowest bit, padded to whole bytes), then X and Y as signed
    // little-endian numbers of `axisBytes` bytes each, then the wheel as one
    // signed byte, then, with `horizontalWheel`, AC Pan as one signed byte.
    struct PointerLayout {
        int buttons = 3;
        int axisBytes = 1;
        bool horizontalWheel = false;
    };

    struct Interface {
        std::vector<std::uint8_t> reportDescriptor;
        UhidDevice::OutputHandler onOutput; // output reports written to its hidraw node
    };

    // How long plugIn() waits for the kernel to make the nodes.
    static constexpr std::chrono::milliseconds plugInTimeout{5000};

    virtual ~FakeUSBMouse(); // unplugs
    FakeUSBMouse(const FakeUSBMouse&) = delete;
    FakeUSBMouse& operator=(const FakeUSBMouse&) = delete;

    // ---- The cable ----
    // Creates every interface and returns once the kernel has made all their
    // nodes (hidraw and event), or fails saying what is missing. Plugging in
    // an unplugged mouse again makes new devices with new node numbers; the
    // buttons start released. Does nothing when already plugged in.
    std::expected<void, std::string> plugIn();
    // UHID_DESTROY of every interface: their nodes are gone when it returns;
    // readers of the hidraw and event nodes see POLLHUP and ENODEV. Does
    // nothing when unplugged.
    void unplug();
    bool isPluggedIn() const;

    // ---- Identity and nodes ----
    const UhidIdentity& identity() const { return identity_; } // phys: interface 0's
    int interfaceCount() const { return static_cast<int>(interfaces_.size()); }
    // "<port>/input<n>"
    std::string phys(int interface) const;
    // Interface `n` as the kernel shows it now: sysfs folder, hidraw node,
    // event nodes. Fails while unplugged.
    std::expected<KernelHIDDevice, std::string> kernelDevice(int interface) const;

    // ---- What the hand does; each is one input report (one evdev frame) ----
    // Buttons are numbered from 0 as Ravolet numbers them: 0 left, 1 right,
    // 2 middle, 3 back, 4 forward, and so on; button n is the HID button
    // usage n + 1, which the kernel reports as BTN_MOUSE + n (BTN_LEFT,
    // BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA, BTN_FORWARD, ...).
    std::expected<void, std::string> move(int dx, int dy);
    std::expected<void, std::string> press(int button);
    std::expected<void, std::string> release(int button);
    // Positive turns the wheel away from the user (scrolling up, REL_WHEEL
    // +1), negative towards. Each detent is wheelReportsPerDetent() reports
    // of one tick each.
    std::expected<void, std::string> turnWheel(int detents);
    // Positive tilts right (REL_HWHEEL +1); one report per detent.
    std::expected<void, std::string> turnHorizontalWheel(int detents);

    const PointerLayout& pointerLayout() const { return layout_; }

protected:
    // `identity` with the physical path of the USB port ("usb-0000:00:14.0-2").
    FakeUSBMouse(UhidIdentity identity, std::string port, std::vector<Interface> interfaces, PointerLayout layout);

    // How many wheel reports of one tick one detent makes.
    virtual int wheelReportsPerDetent() const { return 1; }

    // One report on interface `n` (report id first where it numbers its reports).
    std::expected<void, std::string> send(int interface, std::span<const std::uint8_t> report);
    // Pulls the cable from inside an output handler: every interface is
    // destroyed at once, without waiting for the handler's own thread.
    void pullCable();

private:
    std::expected<void, std::string> sendPointer(std::uint16_t buttons, int dx, int dy, int wheel, int pan);
    std::expected<void, std::string> setButton(int button, bool down);
    std::uint16_t heldButtons() const;

    UhidIdentity identity_;
    std::string port_;
    std::vector<Interface> interfaces_;
    PointerLayout layout_;

    mutable std::mutex mutex_;
    // One a plugged interface. Shared so that a report being sent keeps its
    // device; pulled ones stay until the next plugIn() or unplug().
    std::vector<std::shared_ptr<UhidDevice>> devices_;
    std::uint16_t buttons_ = 0;
};

} // namespace ravolet::testing

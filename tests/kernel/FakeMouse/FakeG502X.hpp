#pragma once

// The fake wired G502 X of the kernel tests: the mouse as Linux sees one,
// made with uhid inside the kernel test VM (scripts/kernel-test.sh), so that
// the real kernel makes its hidraw and event nodes and the real generic HID
// driver turns its reports into evdev events.
//
//     FakeG502X mouse;
//     ASSERT_TRUE(mouse.plugIn()) ...;               // nodes exist when it returns
//     auto pointer = mouse.kernelDevice(FakeG502X::pointerInterface);
//     auto reader = EventNodeReader::open(pointer->inputs.front().eventNode);
//     mouse.turnWheel(1);                            // 1 or 8 REL_WHEEL frames, by the wheel mode
//     mouse.model()->setCurrentDPI(800);             // the HID++ side, as on the simulated bus
//     mouse.unplug();                                // the nodes are gone
//
// Its two USB interfaces are two HID devices, both vendor 0x046D, product
// 0xC099, bus USB, name "Logitech G502 X", serial "1A2B3C4D", physical paths
// "usb-0000:00:14.0-2/input0" and ".../input1":
//   - interface 0, the pointer: 16 buttons, 16-bit relative X and Y, the
//     wheel and AC Pan (the horizontal wheel); no report ids, 8 bytes. The
//     kernel makes one event node "Logitech G502 X" (REL_X, REL_Y,
//     REL_WHEEL and REL_HWHEEL with their *_HI_RES, BTN_LEFT and on).
//   - interface 1: a keyboard (report 1), consumer control (report 3) and
//     system control (report 4), which the kernel gives event nodes of their
//     own, and the HID++ collections on vendor page 0xFF00: usage 1 with
//     report 0x10 (7 bytes with its id) and usage 2 with report 0x11 (20
//     bytes), both input and output. Only this interface's hidraw node speaks
//     HID++.
//
// HID++: every output report written to interface 1's hidraw node goes, on
// the fake mouse's own thread, to model()->handleOutputReport(), the same
// responder that serves the simulated HID bus (feature table, DPI, report
// rate, wheel mode, onboard profiles, and the faults scripted on it:
// failNext, dropNext, setSilent, unplugOnNext...); its replies come back as
// input reports on that node, a request with a short (0x10) report included.
// A reply that says the cable goes (unplugOnNext) unplugs both interfaces
// before any answer. Reports other than 0x10 and 0x11 get no answer.
//
// The wheel behaves as the real one under the generic driver: while the
// model's HID++ wheel mode (feature 0x2121) has high resolution on and sends
// to HID, one detent is SimulatedMouse::wheelMultiplier (8) reports of one
// tick, each of which the kernel reports as a whole REL_WHEEL 1 with
// REL_WHEEL_HI_RES 120; otherwise a detent is one report.
//
// Inside the VM only: /dev/uhid exists there, and tests run as root.

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>

#include "FakeMouse/FakeUSBMouse.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"

namespace ravolet::testing {

class FakeG502X : public FakeUSBMouse {
public:
    static constexpr int pointerInterface = 0;
    static constexpr int hidppInterface = 1;
    static constexpr auto vendorID = static_cast<std::uint16_t>(platform::SimulatedMouse::vendorID);
    static constexpr auto productID = static_cast<std::uint16_t>(platform::SimulatedMouse::productID);
    static constexpr const char* name = "Logitech G502 X";
    static constexpr const char* usbPort = "usb-0000:00:14.0-2";

    // Report ids of interface 1.
    static constexpr std::uint8_t keyboardReportID = 0x01;
    static constexpr std::uint8_t consumerReportID = 0x03;
    static constexpr std::uint8_t systemControlReportID = 0x04;
    static constexpr std::uint8_t shortHIDPPReportID = 0x10;
    static constexpr std::uint8_t longHIDPPReportID = 0x11;

    // The report descriptors of the two interfaces.
    static std::span<const std::uint8_t> pointerReportDescriptor();
    static std::span<const std::uint8_t> hidppReportDescriptor();

    // A fake mouse answering HID++ from `model`, a fresh simulated G502 X
    // unless given; nothing is plugged in until plugIn().
    explicit FakeG502X(std::shared_ptr<platform::SimulatedMouse> model = platform::SimulatedMouse::make());
    ~FakeG502X() override;

    // The HID++ side: read what the mouse now has (DPI, report rate, wheel
    // mode), change it behind the program's back, or script faults.
    const std::shared_ptr<platform::SimulatedMouse>& model() const { return model_; }

    // Unsolicited HID++ reports on interface 1, as the mouse sends for events.
    std::expected<void, std::string> sendNotification(std::uint16_t featureID, std::uint8_t function,
                                                      std::span<const std::uint8_t> payload);
    // The wheel's ratchet switch moved (feature 0x2121 event 1); the model's
    // ratchet state follows.
    std::expected<void, std::string> sendRatchetSwitch(std::uint8_t state);

protected:
    int wheelReportsPerDetent() const override;

private:
    void answer(std::span<const std::uint8_t> report, UhidDevice& device);

    std::shared_ptr<platform::SimulatedMouse> model_;
};

} // namespace ravolet::testing

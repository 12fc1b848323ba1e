#include "FakeMouse/FakeG502X.hpp"

#include <iterator>
#include <utility>

namespace ravolet::testing {

namespace {

// Interface 0: one application collection, no report ids.
constexpr std::uint8_t pointerDescriptor[] = {
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x02,       // Usage (Mouse)
    0xA1, 0x01,       // Collection (Application)
    0x09, 0x01,       //   Usage (Pointer)
    0xA1, 0x00,       //   Collection (Physical)
    0x05, 0x09,       //     Usage Page (Button)
    0x19, 0x01,       //     Usage Minimum (1)
    0x29, 0x10,       //     Usage Maximum (16)
    0x15, 0x00,       //     Logical Minimum (0)
    0x25, 0x01,       //     Logical Maximum (1)
    0x95, 0x10,       //     Report Count (16)
    0x75, 0x01,       //     Report Size (1)
    0x81, 0x02,       //     Input (Data, Variable, Absolute)
    0x05, 0x01,       //     Usage Page (Generic Desktop)
    0x16, 0x01, 0x80, //     Logical Minimum (-32767)
    0x26, 0xFF, 0x7F, //     Logical Maximum (32767)
    0x75, 0x10,       //     Report Size (16)
    0x95, 0x02,       //     Report Count (2)
    0x09, 0x30,       //     Usage (X)
    0x09, 0x31,       //     Usage (Y)
    0x81, 0x06,       //     Input (Data, Variable, Relative)
    0x15, 0x81,       //     Logical Minimum (-127)
    0x25, 0x7F,       //     Logical Maximum (127)
    0x75, 0x08,       //     Report Size (8)
    0x95, 0x01,       //     Report Count (1)
    0x09, 0x38,       //     Usage (Wheel)
    0x81, 0x06,       //     Input (Data, Variable, Relative)
    0x05, 0x0C,       //     Usage Page (Consumer)
    0x0A, 0x38, 0x02, //     Usage (AC Pan)
    0x95, 0x01,       //     Report Count (1)
    0x81, 0x06,       //     Input (Data, Variable, Relative)
    0xC0,             //   End Collection
    0xC0,             // End Collection
};

// Interface 1: keyboard, consumer control, system control and the two HID++
// collections, each its own application collection with a report id.
constexpr std::uint8_t hidppDescriptor[] = {
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x06,       // Usage (Keyboard)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x01,       //   Report ID (1)
    0x05, 0x07,       //   Usage Page (Keyboard/Keypad)
    0x19, 0xE0,       //   Usage Minimum (Left Control)
    0x29, 0xE7,       //   Usage Maximum (Right GUI)
    0x15, 0x00,       //   Logical Minimum (0)
    0x25, 0x01,       //   Logical Maximum (1)
    0x75, 0x01,       //   Report Size (1)
    0x95, 0x08,       //   Report Count (8)
    0x81, 0x02,       //   Input (Data, Variable, Absolute): the modifiers
    0x95, 0x05,       //   Report Count (5)
    0x75, 0x08,       //   Report Size (8)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xA4, 0x00, //   Logical Maximum (164)
    0x19, 0x00,       //   Usage Minimum (0)
    0x2A, 0xA4, 0x00, //   Usage Maximum (164)
    0x81, 0x00,       //   Input (Data, Array, Absolute): five keys
    0xC0,             // End Collection
    0x05, 0x0C,       // Usage Page (Consumer)
    0x09, 0x01,       // Usage (Consumer Control)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x03,       //   Report ID (3)
    0x75, 0x10,       //   Report Size (16)
    0x95, 0x02,       //   Report Count (2)
    0x15, 0x01,       //   Logical Minimum (1)
    0x26, 0xFF, 0x02, //   Logical Maximum (767)
    0x19, 0x01,       //   Usage Minimum (1)
    0x2A, 0xFF, 0x02, //   Usage Maximum (767)
    0x81, 0x00,       //   Input (Data, Array, Absolute)
    0xC0,             // End Collection
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x80,       // Usage (System Control)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x04,       //   Report ID (4)
    0x75, 0x02,       //   Report Size (2)
    0x95, 0x01,       //   Report Count (1)
    0x15, 0x01,       //   Logical Minimum (1)
    0x25, 0x03,       //   Logical Maximum (3)
    0x09, 0x82,       //   Usage (System Sleep)
    0x09, 0x81,       //   Usage (System Power Down)
    0x09, 0x83,       //   Usage (System Wake Up)
    0x81, 0x60,       //   Input (Data, Array, Absolute, No Preferred, Null State)
    0x75, 0x06,       //   Report Size (6)
    0x81, 0x03,       //   Input (Constant, Variable, Absolute): padding
    0xC0,             // End Collection
    0x06, 0x00, 0xFF, // Usage Page (Vendor 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x10,       //   Report ID (0x10): HID++ short
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x06,       //   Report Count (6)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x09, 0x01,       //   Usage (1)
    0x81, 0x00,       //   Input (Data, Array, Absolute)
    0x09, 0x01,       //   Usage (1)
    0x91, 0x00,       //   Output (Data, Array, Absolute)
    0xC0,             // End Collection
    0x06, 0x00, 0xFF, // Usage Page (Vendor 0xFF00)
    0x09, 0x02,       // Usage (2)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x11,       //   Report ID (0x11): HID++ long
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x13,       //   Report Count (19)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x09, 0x02,       //   Usage (2)
    0x81, 0x00,       //   Input (Data, Array, Absolute)
    0x09, 0x02,       //   Usage (2)
    0x91, 0x00,       //   Output (Data, Array, Absolute)
    0xC0,             // End Collection
};

UhidIdentity g502xIdentity() {
    UhidIdentity identity;
    identity.name = FakeG502X::name;
    identity.uniq = platform::SimulatedMouse::serialNumber;
    identity.vendor = FakeG502X::vendorID;
    identity.product = FakeG502X::productID;
    return identity;
}

} // namespace

std::span<const std::uint8_t> FakeG502X::pointerReportDescriptor() { return pointerDescriptor; }

std::span<const std::uint8_t> FakeG502X::hidppReportDescriptor() { return hidppDescriptor; }

FakeG502X::FakeG502X(std::shared_ptr<platform::SimulatedMouse> model)
    : FakeUSBMouse(g502xIdentity(), usbPort,
                   {Interface{{std::begin(pointerDescriptor), std::end(pointerDescriptor)}, {}},
                    Interface{{std::begin(hidppDescriptor), std::end(hidppDescriptor)},
                              [this](std::span<const std::uint8_t> report, UhidDevice& device) { answer(report, device); }}},
                   PointerLayout{.buttons = 16, .axisBytes = 2, .horizontalWheel = true}),
      model_(std::move(model)) {}

// The answering thread uses the model: it must end before the model goes.
FakeG502X::~FakeG502X() { unplug(); }

void FakeG502X::answer(std::span<const std::uint8_t> report, UhidDevice& device) {
    platform::SimulatedMouse::Response response = model_->handleOutputReport(report);
    if (response.unplug) {
        pullCable();
        return;
    }
    for (const auto& reply : response.reports) (void)device.sendInput(reply);
}

int FakeG502X::wheelReportsPerDetent() const { return model_->wheelReportsPerDetent(); }

std::expected<void, std::string> FakeG502X::sendNotification(std::uint16_t featureID, std::uint8_t function,
                                                             std::span<const std::uint8_t> payload) {
    return send(hidppInterface, model_->notificationReport(featureID, function, payload));
}

std::expected<void, std::string> FakeG502X::sendRatchetSwitch(std::uint8_t state) {
    return send(hidppInterface, model_->ratchetSwitchNotification(state));
}

} // namespace ravolet::testing

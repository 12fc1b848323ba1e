#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <linux/input.h>

#include "Platform/Linux/Kernel/Sysfs.hpp"

namespace ravolet::platform {

// One value of an input frame, as the kernel's input layer takes it.
struct InputValue {
    std::uint16_t type = 0;
    std::uint16_t code = 0;
    std::int32_t value = 0;
    friend bool operator==(const InputValue&, const InputValue&) = default;
};

// A virtual input device of Ravolet's own, made through /dev/uinput: the
// kernel gives it an event node like a real device's, under
// /sys/devices/virtual/input/, and the desktop reads it like any mouse or
// keyboard. Destroying it (closing its descriptor, also when the process
// dies) makes the kernel release every key and button it still holds.
//
// send() may be called from any thread: each frame is one write, which the
// kernel takes whole.
class UinputDevice {
public:
    struct Description {
        std::string name;             // "Ravolet virtual keyboard"
        std::string phys;             // marks the device as Ravolet's own
        std::vector<std::uint16_t> keys;     // EV_KEY codes
        std::vector<std::uint16_t> relative; // EV_REL codes
        // The input id the desktop sees (BUS_* and the USB numbers).
        std::uint16_t bus = BUS_VIRTUAL;
        std::uint16_t vendor = vendorID;
        std::uint16_t product = 0;
    };

    // The vendor of Ravolet's virtual devices that carry an identity of
    // their own, on the virtual bus (the keyboard; the pointer takes the
    // mouse's, see VirtualDevices).
    static constexpr std::uint16_t vendorID = 0x5241; // "RA"
    static constexpr std::uint16_t keyboardProductID = 0x0002;
    // Every virtual device of Ravolet's has a physical path starting so.
    static constexpr const char* physPrefix = "ravolet/";
    static constexpr std::size_t maxFrameValues = 63;

    // Makes the device; the error names what failed (with errno's text).
    static std::expected<std::unique_ptr<UinputDevice>, std::string> make(const KernelRoots& roots,
                                                                          const Description& description);
    ~UinputDevice();
    UinputDevice(const UinputDevice&) = delete;
    UinputDevice& operator=(const UinputDevice&) = delete;

    // The values, then SYN_REPORT, in one write; nothing for an empty frame.
    // False when the kernel refused the write. A frame holds at most
    // maxFrameValues values; more are not sent.
    bool send(std::span<const InputValue> frame);
    // The same for a frame already laid out, its last event a SYN_REPORT.
    bool write(std::span<const input_event> events);

    // The device's event node ("/dev/input/event7", under the dev root), as
    // sysfs names it; empty when it cannot be found.
    const std::string& eventNode() const { return eventNode_; }
    const std::string& name() const { return name_; }

private:
    UinputDevice(int descriptor, std::string name, std::string eventNode);

    int descriptor_;
    std::string name_;
    std::string eventNode_;
};

} // namespace ravolet::platform

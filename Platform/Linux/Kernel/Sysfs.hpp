#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravolet::platform {

// Where the kernel's device tree (sysfs) and the device nodes are. Tests lay
// out folders of their own in the same shape and point these at them.
struct KernelRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

// Reading sysfs. Attribute files are small and may vanish at any moment (a
// device unplugged while we look), so every read is bounded and a missing
// file is simply no value.
namespace sysfs {

// The file's text without its trailing newline; none when it cannot be read
// or is longer than `limit` bytes.
std::optional<std::string> readText(const std::filesystem::path& path, std::size_t limit = 64 * 1024);
// The file's bytes (a report descriptor); none as above.
std::optional<std::vector<std::uint8_t>> readBytes(const std::filesystem::path& path, std::size_t limit = 64 * 1024);

// "KEY=VALUE" lines, as in a uevent file (or parts ended by another
// separator, as in the kernel's uevent messages); parts without a key are
// skipped, and a later key replaces an earlier one.
std::map<std::string, std::string, std::less<>> parseKeyValues(std::string_view text, char separator = '\n');

// A hexadecimal number with no prefix ("046d", "0000C099"), as sysfs writes
// ids; surrounding whitespace is ignored. None when anything else is there.
std::optional<std::int64_t> parseHex(std::string_view text);

// The names in `folder` that start with `prefix`, in natural order
// ("event2" before "event10"); empty when the folder cannot be read.
std::vector<std::string> entries(const std::filesystem::path& folder, std::string_view prefix);

// "0003:0000046D:0000C099" (bus, vendor, product) from a HID device's HID_ID.
struct HIDIdentifier {
    std::int64_t bus = 0;
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    friend bool operator==(const HIDIdentifier&, const HIDIdentifier&) = default;
};
std::optional<HIDIdentifier> parseHIDIdentifier(std::string_view text);

// The host's name for the way a device is connected, by the kernel's bus
// number (BUS_* of the input headers): "USB", "Bluetooth", "Virtual", "I2C",
// "SPI"; none for any other bus.
std::optional<std::string> transportName(std::int64_t bus);

} // namespace sysfs

// A hidraw node and what sysfs says of the HID device behind it.
struct HidrawNode {
    std::string name;        // "hidraw3"
    std::string devicePath;  // "/dev/hidraw3" (under the dev root)
    std::string sysfsDevice; // the HID device's folder, symbolic links resolved
    // The node's own folder below the sysfs root, as the kernel's uevents name
    // it ("/devices/…/0003:046D:C099.0002/hidraw/hidraw3"). The HID device's
    // part counts up with every device the kernel makes, so this names one
    // plugged-in device for as long as it stays plugged in.
    std::string devpath;
    std::map<std::string, std::string, std::less<>> uevent; // HID_ID, HID_NAME, HID_PHYS, HID_UNIQ, ...
    std::optional<sysfs::HIDIdentifier> identifier;          // from HID_ID
};

// An evdev node and what sysfs says of the input device behind it.
struct EventNode {
    std::string name;        // "event5"
    std::string devicePath;  // "/dev/input/event5" (under the dev root)
    std::string sysfsDevice; // the input device's folder ("…/input/input12"), links resolved
    std::int64_t bus = 0;
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    std::string deviceName;  // the input device's name
    std::string phys;        // its physical path; empty when it has none
    // Its relative axes (bit n for REL_* code n): REL_X for a pointer.
    std::uint64_t relativeAxes = 0;
    // Made by a program through uinput: it lives under
    // /devices/virtual/input/. Devices of uhid (Bluetooth mice, the kernel
    // tests' fake ones) live under /devices/virtual/misc/uhid/ and are not:
    // to the input layer they are the hardware.
    bool isVirtual = false;

    // Whether it moves a pointer (it has REL_X): a mouse's pointer node, not
    // the keyboard or consumer-control nodes the same mouse may have.
    bool isPointer() const;
};

// The device nodes sysfs lists now, in natural order of their names.
std::vector<HidrawNode> listHidrawNodes(const KernelRoots& roots);
// Where sysfs has the hidraw node `name` ("hidraw3") now, as HidrawNode's
// devpath; empty when it has none.
std::string hidrawDevpath(const KernelRoots& roots, std::string_view name);
std::vector<EventNode> listEventNodes(const KernelRoots& roots);

} // namespace ravolet::platform

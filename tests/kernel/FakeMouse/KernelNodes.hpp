#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravolet::testing {

// An input device the kernel made for a HID device, with its event node.
struct KernelInputNode {
    std::string eventNode;  // "/dev/input/event3"
    std::string sysfsPath;  // "/sys/class/input/event3", the node's own folder
    std::string name;       // device/name
    std::string phys;       // device/phys
    std::uint16_t bus = 0;  // device/id/bustype
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// A HID device as sysfs shows it (/sys/bus/hid/devices/<bus>:<vendor>:<product>.<n>),
// with the nodes the kernel made for it.
struct KernelHIDDevice {
    std::string sysfsPath;  // "/sys/bus/hid/devices/0003:046D:C099.0002"
    // From its uevent: HID_ID (bus, vendor, product), HID_NAME, HID_PHYS, HID_UNIQ.
    std::uint16_t bus = 0;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    std::string name;
    std::string phys;
    std::string uniq;
    std::string driver;                  // "hid-generic" once bound, else empty
    std::optional<std::string> hidraw;   // "/dev/hidraw1", once its driver has bound
    std::vector<KernelInputNode> inputs; // in the order of their event numbers
};

// Every HID device present now, in the order of their sysfs names.
std::vector<KernelHIDDevice> kernelHIDDevices();
// The HID device with this physical path, if present.
std::optional<KernelHIDDevice> kernelHIDDevice(std::string_view phys);

// Waits until a HID device with this physical path is present with its
// hidraw node (the kernel makes the event nodes before it), or fails after
// `timeout` saying what it saw.
std::expected<KernelHIDDevice, std::string> waitForKernelHIDDevice(std::string_view phys,
                                                                   std::chrono::milliseconds timeout);

// The first line of a sysfs file, without its newline; empty when unreadable.
std::string readSysfsLine(const std::string& path);
// The value of KEY= in a uevent file, if present.
std::optional<std::string> ueventValue(const std::string& ueventPath, std::string_view key);

} // namespace ravolet::testing

#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FakeMouse/FakeG502X.hpp"
#include "FolderTree.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"

namespace ravolet::platform::testing {

// The report descriptors of a wired G502 X's two USB interfaces, those the
// kernel tests' fake mouse gives the kernel: the pointer (no report ids), and
// the keyboard, consumer and system control collections with the two HID++
// collections on the vendor page (reports 0x10 and 0x11).
inline const std::vector<std::uint8_t> g502xPointerDescriptor(ravolet::testing::FakeG502X::pointerReportDescriptor().begin(),
                                                              ravolet::testing::FakeG502X::pointerReportDescriptor().end());
inline const std::vector<std::uint8_t> g502xHIDPPDescriptor(ravolet::testing::FakeG502X::hidppReportDescriptor().begin(),
                                                            ravolet::testing::FakeG502X::hidppReportDescriptor().end());
// A plain three-button wheel mouse (Logitech 046D:C077), as the device sends it.
inline const std::vector<std::uint8_t> plainMouseDescriptor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03,
    0x15, 0x00, 0x25, 0x01, 0x95, 0x08, 0x75, 0x01, 0x81, 0x02, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31,
    0x09, 0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0,
};

// A sysfs tree with HID devices and their hidraw nodes, laid out as the
// kernel shows them, and an empty /dev beside it.
struct FakeHidrawTree : FolderTree {
    FakeHidrawTree() : FolderTree("hidraw") { std::filesystem::create_directories(path / "dev"); }

    KernelRoots roots() const { return {(path / "sys").string(), (path / "dev").string()}; }

    struct HIDDevice {
        std::string id = "0003:0000046D:0000C099"; // HID_ID
        std::string name = "Logitech G502 X";
        std::string phys;
        std::string uniq;
        std::vector<std::uint8_t> descriptor;
    };

    // The HID device `folder` (below sys/devices, named as the kernel names
    // it: "…/0003:046D:C099.0002") with its hidraw node `node`; its devpath.
    std::string plug(const std::string& folder, const std::string& node, const HIDDevice& device) const {
        const std::string hid = "sys/devices/" + folder;
        write(hid + "/uevent", "DRIVER=hid-generic\nHID_ID=" + device.id + "\nHID_NAME=" + device.name +
                                   "\nHID_PHYS=" + device.phys + "\nHID_UNIQ=" + device.uniq + "\n");
        write(hid + "/report_descriptor", std::string(device.descriptor.begin(), device.descriptor.end()));
        const std::string own = hid + "/hidraw/" + node;
        std::filesystem::create_directories(path / own);
        link(own + "/device", hid);
        link("sys/class/hidraw/" + node, own);
        return "/devices/" + folder + "/hidraw/" + node;
    }

    // A wired G502 X on USB port `port` ("1-2"), its HID devices numbered
    // from `sequence`, its nodes hidraw<first> and hidraw<first + 1>.
    std::vector<std::string> plugG502X(const std::string& port, int sequence, int first) const {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/" + port;
        write("sys/devices/" + usb + "/idVendor", "046d\n");
        write("sys/devices/" + usb + "/manufacturer", "Logitech\n");
        std::vector<std::string> devpaths;
        for (int interface = 0; interface < 2; ++interface) {
            HIDDevice device;
            device.phys = "usb-0000:00:14.0-" + port.substr(2) + "/input" + std::to_string(interface);
            device.uniq = "1A2B3C4D";
            device.descriptor = interface == 0 ? g502xPointerDescriptor : g502xHIDPPDescriptor;
            const std::string folder = usb + "/" + port + ":1." + std::to_string(interface) + "/0003:046D:C099." +
                                       hex4(sequence + interface);
            devpaths.push_back(plug(folder, "hidraw" + std::to_string(first + interface), device));
        }
        return devpaths;
    }

    // The node's class entry goes, as when its device is unplugged.
    void unplug(const std::string& node) const { std::filesystem::remove(path / "sys/class/hidraw" / node); }

    static std::string hex4(int value) {
        static constexpr char digits[] = "0123456789ABCDEF";
        std::string text(4, '0');
        for (int i = 3; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = digits[value & 0xF];
        return text;
    }
};

} // namespace ravolet::platform::testing

#include "FakeMouse/KernelNodes.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fmt/format.h>

namespace ravolet::testing {

namespace fs = std::filesystem;

namespace {

std::uint32_t hexNumber(const std::string& text) {
    try {
        return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
    } catch (const std::exception&) {
        return 0;
    }
}

// The number at the end of a node's name ("event12" → 12), for ordering.
int nodeNumber(const std::string& name) {
    const auto digits = name.find_first_of("0123456789");
    return digits == std::string::npos ? -1 : std::atoi(name.c_str() + digits);
}

std::vector<fs::path> entries(const fs::path& folder, std::string_view prefix) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return nodeNumber(a.filename().string()) < nodeNumber(b.filename().string());
    });
    return found;
}

std::vector<KernelInputNode> inputNodes(const fs::path& hidDevice) {
    std::vector<KernelInputNode> nodes;
    for (const fs::path& input : entries(hidDevice / "input", "input")) {
        for (const fs::path& event : entries(input, "event")) {
            KernelInputNode node;
            node.eventNode = "/dev/input/" + event.filename().string();
            node.sysfsPath = "/sys/class/input/" + event.filename().string();
            node.name = readSysfsLine(input / "name");
            node.phys = readSysfsLine(input / "phys");
            node.bus = static_cast<std::uint16_t>(hexNumber(readSysfsLine(input / "id" / "bustype")));
            node.vendor = static_cast<std::uint16_t>(hexNumber(readSysfsLine(input / "id" / "vendor")));
            node.product = static_cast<std::uint16_t>(hexNumber(readSysfsLine(input / "id" / "product")));
            nodes.push_back(std::move(node));
        }
    }
    std::sort(nodes.begin(), nodes.end(), [](const KernelInputNode& a, const KernelInputNode& b) {
        return nodeNumber(a.eventNode) < nodeNumber(b.eventNode);
    });
    return nodes;
}

std::string describe(const std::vector<KernelHIDDevice>& devices) {
    if (devices.empty()) return "no HID device at all";
    std::string text;
    for (const KernelHIDDevice& d : devices)
        text += fmt::format("{}\"{}\" at \"{}\"{}", text.empty() ? "" : ", ", d.name, d.phys,
                            d.hidraw ? " on " + *d.hidraw : " without a hidraw node");
    return text;
}

} // namespace

std::string readSysfsLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::optional<std::string> ueventValue(const std::string& ueventPath, std::string_view key) {
    std::ifstream file(ueventPath);
    const std::string prefix = std::string(key) + "=";
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with(prefix)) return line.substr(prefix.size());
    }
    return std::nullopt;
}

std::vector<KernelHIDDevice> kernelHIDDevices() {
    std::vector<KernelHIDDevice> devices;
    std::error_code error;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator("/sys/bus/hid/devices", error)) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
        const std::string uevent = (path / "uevent").string();
        const std::optional<std::string> id = ueventValue(uevent, "HID_ID"); // "0003:0000046D:0000C099"
        if (!id) continue;                                                   // gone meanwhile
        KernelHIDDevice device;
        device.sysfsPath = path.string();
        if (id->size() == 22) {
            device.bus = static_cast<std::uint16_t>(hexNumber(id->substr(0, 4)));
            device.vendor = hexNumber(id->substr(5, 8));
            device.product = hexNumber(id->substr(14, 8));
        }
        device.name = ueventValue(uevent, "HID_NAME").value_or("");
        device.phys = ueventValue(uevent, "HID_PHYS").value_or("");
        device.uniq = ueventValue(uevent, "HID_UNIQ").value_or("");
        device.driver = ueventValue(uevent, "DRIVER").value_or("");
        const std::vector<fs::path> hidraw = entries(path / "hidraw", "hidraw");
        if (!hidraw.empty()) device.hidraw = "/dev/" + hidraw.front().filename().string();
        device.inputs = inputNodes(path);
        devices.push_back(std::move(device));
    }
    return devices;
}

std::optional<KernelHIDDevice> kernelHIDDevice(std::string_view phys) {
    for (KernelHIDDevice& device : kernelHIDDevices()) {
        if (device.phys == phys) return std::move(device);
    }
    return std::nullopt;
}

std::expected<KernelHIDDevice, std::string> waitForKernelHIDDevice(std::string_view phys,
                                                                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::optional<KernelHIDDevice> device = kernelHIDDevice(phys);
        if (device && device->hidraw && fs::exists(*device->hidraw)) return std::move(*device);
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::unexpected(fmt::format("no HID device with a hidraw node at \"{}\" after {} ms; present: {}",
                                               phys, timeout.count(), describe(kernelHIDDevices())));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace ravolet::testing

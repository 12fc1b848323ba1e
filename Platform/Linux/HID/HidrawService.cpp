#include "Platform/Linux/HID/HidrawService.hpp"

#include <linux/input.h>

#include <filesystem>

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> nonEmpty(const HidrawNode& node, std::string_view key) {
    const auto it = node.uevent.find(key);
    if (it == node.uevent.end() || it->second.empty()) return std::nullopt;
    return it->second;
}

// The maker's name as the USB device gives it: the interface's HID device
// sits in the interface's folder, which sits in the USB device's.
std::optional<std::string> usbManufacturer(const HidrawNode& node) {
    if (!node.identifier || node.identifier->bus != BUS_USB || node.sysfsDevice.empty()) return std::nullopt;
    fs::path folder = fs::path(node.sysfsDevice).parent_path();
    for (int level = 0; level < 2 && folder.has_relative_path(); ++level, folder = folder.parent_path()) {
        std::error_code error;
        if (!fs::exists(folder / "idVendor", error)) continue;
        auto name = sysfs::readText(folder / "manufacturer", 1024);
        if (name && !name->empty()) return name;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::shared_ptr<HidrawService> HidrawService::make(std::uint64_t registryID, HidrawNode node,
                                                   std::optional<std::uint64_t> arrivedAtNanos) {
    std::optional<HIDReportDescriptor> descriptor;
    if (auto bytes = sysfs::readBytes(fs::path(node.sysfsDevice) / "report_descriptor")) {
        if (auto parsed = HIDReportDescriptor::parse(*bytes)) descriptor = std::move(*parsed);
    }
    HIDProperties properties = propertiesOf(node, descriptor, usbManufacturer(node));
    const bool numbered = descriptor && descriptor->numberedReports;
    return std::make_shared<HidrawService>(registryID, std::move(node), std::move(properties), numbered, arrivedAtNanos);
}

HidrawService::HidrawService(std::uint64_t registryID, HidrawNode node, HIDProperties properties, bool numberedReports,
                             std::optional<std::uint64_t> arrivedAtNanos)
    : registryID_(registryID),
      node_(std::move(node)),
      properties_(std::move(properties)),
      numberedReports_(numberedReports),
      arrivedAtNanos_(arrivedAtNanos) {}

bool HidrawService::matches(const HIDMatching& matching) const {
    return node_.identifier && node_.identifier->vendorID == matching.vendorID &&
           node_.identifier->productID == matching.productID;
}

HIDProperties HidrawService::propertiesOf(const HidrawNode& node, const std::optional<HIDReportDescriptor>& descriptor,
                                          const std::optional<std::string>& manufacturer) {
    HIDProperties properties;
    if (node.identifier) {
        properties.emplace(hidkey::vendorID, node.identifier->vendorID);
        properties.emplace(hidkey::productID, node.identifier->productID);
        if (auto transport = sysfs::transportName(node.identifier->bus)) properties.emplace(hidkey::transport, *transport);
    }
    if (auto name = nonEmpty(node, "HID_NAME")) properties.emplace(hidkey::product, *name);
    if (auto serial = nonEmpty(node, "HID_UNIQ")) properties.emplace(hidkey::serialNumber, *serial);
    if (auto phys = nonEmpty(node, "HID_PHYS")) properties.emplace(hidkey::locationID, locationID(*phys));
    if (manufacturer) properties.emplace(hidkey::manufacturer, *manufacturer);
    if (descriptor) {
        std::vector<HIDDictionary> pairs;
        for (const HIDReportDescriptor::Usage& usage : descriptor->applications) {
            pairs.push_back(HIDDictionary{{std::string(hidkey::deviceUsagePage), usage.page},
                                          {std::string(hidkey::deviceUsage), usage.usage}});
        }
        if (!descriptor->applications.empty()) {
            properties.emplace(hidkey::primaryUsagePage, descriptor->applications.front().page);
            properties.emplace(hidkey::primaryUsage, descriptor->applications.front().usage);
        }
        properties.emplace(hidkey::deviceUsagePairs, std::move(pairs));
        properties.emplace(hidkey::maxInputReportSize, descriptor->maxInputReportSize);
        properties.emplace(hidkey::maxOutputReportSize, descriptor->maxOutputReportSize);
    }
    return properties;
}

std::int64_t HidrawService::locationID(std::string_view phys) {
    // The interface's part ("/input1") is left out.
    if (const auto slash = phys.rfind('/'); slash != std::string_view::npos && phys.substr(slash + 1).starts_with("input")) {
        phys = phys.substr(0, slash);
    }
    // FNV-1a: stable across runs and machines, unlike std::hash.
    std::uint32_t hash = 2166136261u;
    for (const char c : phys) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 16777619u;
    }
    return hash;
}

} // namespace ravolet::platform

#include "Platform/Linux/LinuxPermissionProbe.hpp"

#include "Platform/Linux/DeviceAccessWatch.hpp"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "Platform/Linux/HID/HIDReportDescriptor.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

// The interface that speaks HID++: a collection on the vendor page and room
// for its 20-byte long report, as the HID++ client picks it.
bool speaksHIDPP(const HidrawNode& node) {
    const auto bytes = sysfs::readBytes(fs::path(node.sysfsDevice) / "report_descriptor");
    if (!bytes) return false;
    const auto descriptor = HIDReportDescriptor::parse(*bytes);
    return descriptor && descriptor->maxOutputReportSize >= 20 &&
           std::ranges::any_of(descriptor->applications, [](const auto& a) { return a.page == 0xFF00; });
}

} // namespace

LinuxPermissionProbe::LinuxPermissionProbe(std::int64_t vendorID, std::int64_t productID)
    : LinuxPermissionProbe(vendorID, productID, Roots{}, {}) {}

LinuxPermissionProbe::LinuxPermissionProbe(std::int64_t vendorID, std::int64_t productID, Roots roots, AccessCheck check)
    : vendorID_(vendorID), productID_(productID), roots_(std::move(roots)), check_(std::move(check)) {
    if (!check_) check_ = [](const std::string& path, int mode) { return ::access(path.c_str(), mode) == 0; };
}

bool LinuxPermissionProbe::allows(const std::string& path, int mode) const { return check_(path, mode); }

std::vector<std::string> LinuxPermissionProbe::eventNodes() const {
    std::vector<std::string> nodes;
    for (EventNode& node : listEventNodes(roots_)) {
        if (node.vendorID == vendorID_ && node.productID == productID_ && !node.isVirtual && node.isPointer()) {
            nodes.push_back(std::move(node.devicePath));
        }
    }
    return nodes;
}

std::vector<std::string> LinuxPermissionProbe::hidrawNodes() const {
    std::vector<std::string> nodes;
    for (HidrawNode& node : listHidrawNodes(roots_)) {
        if (node.identifier && node.identifier->vendorID == vendorID_ && node.identifier->productID == productID_ &&
            speaksHIDPP(node)) {
            nodes.push_back(std::move(node.devicePath));
        }
    }
    return nodes;
}

std::string LinuxPermissionProbe::uinputNode() const { return (fs::path(roots_.dev) / "uinput").string(); }

bool LinuxPermissionProbe::isAccessibilityTrusted() const { return allows(uinputNode(), W_OK); }

bool LinuxPermissionProbe::isPostingDeviceMissing() const { return !allows(uinputNode(), F_OK); }

bool LinuxPermissionProbe::canListenToEvents() const {
    // No node: waiting for the mouse, which nothing refuses yet.
    return std::ranges::all_of(eventNodes(), [this](const std::string& node) { return allows(node, R_OK); });
}

bool LinuxPermissionProbe::isWaitingForMouse() const { return eventNodes().empty(); }

HIDAccessType LinuxPermissionProbe::hidListenAccess() const {
    std::vector<std::string> nodes = hidrawNodes();
    if (nodes.empty()) return HIDAccessType::unknown;
    const bool open = std::ranges::any_of(nodes, [this](const std::string& node) { return allows(node, R_OK | W_OK); });
    return open ? HIDAccessType::granted : HIDAccessType::denied;
}

std::vector<std::string> LinuxPermissionProbe::closedPostingNodes() const {
    if (isAccessibilityTrusted() || isPostingDeviceMissing()) return {};
    return {uinputNode()};
}

std::vector<std::string> LinuxPermissionProbe::closedListeningNodes() const {
    std::vector<std::string> closed;
    for (std::string& node : eventNodes())
        if (!allows(node, R_OK)) closed.push_back(std::move(node));
    for (std::string& node : hidrawNodes())
        if (!allows(node, R_OK | W_OK)) closed.push_back(std::move(node));
    return closed;
}

Subscription LinuxPermissionProbe::observeChanges(std::shared_ptr<Executor> executor, std::function<void()> handler) const {
    return watchDeviceAccess(roots_, std::move(executor), std::move(handler));
}

} // namespace ravolet::platform

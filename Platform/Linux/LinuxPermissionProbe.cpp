#include "Platform/Linux/LinuxPermissionProbe.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

namespace ravolet::platform {

namespace {

namespace fs = std::filesystem;

std::optional<std::int64_t> parseHex(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The names in `folder` that start with `prefix`, sorted.
std::vector<std::string> entries(const fs::path& folder, std::string_view prefix) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.starts_with(prefix)) names.push_back(std::move(name));
    }
    std::ranges::sort(names);
    return names;
}

// "HID_ID=0003:0000046D:0000C099" in a HID device's uevent: bus, vendor, product.
bool ueventMatches(const std::string& uevent, std::int64_t vendorID, std::int64_t productID) {
    std::istringstream lines(uevent);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("HID_ID=")) continue;
        std::string_view id = std::string_view(line).substr(7);
        const auto first = id.find(':');
        const auto second = id.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) return false;
        return parseHex(id.substr(first + 1, second - first - 1)) == vendorID && parseHex(id.substr(second + 1)) == productID;
    }
    return false;
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
    const fs::path classFolder = fs::path(roots_.sys) / "class" / "input";
    std::vector<std::string> nodes;
    for (const std::string& name : entries(classFolder, "event")) {
        const fs::path id = classFolder / name / "device" / "id";
        if (parseHex(readFile(id / "vendor")) == vendorID_ && parseHex(readFile(id / "product")) == productID_) {
            nodes.push_back((fs::path(roots_.dev) / "input" / name).string());
        }
    }
    return nodes;
}

std::vector<std::string> LinuxPermissionProbe::hidrawNodes() const {
    const fs::path classFolder = fs::path(roots_.sys) / "class" / "hidraw";
    std::vector<std::string> nodes;
    for (const std::string& name : entries(classFolder, "hidraw")) {
        if (ueventMatches(readFile(classFolder / name / "device" / "uevent"), vendorID_, productID_)) {
            nodes.push_back((fs::path(roots_.dev) / name).string());
        }
    }
    return nodes;
}

bool LinuxPermissionProbe::isAccessibilityTrusted() const {
    return allows((fs::path(roots_.dev) / "uinput").string(), W_OK);
}

bool LinuxPermissionProbe::canListenToEvents() const {
    const auto readable = [this](const std::string& node) { return allows(node, R_OK); };
    std::vector<std::string> nodes = eventNodes();
    if (!nodes.empty()) return std::ranges::all_of(nodes, readable);
    const fs::path folder = fs::path(roots_.dev) / "input";
    return std::ranges::any_of(entries(folder, "event"), [&](const std::string& name) { return readable((folder / name).string()); });
}

HIDAccessType LinuxPermissionProbe::hidListenAccess() const {
    std::vector<std::string> nodes = hidrawNodes();
    if (nodes.empty()) return HIDAccessType::unknown;
    const bool open = std::ranges::any_of(nodes, [this](const std::string& node) { return allows(node, R_OK | W_OK); });
    return open ? HIDAccessType::granted : HIDAccessType::denied;
}

} // namespace ravolet::platform

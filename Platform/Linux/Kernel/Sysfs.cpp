#include "Platform/Linux/Kernel/Sysfs.hpp"

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

std::string_view trim(std::string_view text) {
    constexpr std::string_view blank = " \t\r\n";
    const auto first = text.find_first_not_of(blank);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blank) - first + 1);
}

// The trailing decimal number of a name ("event12" → 12), for natural order.
std::pair<std::string_view, std::uint64_t> splitNumber(std::string_view name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    std::uint64_t number = 0;
    std::from_chars(name.data() + digits, name.data() + name.size(), number);
    return {name.substr(0, digits), number};
}

std::string resolved(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::canonical(path, error);
    return error ? std::string() : canonical.string();
}

} // namespace

bool EventNode::isPointer() const { return (relativeAxes & (std::uint64_t{1} << REL_X)) != 0; }

namespace sysfs {

std::optional<std::vector<std::uint8_t>> readBytes(const fs::path& path, std::size_t limit) {
    // Sysfs attributes report a size of 4096 whatever they hold, so read until
    // the end rather than trusting stat. O_NONBLOCK keeps a FIFO planted in a
    // test tree from hanging the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || bytes.size() + static_cast<std::size_t>(got) > limit) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    ::close(fd);
    return bytes;
}

std::optional<std::string> readText(const fs::path& path, std::size_t limit) {
    auto bytes = readBytes(path, limit);
    if (!bytes) return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::map<std::string, std::string, std::less<>> parseKeyValues(std::string_view text, char separator) {
    std::map<std::string, std::string, std::less<>> values;
    while (!text.empty()) {
        const auto end = text.find(separator);
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        values.insert_or_assign(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
    }
    return values;
}

std::optional<std::int64_t> parseHex(std::string_view text) {
    text = trim(text);
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size() || value > INT64_MAX) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

std::vector<std::string> entries(const fs::path& folder, std::string_view prefix) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.starts_with(prefix)) names.push_back(std::move(name));
    }
    std::ranges::sort(names, [](const std::string& a, const std::string& b) { return splitNumber(a) < splitNumber(b); });
    return names;
}

std::optional<HIDIdentifier> parseHIDIdentifier(std::string_view text) {
    const auto first = text.find(':');
    const auto second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const auto bus = parseHex(text.substr(0, first));
    const auto vendor = parseHex(text.substr(first + 1, second - first - 1));
    const auto product = parseHex(text.substr(second + 1));
    if (!bus || !vendor || !product) return std::nullopt;
    return HIDIdentifier{*bus, *vendor, *product};
}

std::optional<std::string> transportName(std::int64_t bus) {
    switch (bus) {
    case BUS_USB: return "USB";
    case BUS_BLUETOOTH: return "Bluetooth";
    case BUS_VIRTUAL: return "Virtual";
    case BUS_I2C: return "I2C";
    case BUS_SPI: return "SPI";
    default: return std::nullopt;
    }
}

} // namespace sysfs

std::vector<HidrawNode> listHidrawNodes(const KernelRoots& roots) {
    const fs::path classFolder = fs::path(roots.sys) / "class" / "hidraw";
    std::vector<HidrawNode> nodes;
    for (std::string& name : sysfs::entries(classFolder, "hidraw")) {
        const fs::path device = classFolder / name / "device";
        const auto uevent = sysfs::readText(device / "uevent");
        if (!uevent) continue; // gone while we looked
        HidrawNode node;
        node.devicePath = (fs::path(roots.dev) / name).string();
        node.sysfsDevice = resolved(device);
        node.devpath = hidrawDevpath(roots, name);
        node.uevent = sysfs::parseKeyValues(*uevent);
        if (auto id = node.uevent.find("HID_ID"); id != node.uevent.end()) {
            node.identifier = sysfs::parseHIDIdentifier(id->second);
        }
        node.name = std::move(name);
        nodes.push_back(std::move(node));
    }
    return nodes;
}

std::string hidrawDevpath(const KernelRoots& roots, std::string_view name) {
    const std::string sysRoot = resolved(roots.sys);
    const std::string own = resolved(fs::path(roots.sys) / "class" / "hidraw" / name);
    if (sysRoot.empty() || !own.starts_with(sysRoot + "/")) return {};
    return own.substr(sysRoot.size());
}

std::vector<EventNode> listEventNodes(const KernelRoots& roots) {
    const fs::path classFolder = fs::path(roots.sys) / "class" / "input";
    std::vector<EventNode> nodes;
    for (std::string& name : sysfs::entries(classFolder, "event")) {
        const fs::path device = classFolder / name / "device";
        const auto vendor = sysfs::parseHex(sysfs::readText(device / "id" / "vendor").value_or(""));
        const auto product = sysfs::parseHex(sysfs::readText(device / "id" / "product").value_or(""));
        if (!vendor || !product) continue; // gone while we looked
        EventNode node;
        node.devicePath = (fs::path(roots.dev) / "input" / name).string();
        node.sysfsDevice = resolved(device);
        node.bus = sysfs::parseHex(sysfs::readText(device / "id" / "bustype").value_or("")).value_or(0);
        node.vendorID = *vendor;
        node.productID = *product;
        node.deviceName = sysfs::readText(device / "name").value_or("");
        node.phys = sysfs::readText(device / "phys").value_or("");
        // A bitmap in words of the kernel's long, lowest word last; the
        // relative axes fit in the lowest.
        const std::string rel = sysfs::readText(device / "capabilities" / "rel").value_or("");
        const auto lastWord = rel.find_last_of(' ');
        node.relativeAxes = static_cast<std::uint64_t>(
            sysfs::parseHex(lastWord == std::string::npos ? rel : rel.substr(lastWord + 1)).value_or(0));
        const fs::path uinputFolder = fs::path(roots.sys) / "devices" / "virtual" / "input";
        const std::string virtualFolder = uinputFolder.string() + "/";
        const std::string realVirtualFolder = resolved(uinputFolder);
        node.isVirtual = node.sysfsDevice.starts_with(virtualFolder) ||
                         (!realVirtualFolder.empty() && node.sysfsDevice.starts_with(realVirtualFolder + "/"));
        node.name = std::move(name);
        nodes.push_back(std::move(node));
    }
    return nodes;
}

} // namespace ravolet::platform

#include "RavoletEngine/Coordination/DesktopPointerPropertyBackend.hpp"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include <fmt/format.h>

#include "Platform/Linux/Input/EvdevPrivateHIDEventSystem.hpp"
#include "Platform/Linux/Input/VirtualDevices.hpp"

namespace ravolet {

using Desktop = platform::DesktopPointerSettings::Desktop;

namespace {

constexpr std::uint64_t identityMask = (std::uint64_t{1} << 56) - 1;

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const unsigned char c : text) hash = (hash ^ c) * 0x100000001b3;
    return hash;
}

bool isRavoletsPointer(const platform::EventNode& node) {
    return node.isVirtual && node.phys == platform::VirtualDevices::pointerPhys;
}

std::optional<std::int64_t> number(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

} // namespace

DesktopPointerPropertyBackend::DesktopPointerPropertyBackend(std::shared_ptr<platform::DesktopPointerSettings> desktop,
                                                             Options options)
    : desktop_(std::move(desktop)), options_(std::move(options)) {}

std::optional<std::int64_t> DesktopPointerPropertyBackend::mouseDPI(std::string_view property) {
    std::optional<std::int64_t> dpi;
    std::size_t at = 0;
    while (at < property.size()) {
        if (property[at] == ' ') {
            ++at;
            continue;
        }
        const bool starred = property[at] == '*';
        if (starred) ++at;
        const std::size_t end = std::min(property.find(' ', at), property.size());
        const std::string_view entry = property.substr(at, end - at);
        const auto atSign = entry.find('@');
        const auto figure = number(entry.substr(0, atSign));
        const auto rate = atSign == std::string_view::npos ? std::optional<std::int64_t>(1) : number(entry.substr(atSign + 1));
        if (!figure || *figure <= 0 || !rate || *rate <= 0) return std::nullopt;
        dpi = figure;
        if (starred) break;
        at = end;
    }
    return dpi;
}

std::uint64_t DesktopPointerPropertyBackend::identityID(std::int64_t vendor, std::int64_t product,
                                                        const std::string& name) const {
    const auto tag = static_cast<std::uint64_t>(desktop_->desktop());
    return (tag << 56) | (fnv1a(fmt::format("{:04x}:{:04x}:{}", vendor, product, name)) & identityMask);
}

std::vector<DesktopPointerPropertyBackend::Found> DesktopPointerPropertyBackend::listed(std::optional<std::uint64_t> identity) {
    const bool byIdentity = desktop_->keepsSettingsByIdentity();
    const auto nodes = platform::listEventNodes(options_.roots);
    std::vector<platform::EventNode> kernel;
    for (const auto& node : nodes)
        if (isRavoletsPointer(node)) kernel.push_back(node);
    std::vector<Found> found;
    if (desktop_->desktop() == Desktop::none) {
        // Nothing to list them: the kernel's own word, for the figures the
        // page shows, with no setting to read or write.
        for (auto& node : kernel) {
            if (const auto id = platform::EvdevPrivateHIDEventSystem::registryID(node))
                found.push_back({{node.devicePath, node.deviceName, node.vendorID, node.productID, node.devicePath}, *id, node});
        }
        return found;
    }
    if (identity)
        for (const auto& node : nodes)
            if (!isRavoletsPointer(node) && identityID(node.vendorID, node.productID, node.deviceName) == *identity)
                kernel.push_back(node);
    if (kernel.empty()) return found;

    const auto& pointers = this->pointers();
    for (const auto& node : kernel) {
        for (const auto& pointer : pointers) {
            // By node where the desktop names it (the mouse itself has the
            // same identity, and a setting changed through it would reach
            // only it at once), else by identity, all one setting there.
            const bool same = !pointer.eventNode.empty()
                                  ? pointer.eventNode == node.devicePath
                                  : byIdentity && pointer.vendorID == node.vendorID &&
                                        pointer.productID == node.productID && pointer.name == node.deviceName;
            if (!same) continue;
            const auto id = byIdentity ? std::optional(identityID(node.vendorID, node.productID, node.deviceName))
                                       : platform::EvdevPrivateHIDEventSystem::registryID(node);
            if (id) found.push_back({pointer, *id, node});
            break;
        }
    }
    return found;
}

const std::vector<platform::DesktopPointer>& DesktopPointerPropertyBackend::pointers() {
    if (!holding_) return read_ = desktop_->pointers();
    if (!held_) held_ = desktop_->pointers();
    return *held_;
}

bool DesktopPointerPropertyBackend::isIdentityID(std::uint64_t registryID) const {
    return desktop_->keepsSettingsByIdentity() &&
           registryID >> 56 == static_cast<std::uint64_t>(desktop_->desktop());
}

std::optional<DesktopPointerPropertyBackend::Found> DesktopPointerPropertyBackend::find(std::uint64_t registryID) {
    // A device of the X server's that went took its values with it.
    for (auto& found : listed(isIdentityID(registryID) ? std::optional(registryID) : std::nullopt))
        if (found.registryID == registryID) return std::move(found);
    return std::nullopt;
}

std::vector<PointerServiceIdentity> DesktopPointerPropertyBackend::services() {
    std::vector<PointerServiceIdentity> services;
    // A pointer just made takes the desktop a moment to list: the engine
    // asks again until the tuning takes.
    for (const Found& found : listed(std::nullopt)) {
        if (std::ranges::any_of(services, [&](const auto& s) { return s.registryID == found.registryID; })) continue;
        services.push_back({found.registryID, found.node.vendorID, found.node.productID, found.node.deviceName, 1, 2});
    }
    return services;
}

std::optional<std::int64_t> DesktopPointerPropertyBackend::resolution(const platform::EventNode& node) const {
    const std::filesystem::path device = std::filesystem::path(options_.roots.sys) / "class" / "input" / node.name;
    const auto numbers = platform::sysfs::readText(device / "dev");
    std::optional<std::int64_t> dpi;
    if (numbers) {
        const std::string data =
            platform::sysfs::readText(std::filesystem::path(options_.udevData) / ("c" + *numbers)).value_or("");
        for (std::string_view rest = data; !rest.empty();) {
            const auto newline = rest.find('\n');
            const std::string_view line = rest.substr(0, newline);
            if (line.starts_with("E:MOUSE_DPI=")) dpi = mouseDPI(line.substr(12));
            rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        }
    }
    return pointerProperties::fixed(dpi.value_or(libinputDefaultDPI));
}

std::optional<std::int64_t> DesktopPointerPropertyBackend::readNumber(std::string_view key, std::uint64_t registryID) {
    const auto found = find(registryID);
    if (!found) return std::nullopt;
    if (key == pointerProperties::resolutionKey) return resolution(found->node);
    return desktop_->readAcceleration(found->pointer, key);
}

std::optional<std::string> DesktopPointerPropertyBackend::readString(std::string_view key, std::uint64_t registryID) {
    if (key != pointerProperties::accelerationTypeKey) return std::nullopt;
    const auto found = find(registryID);
    if (!found) return std::nullopt;
    // A device without one is named in the desktop's terms all the same, for
    // whatever the tuner says of it.
    return desktop_->accelerationKey(found->pointer).value_or(std::string(noAccelerationKey));
}

PointerPropertyWrite DesktopPointerPropertyBackend::writeNumber(std::string_view key, std::int64_t value,
                                                               std::uint64_t registryID) {
    const auto found = find(registryID);
    if (!found) return PointerPropertyWrite::refused;
    if (key == pointerProperties::resolutionKey)
        return resolution(found->node) == value ? PointerPropertyWrite::eventSystem : PointerPropertyWrite::refused;
    return desktop_->writeAcceleration(found->pointer, key, value) ? PointerPropertyWrite::eventSystem
                                                                  : PointerPropertyWrite::refused;
}

bool DesktopPointerPropertyBackend::serviceExists(std::uint64_t registryID) {
    // A setting kept by identity outlives every device of it.
    return isIdentityID(registryID) || find(registryID).has_value();
}

platform::Subscription DesktopPointerPropertyBackend::observeServicesAdded(std::function<void()> added) {
    // The desktop tells of every device it adds, a keyboard plugged in too.
    // Only a pointer of Ravolet's it has not had before starts from the
    // desktop's own values and is to be tuned afresh: anything else leaves
    // the mouse's setting as it is, a value the user set meanwhile included.
    const auto ours = [roots = options_.roots] {
        std::vector<std::string> devices;
        for (const auto& node : platform::listEventNodes(roots))
            if (isRavoletsPointer(node)) devices.push_back(node.sysfsDevice);
        return devices;
    };
    return desktop_->observePointersAdded([ours, seen = ours(), added = std::move(added)]() mutable {
        auto now = ours();
        const bool fresh = std::ranges::any_of(now, [&](const auto& device) { return std::ranges::find(seen, device) == seen.end(); });
        seen = std::move(now);
        if (fresh) added();
    });
}

platform::Subscription DesktopPointerPropertyBackend::observeValuesChanged(std::function<void()> changed) {
    return desktop_->observeSettingsChanged(std::move(changed));
}

PointerDesktop DesktopPointerPropertyBackend::desktop() const {
    switch (desktop_->desktop()) {
    case Desktop::x11: return PointerDesktop::xServer;
    case Desktop::sway: return PointerDesktop::sway;
    case Desktop::kwin: return PointerDesktop::kwin;
    case Desktop::gnome: return PointerDesktop::gnome;
    case Desktop::none: return PointerDesktop::none;
    }
    return PointerDesktop::none;
}

} // namespace ravolet

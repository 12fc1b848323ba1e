#include "Platform/Linux/Input/EvdevPrivateHIDEventSystem.hpp"

#include <array>
#include <charconv>
#include <filesystem>

#include "Platform/Linux/Input/UinputDevice.hpp"

namespace ravolet::platform {

namespace {

constexpr LibraryHandle coreGraphics{1};
constexpr LibraryHandle iokit{2};

constexpr std::array<std::string_view, 1> coreGraphicsSymbols{"CGEventCopyIOHIDEvent"};
constexpr std::array<std::string_view, 6> iokitSymbols{
    "IOHIDEventGetSenderID",           "IOHIDEventSystemClientCreateSimpleClient",
    "IOHIDEventSystemClientCopyServices", "IOHIDServiceClientGetRegistryID",
    "IOHIDServiceClientCopyProperty",  "IOHIDServiceClientSetProperty",
};

constexpr std::uint64_t registryBase = std::uint64_t{1} << 32;

bool isOurs(const EventNode& node) { return node.isVirtual && node.phys.starts_with(UinputDevice::physPrefix); }

} // namespace

EvdevPrivateHIDEventSystem::EvdevPrivateHIDEventSystem(KernelRoots roots) : roots_(std::move(roots)) {}

std::optional<std::uint64_t> EvdevPrivateHIDEventSystem::registryID(const EventNode& node) {
    const std::string folder = std::filesystem::path(node.sysfsDevice).filename().string();
    constexpr std::string_view prefix = "input";
    if (!folder.starts_with(prefix) || folder.size() == prefix.size()) return std::nullopt;
    std::uint32_t number = 0;
    const char* first = folder.data() + prefix.size();
    const char* last = folder.data() + folder.size();
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc() || end != last) return std::nullopt;
    return registryBase + number;
}

std::optional<LibraryHandle> EvdevPrivateHIDEventSystem::openLibrary(std::string_view path, int) {
    if (path == coreGraphicsLibraryPath) return coreGraphics;
    if (path == iokitLibraryPath) return iokit;
    return std::nullopt;
}

bool EvdevPrivateHIDEventSystem::lookupSymbol(LibraryHandle library, std::string_view symbol) {
    const auto has = [symbol](const auto& names) {
        for (const auto name : names)
            if (name == symbol) return true;
        return false;
    };
    if (library == coreGraphics) return has(coreGraphicsSymbols);
    if (library == iokit) return has(iokitSymbols);
    return false;
}

std::optional<HIDEventRef> EvdevPrivateHIDEventSystem::copyIOHIDEvent(const Event& event) {
    if (event.hidSenderID() == 0) return std::nullopt;
    return HIDEventRef{event.hidSenderID()};
}

std::optional<HIDEventSystemClientRef> EvdevPrivateHIDEventSystem::createSimpleClient() {
    std::lock_guard guard(lock_);
    const std::uint64_t client = nextClient_++;
    clients_.insert(client);
    return HIDEventSystemClientRef{client};
}

void EvdevPrivateHIDEventSystem::releaseClient(HIDEventSystemClientRef client) {
    std::lock_guard guard(lock_);
    clients_.erase(client.raw);
}

std::optional<std::vector<HIDServiceRef>> EvdevPrivateHIDEventSystem::copyServices(HIDEventSystemClientRef client) {
    {
        std::lock_guard guard(lock_);
        if (!clients_.contains(client.raw)) return std::nullopt;
    }
    // Listed outside the lock: sysfs reads take a while.
    std::map<std::uint64_t, EventNode> listed;
    for (EventNode& node : listEventNodes(roots_)) {
        if (isOurs(node)) continue;
        if (const auto id = registryID(node)) listed.insert_or_assign(*id, std::move(node));
    }
    std::vector<HIDServiceRef> services;
    services.reserve(listed.size());
    for (const auto& [id, node] : listed) services.push_back(HIDServiceRef{id});
    std::lock_guard guard(lock_);
    services_ = std::move(listed);
    return services;
}

std::optional<PropertyValue> EvdevPrivateHIDEventSystem::serviceRegistryID(HIDServiceRef service) {
    std::lock_guard guard(lock_);
    if (!services_.contains(service.raw)) return std::nullopt;
    return std::optional<PropertyValue>(std::in_place, service.raw);
}

std::optional<PropertyValue> EvdevPrivateHIDEventSystem::copyServiceProperty(HIDServiceRef service, std::string_view key) {
    std::lock_guard guard(lock_);
    const auto it = services_.find(service.raw);
    if (it == services_.end()) return std::nullopt;
    const EventNode& node = it->second;
    const auto value = [](auto v) { return std::optional<PropertyValue>(std::in_place, std::move(v)); };
    if (key == "VendorID") return value(node.vendorID);
    if (key == "ProductID") return value(node.productID);
    if (key == "Product") return value(node.deviceName);
    if (key == "Transport") {
        auto transport = sysfs::transportName(node.bus);
        if (!transport) return std::nullopt;
        return value(std::move(*transport));
    }
    // Generic desktop pointer (page 1, usage 2) for a node with relative X.
    if (node.isPointer()) {
        if (key == "PrimaryUsagePage") return value(std::int64_t{1});
        if (key == "PrimaryUsage") return value(std::int64_t{2});
    }
    return std::nullopt;
}

} // namespace ravolet::platform

#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"

#include <algorithm>

namespace ravolet::platform {

namespace {
// Where the simulated registry's number objects "live": the raw result word of
// the registry-identifier function is this base plus the service's handle.
constexpr std::uint64_t numberObjectBase = 0x600000C00000;
} // namespace

SimulatedPrivateHIDEventSystem::SimulatedPrivateHIDEventSystem() {
    libraries_.push_back(Library{std::string(coreGraphicsLibraryPath), {"CGEventCopyIOHIDEvent", "CGEventGetIOHIDEvent"}});
    libraries_.push_back(Library{std::string(iokitLibraryPath),
                                 {"IOHIDEventGetSenderID", "IOHIDEventSystemClientCreateSimpleClient",
                                  "IOHIDEventSystemClientCopyServices", "IOHIDServiceClientGetRegistryID",
                                  "IOHIDServiceClientCopyProperty", "IOHIDServiceClientSetProperty"}});
}

void SimulatedPrivateHIDEventSystem::attach(const SimulatedDevice& device) {
    Service service;
    service.registryID.emplace(std::in_place_type<std::uint64_t>, device.registryID);
    service.properties = device.properties;
    addService(std::move(service));
}

void SimulatedPrivateHIDEventSystem::addService(Service service) {
    std::lock_guard guard(lock_);
    if (service.registryID) {
        const auto id = propertyUInt64(*service.registryID);
        for (auto& [handle, existing] : services_) {
            if (existing.registryID && id && propertyUInt64(*existing.registryID) == id) {
                existing = std::move(service);
                return;
            }
        }
    }
    services_.emplace(nextServiceHandle_++, std::move(service));
}

void SimulatedPrivateHIDEventSystem::detach(std::uint64_t registryID) {
    std::lock_guard guard(lock_);
    std::erase_if(services_, [&](const auto& entry) {
        return entry.second.registryID && propertyUInt64(*entry.second.registryID) == registryID;
    });
}

void SimulatedPrivateHIDEventSystem::removeAllServices() {
    std::lock_guard guard(lock_);
    services_.clear();
}

void SimulatedPrivateHIDEventSystem::dropFunction(const std::string& symbol) {
    std::lock_guard guard(lock_);
    droppedSymbols_.insert(symbol);
}

void SimulatedPrivateHIDEventSystem::restoreFunction(const std::string& symbol) {
    std::lock_guard guard(lock_);
    droppedSymbols_.erase(symbol);
}

void SimulatedPrivateHIDEventSystem::failLibrary(const std::string& path) {
    std::lock_guard guard(lock_);
    failedLibraries_.insert(path);
}

void SimulatedPrivateHIDEventSystem::failClientCreation(bool fail) {
    std::lock_guard guard(lock_);
    failClient_ = fail;
}

void SimulatedPrivateHIDEventSystem::failServiceCopy(bool fail) {
    std::lock_guard guard(lock_);
    failServices_ = fail;
}

std::optional<PropertyValue> SimulatedPrivateHIDEventSystem::property(std::uint64_t registryID,
                                                                      const std::string& key) const {
    std::lock_guard guard(lock_);
    for (const auto& [handle, service] : services_) {
        if (service.registryID && propertyUInt64(*service.registryID) == registryID) {
            const auto it = service.properties.find(key);
            if (it != service.properties.end()) return it->second;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<LibraryHandle> SimulatedPrivateHIDEventSystem::openLibrary(std::string_view path, int) {
    ++libraryOpens_;
    std::lock_guard guard(lock_);
    if (failedLibraries_.contains(path)) return std::nullopt;
    for (std::size_t i = 0; i < libraries_.size(); ++i)
        if (libraries_[i].path == path) return LibraryHandle{i + 1};
    return std::nullopt;
}

bool SimulatedPrivateHIDEventSystem::lookupSymbol(LibraryHandle library, std::string_view symbol) {
    ++symbolLookups_;
    std::lock_guard guard(lock_);
    if (library.raw == 0 || library.raw > libraries_.size()) return false;
    return libraries_[library.raw - 1].symbols.contains(symbol) && !droppedSymbols_.contains(symbol);
}

std::optional<HIDEventRef> SimulatedPrivateHIDEventSystem::copyIOHIDEvent(const Event& event) {
    // Only hardware events have a HID event behind them.
    if (event.hidSenderID() == 0) return std::nullopt;
    ++outstandingHIDEvents_;
    return HIDEventRef{event.hidSenderID()};
}

void SimulatedPrivateHIDEventSystem::releaseHIDEvent(HIDEventRef) { --outstandingHIDEvents_; }

std::uint64_t SimulatedPrivateHIDEventSystem::hidEventSenderID(HIDEventRef hidEvent) { return hidEvent.raw; }

std::optional<HIDEventSystemClientRef> SimulatedPrivateHIDEventSystem::createSimpleClient() {
    std::lock_guard guard(lock_);
    if (failClient_) return std::nullopt;
    ++outstandingClients_;
    return HIDEventSystemClientRef{nextClient_++};
}

void SimulatedPrivateHIDEventSystem::releaseClient(HIDEventSystemClientRef) { --outstandingClients_; }

std::optional<std::vector<HIDServiceRef>> SimulatedPrivateHIDEventSystem::copyServices(HIDEventSystemClientRef) {
    ++serviceCopies_;
    std::lock_guard guard(lock_);
    if (failServices_) return std::nullopt;
    std::vector<HIDServiceRef> refs;
    refs.reserve(services_.size());
    for (const auto& [handle, service] : services_) refs.push_back(HIDServiceRef{handle});
    return refs;
}

const SimulatedPrivateHIDEventSystem::Service* SimulatedPrivateHIDEventSystem::findService(HIDServiceRef ref) const {
    const auto it = services_.find(ref.raw);
    return it == services_.end() ? nullptr : &it->second;
}

std::optional<PropertyValue> SimulatedPrivateHIDEventSystem::serviceRegistryID(HIDServiceRef service) {
    std::lock_guard guard(lock_);
    const Service* s = findService(service);
    if (!s) return std::nullopt;
    return s->registryID;
}

std::uint64_t SimulatedPrivateHIDEventSystem::serviceRegistryIDResultWord(HIDServiceRef service) {
    std::lock_guard guard(lock_);
    const Service* s = findService(service);
    return s && s->registryID ? numberObjectBase + service.raw * 16 : 0;
}

std::optional<PropertyValue> SimulatedPrivateHIDEventSystem::copyServiceProperty(HIDServiceRef service,
                                                                                 std::string_view key) {
    std::lock_guard guard(lock_);
    const Service* s = findService(service);
    if (!s) return std::nullopt;
    const auto it = s->properties.find(std::string(key));
    if (it == s->properties.end()) return std::nullopt;
    return it->second;
}

bool SimulatedPrivateHIDEventSystem::setServiceProperty(HIDServiceRef service, std::string_view key,
                                                        const PropertyValue& value) {
    std::lock_guard guard(lock_);
    const auto it = services_.find(service.raw);
    if (it == services_.end()) return false;
    it->second.properties[std::string(key)] = value;
    return true;
}

} // namespace ravolet::platform

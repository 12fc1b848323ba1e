#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/PrivateHIDEventSystem.hpp"
#include "Platform/Simulated/SimulatedDevice.hpp"

namespace ravolet::platform {

// The private HID event system of the simulated machine. Both libraries open
// and export all seven functions until a test drops some. The services are
// the devices a test attaches; the HID event behind an input event is the one
// the simulated event system attached when it injected the event.
// Safe to use from any thread.
class SimulatedPrivateHIDEventSystem final : public PrivateHIDEventSystem {
public:
    // A service as the registry shows it. registryID none: the lookup of its
    // identifier gives nothing; any other value (a text, 0) is given as is.
    struct Service {
        std::optional<PropertyValue> registryID;
        std::map<std::string, PropertyValue> properties;
    };

    SimulatedPrivateHIDEventSystem();

    // Adds a device's service (replacing one with the same identifier).
    void attach(const SimulatedDevice& device);
    void addService(Service service);
    // Removes every service whose registry identifier is the number.
    void detach(std::uint64_t registryID);
    void removeAllServices();

    // The named function (or "CGEventGetIOHIDEvent") is missing from its library.
    void dropFunction(const std::string& symbol);
    void restoreFunction(const std::string& symbol);
    // The library at the path cannot be opened.
    void failLibrary(const std::string& path);
    // Creating a client, or copying the services, gives nothing.
    void failClientCreation(bool fail);
    void failServiceCopy(bool fail);

    // Counters for tests.
    std::uint64_t symbolLookups() const { return symbolLookups_.load(); }
    std::uint64_t libraryOpens() const { return libraryOpens_.load(); }
    std::uint64_t serviceCopies() const { return serviceCopies_.load(); }
    // HID events copied and not yet released.
    std::int64_t outstandingHIDEvents() const { return outstandingHIDEvents_.load(); }
    // Clients created and not yet released.
    std::int64_t outstandingClients() const { return outstandingClients_.load(); }
    // Properties as they are now, after writes.
    std::optional<PropertyValue> property(std::uint64_t registryID, const std::string& key) const;

    std::optional<LibraryHandle> openLibrary(std::string_view path, int mode) override;
    bool lookupSymbol(LibraryHandle library, std::string_view symbol) override;
    std::optional<HIDEventRef> copyIOHIDEvent(const Event& event) override;
    void releaseHIDEvent(HIDEventRef hidEvent) override;
    std::uint64_t hidEventSenderID(HIDEventRef hidEvent) override;
    std::optional<HIDEventSystemClientRef> createSimpleClient() override;
    void releaseClient(HIDEventSystemClientRef client) override;
    std::optional<std::vector<HIDServiceRef>> copyServices(HIDEventSystemClientRef client) override;
    std::optional<PropertyValue> serviceRegistryID(HIDServiceRef service) override;
    std::uint64_t serviceRegistryIDResultWord(HIDServiceRef service) override;
    std::optional<PropertyValue> copyServiceProperty(HIDServiceRef service, std::string_view key) override;
    bool setServiceProperty(HIDServiceRef service, std::string_view key, const PropertyValue& value) override;

private:
    struct Library {
        std::string path;
        std::set<std::string, std::less<>> symbols;
    };
    const Service* findService(HIDServiceRef ref) const;

    mutable std::mutex lock_;
    std::vector<Library> libraries_;
    std::set<std::string, std::less<>> failedLibraries_;
    std::set<std::string, std::less<>> droppedSymbols_;
    bool failClient_ = false;
    bool failServices_ = false;
    // Handle number → service; handles are never reused.
    std::map<std::uint64_t, Service> services_;
    std::uint64_t nextServiceHandle_ = 1;
    std::uint64_t nextClient_ = 1;

    std::atomic<std::uint64_t> symbolLookups_{0};
    std::atomic<std::uint64_t> libraryOpens_{0};
    std::atomic<std::uint64_t> serviceCopies_{0};
    std::atomic<std::int64_t> outstandingHIDEvents_{0};
    std::atomic<std::int64_t> outstandingClients_{0};
};

} // namespace ravolet::platform

#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/ServiceRegistry.hpp"

namespace ravolet::platform {

// An I/O registry in memory. As on the host, a property set on a HID event
// service's entry lands in its "HIDEventServiceProperties" dictionary. Counts
// the entries handed out and not yet released. Safe from any thread.
class SimulatedServiceRegistry final : public ServiceRegistry {
public:
    // Adds (or replaces) the entry with these top-level properties.
    void addEntry(std::uint64_t registryID, std::map<std::string, RegistryPropertyValue, std::less<>> properties = {});
    // Sets one value inside the entry's "HIDEventServiceProperties", adding the entry when missing.
    void setEventServiceProperty(std::uint64_t registryID, const std::string& key, PropertyValue value);
    void removeEntry(std::uint64_t registryID);
    // Every later write returns the code (kIOReturnSuccess: writes work again).
    void failWrites(IOReturn code);

    // The value inside the entry's "HIDEventServiceProperties".
    std::optional<PropertyValue> eventServiceProperty(std::uint64_t registryID, std::string_view key) const;
    std::int64_t outstandingEntries() const;
    std::uint64_t writeCount() const;

    std::optional<RegistryEntryRef> matchingService(std::uint64_t registryID) override;
    std::optional<RegistryPropertyValue> createProperty(RegistryEntryRef entry, std::string_view key) override;
    IOReturn setProperty(RegistryEntryRef entry, std::string_view key, const PropertyValue& value) override;
    void release(RegistryEntryRef entry) override;

private:
    using Properties = std::map<std::string, RegistryPropertyValue, std::less<>>;
    PropertyDictionary& eventServiceProperties(Properties& properties);

    mutable std::mutex lock_;
    // Entry handles are the registry identifiers themselves.
    std::map<std::uint64_t, Properties> entries_;
    IOReturn writeResult_ = kIOReturnSuccess;
    std::int64_t outstanding_ = 0;
    std::uint64_t writes_ = 0;
};

} // namespace ravolet::platform

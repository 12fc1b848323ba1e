#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/IOReturn.hpp"
#include "Platform/PrivateHIDEventSystem.hpp"

namespace ravolet::platform {

// A retained entry of the I/O registry, released with ServiceRegistry::release.
using RegistryEntryRef = OpaqueRef<struct RegistryEntryKind>;
// A dictionary property of a registry entry.
using PropertyDictionary = std::map<std::string, PropertyValue, std::less<>>;
using RegistryPropertyValue = std::variant<PropertyValue, PropertyDictionary>;

// The dictionary in which a HID event service keeps its per-device settings.
inline constexpr std::string_view hidEventServicePropertiesKey = "HIDEventServiceProperties";

// The host's public I/O registry, as far as the pointer properties need it:
// finding a service's entry by its registry identifier, reading a property of
// the entry and setting one.
class ServiceRegistry {
public:
    virtual ~ServiceRegistry() = default;

    // IOServiceGetMatchingService with the main port and IORegistryEntryIDMatching:
    // the entry, retained by the caller; none when no entry has that identifier.
    virtual std::optional<RegistryEntryRef> matchingService(std::uint64_t registryID) = 0;
    // IORegistryEntryCreateCFProperty: a copy of the property; none when absent.
    virtual std::optional<RegistryPropertyValue> createProperty(RegistryEntryRef entry, std::string_view key) = 0;
    // IORegistryEntrySetCFProperty: kIOReturnSuccess or the failure.
    virtual IOReturn setProperty(RegistryEntryRef entry, std::string_view key, const PropertyValue& value) = 0;
    // IOObjectRelease.
    virtual void release(RegistryEntryRef entry) = 0;
};

} // namespace ravolet::platform

#pragma once

#include <memory>

#include "Platform/PrivateHIDEventSystem.hpp"
#include "Platform/ServiceRegistry.hpp"

namespace ravolet::platform {

// This machine has neither the private HID event-system functions nor an I/O
// registry of HID event services: no library opens, so every private function
// is missing, and no registry identifier names an entry.
class LinuxPrivateHIDEventSystem final : public PrivateHIDEventSystem {
public:
    std::optional<LibraryHandle> openLibrary(std::string_view, int) override { return std::nullopt; }
    bool lookupSymbol(LibraryHandle, std::string_view) override { return false; }
    std::optional<HIDEventRef> copyIOHIDEvent(const Event&) override { return std::nullopt; }
    void releaseHIDEvent(HIDEventRef) override {}
    std::uint64_t hidEventSenderID(HIDEventRef) override { return 0; }
    std::optional<HIDEventSystemClientRef> createSimpleClient() override { return std::nullopt; }
    void releaseClient(HIDEventSystemClientRef) override {}
    std::optional<std::vector<HIDServiceRef>> copyServices(HIDEventSystemClientRef) override { return std::nullopt; }
    std::optional<PropertyValue> serviceRegistryID(HIDServiceRef) override { return std::nullopt; }
    std::uint64_t serviceRegistryIDResultWord(HIDServiceRef) override { return 0; }
    std::optional<PropertyValue> copyServiceProperty(HIDServiceRef, std::string_view) override { return std::nullopt; }
    bool setServiceProperty(HIDServiceRef, std::string_view, const PropertyValue&) override { return false; }
};

class LinuxServiceRegistry final : public ServiceRegistry {
public:
    std::optional<RegistryEntryRef> matchingService(std::uint64_t) override { return std::nullopt; }
    std::optional<RegistryPropertyValue> createProperty(RegistryEntryRef, std::string_view) override { return std::nullopt; }
    IOReturn setProperty(RegistryEntryRef, std::string_view, const PropertyValue&) override { return kIOReturnNoDevice; }
    void release(RegistryEntryRef) override {}
};

} // namespace ravolet::platform

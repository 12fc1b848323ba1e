#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "Platform/Linux/Kernel/Sysfs.hpp"
#include "Platform/PrivateHIDEventSystem.hpp"

namespace ravolet::platform {

// What the device scope asks of the private HID event system, answered from
// the kernel's input devices: the services are the event nodes sysfs lists
// (Ravolet's own virtual devices left out), each with a registry identifier
// made from its input device's number ("input12"), which the kernel never
// gives to another device while it runs; and the sender of an event is the
// identifier the event tap stamped on it when it read the event from the
// node (Event::hidSenderID). Events Ravolet makes carry none.
//
// Every function is present, so the scope works as on the host. Linux has no
// per-device pointer properties to write: setting a property is refused.
// Safe to use from any thread.
class EvdevPrivateHIDEventSystem final : public PrivateHIDEventSystem {
public:
    explicit EvdevPrivateHIDEventSystem(KernelRoots roots = {});

    // The registry identifier of an input device: 2^32 plus its number; none
    // for a folder not named "input<n>".
    static std::optional<std::uint64_t> registryID(const EventNode& node);

    std::optional<LibraryHandle> openLibrary(std::string_view path, int mode) override;
    bool lookupSymbol(LibraryHandle library, std::string_view symbol) override;
    std::optional<HIDEventRef> copyIOHIDEvent(const Event& event) override;
    void releaseHIDEvent(HIDEventRef) override {}
    std::uint64_t hidEventSenderID(HIDEventRef hidEvent) override { return hidEvent.raw; }
    std::optional<HIDEventSystemClientRef> createSimpleClient() override;
    void releaseClient(HIDEventSystemClientRef client) override;
    std::optional<std::vector<HIDServiceRef>> copyServices(HIDEventSystemClientRef client) override;
    std::optional<PropertyValue> serviceRegistryID(HIDServiceRef service) override;
    std::uint64_t serviceRegistryIDResultWord(HIDServiceRef service) override { return service.raw; }
    std::optional<PropertyValue> copyServiceProperty(HIDServiceRef service, std::string_view key) override;
    bool setServiceProperty(HIDServiceRef, std::string_view, const PropertyValue&) override { return false; }

private:
    const KernelRoots roots_;
    mutable std::mutex lock_;
    std::uint64_t nextClient_ = 1;
    std::set<std::uint64_t> clients_;
    // The nodes as the last listing found them, by registry identifier (a
    // service handle is its registry identifier).
    std::map<std::uint64_t, EventNode> services_;
};

} // namespace ravolet::platform

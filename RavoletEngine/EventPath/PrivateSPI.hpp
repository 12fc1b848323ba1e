#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/PrivateHIDEventSystem.hpp"

namespace ravolet {

// The private HID event-system functions the program reaches by name at run
// time. Each library is opened and each symbol looked up at most once, on
// first use, and the answer (found or not) is kept. A function that is
// missing is never called: its wrapper gives nothing.
class PrivateSPI {
public:
    enum class Library { coreGraphics, iokit };

    enum class Entry {
        cgEventCopyIOHIDEvent,
        ioHIDEventGetSenderID,
        ioHIDEventSystemClientCreateSimpleClient,
        ioHIDEventSystemClientCopyServices,
        ioHIDServiceClientGetRegistryIDRaw,
        ioHIDServiceClientCopyProperty,
        ioHIDServiceClientSetProperty,
    };
    static constexpr std::size_t entryCount = 7;

    struct EntryInfo {
        Entry entry;
        std::string_view symbol;
        Library library;
    };
    // The table, in this order.
    static constexpr std::array<EntryInfo, entryCount> table{{
        {Entry::cgEventCopyIOHIDEvent, "CGEventCopyIOHIDEvent", Library::coreGraphics},
        {Entry::ioHIDEventGetSenderID, "IOHIDEventGetSenderID", Library::iokit},
        {Entry::ioHIDEventSystemClientCreateSimpleClient, "IOHIDEventSystemClientCreateSimpleClient", Library::iokit},
        {Entry::ioHIDEventSystemClientCopyServices, "IOHIDEventSystemClientCopyServices", Library::iokit},
        {Entry::ioHIDServiceClientGetRegistryIDRaw, "IOHIDServiceClientGetRegistryID", Library::iokit},
        {Entry::ioHIDServiceClientCopyProperty, "IOHIDServiceClientCopyProperty", Library::iokit},
        {Entry::ioHIDServiceClientSetProperty, "IOHIDServiceClientSetProperty", Library::iokit},
    }};

    explicit PrivateSPI(std::shared_ptr<platform::PrivateHIDEventSystem> system);
    PrivateSPI(const PrivateSPI&) = delete;
    PrivateSPI& operator=(const PrivateSPI&) = delete;

    // Whether the entry's symbol was found (looked up on the first call).
    bool isAvailable(Entry entry) const;
    // The symbols whose lookup failed, in table order; empty when all were found.
    std::vector<std::string> missingSymbols() const;
    // The library's handle, opened (lazily, mode 1) on first use; none when it did not open.
    std::optional<platform::LibraryHandle> handle(Library library) const;

    platform::PrivateHIDEventSystem& system() const { return *system_; }

    // The functions; each gives nothing (or false, or 0) when it is missing.
    std::optional<platform::HIDEventRef> copyIOHIDEvent(const platform::Event& event) const;
    void releaseHIDEvent(platform::HIDEventRef hidEvent) const;
    std::optional<std::uint64_t> hidEventSenderID(platform::HIDEventRef hidEvent) const;
    std::optional<platform::HIDEventSystemClientRef> createSimpleClient() const;
    void releaseClient(platform::HIDEventSystemClientRef client) const;
    std::optional<std::vector<platform::HIDServiceRef>> copyServices(platform::HIDEventSystemClientRef client) const;
    std::optional<platform::PropertyValue> serviceRegistryID(platform::HIDServiceRef service) const;
    std::optional<platform::PropertyValue> copyServiceProperty(platform::HIDServiceRef service, std::string_view key) const;
    bool setServiceProperty(platform::HIDServiceRef service, std::string_view key,
                            const platform::PropertyValue& value) const;

    // Typed readings of the functions above. The registry identifier when the
    // function gives a number (0 included; a Boolean or a text is no number).
    std::optional<std::uint64_t> serviceRegistryIDNumber(platform::HIDServiceRef service) const;
    // A property's integer value when it is a number, its text when it is one.
    std::optional<std::int64_t> copyServiceInteger(platform::HIDServiceRef service, std::string_view key) const;
    std::optional<std::string> copyServiceString(platform::HIDServiceRef service, std::string_view key) const;

private:
    const std::shared_ptr<platform::PrivateHIDEventSystem> system_;
    mutable std::array<std::once_flag, 2> libraryOnce_;
    mutable std::array<std::optional<platform::LibraryHandle>, 2> libraries_;
    mutable std::array<std::once_flag, entryCount> entryOnce_;
    mutable std::array<bool, entryCount> found_{};
};

} // namespace ravolet

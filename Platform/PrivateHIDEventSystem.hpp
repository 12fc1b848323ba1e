#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Platform/Event.hpp"

namespace ravolet::platform {

// A property value of a HID service, as the registry keeps it: a number
// (signed, unsigned or floating), a Boolean or a text.
using PropertyValue = std::variant<std::int64_t, std::uint64_t, double, bool, std::string>;

// The value as a signed or unsigned integer when it is a number that fits
// (floating numbers are truncated toward zero); none otherwise.
std::optional<std::int64_t> propertyInt64(const PropertyValue& value);
std::optional<std::uint64_t> propertyUInt64(const PropertyValue& value);
// The text when the value is one; none otherwise.
std::optional<std::string> propertyString(const PropertyValue& value);
std::string describe(const PropertyValue& value);

// Opaque handles of the private HID event system's objects; each kind its own type.
template <class Kind>
struct OpaqueRef {
    std::uint64_t raw = 0;
    friend constexpr bool operator==(OpaqueRef, OpaqueRef) = default;
};
using LibraryHandle = OpaqueRef<struct LibraryKind>;
// A retained HID event, released with releaseHIDEvent.
using HIDEventRef = OpaqueRef<struct HIDEventKind>;
using HIDEventSystemClientRef = OpaqueRef<struct HIDEventSystemClientKind>;
using HIDServiceRef = OpaqueRef<struct HIDServiceKind>;

// The libraries the private functions live in, by path.
inline constexpr std::string_view coreGraphicsLibraryPath = "/System/Library/Frameworks/CoreGraphics.framework/CoreGraphics";
inline constexpr std::string_view iokitLibraryPath = "/System/Library/Frameworks/IOKit.framework/IOKit";
// dlopen's lazy binding.
inline constexpr int libraryLazyBinding = 1;

// The system's private HID event functions. They are found by name at run
// time and any of them can be missing: callers look each one up first
// (openLibrary, lookupSymbol) and call only those that were found.
class PrivateHIDEventSystem {
public:
    virtual ~PrivateHIDEventSystem() = default;

    // Opens a library (dlopen); none when it cannot be opened.
    virtual std::optional<LibraryHandle> openLibrary(std::string_view path, int mode) = 0;
    // Whether the library exports the symbol (dlsym).
    virtual bool lookupSymbol(LibraryHandle library, std::string_view symbol) = 0;

    // "CGEventCopyIOHIDEvent": the HID event underlying an input event, or none.
    virtual std::optional<HIDEventRef> copyIOHIDEvent(const Event& event) = 0;
    virtual void releaseHIDEvent(HIDEventRef hidEvent) = 0;
    // "IOHIDEventGetSenderID": the registry identifier of the service that sent it.
    virtual std::uint64_t hidEventSenderID(HIDEventRef hidEvent) = 0;
    // "IOHIDEventSystemClientCreateSimpleClient" (default allocator).
    virtual std::optional<HIDEventSystemClientRef> createSimpleClient() = 0;
    // Releases a client made by createSimpleClient.
    virtual void releaseClient(HIDEventSystemClientRef client) = 0;
    // "IOHIDEventSystemClientCopyServices": every service the client sees, or none.
    virtual std::optional<std::vector<HIDServiceRef>> copyServices(HIDEventSystemClientRef client) = 0;
    // "IOHIDServiceClientGetRegistryID": the registry identifier as a number object, or none.
    virtual std::optional<PropertyValue> serviceRegistryID(HIDServiceRef service) = 0;
    // The raw result word of "IOHIDServiceClientGetRegistryID" (the object's address on the host).
    virtual std::uint64_t serviceRegistryIDResultWord(HIDServiceRef service) = 0;
    // "IOHIDServiceClientCopyProperty".
    virtual std::optional<PropertyValue> copyServiceProperty(HIDServiceRef service, std::string_view key) = 0;
    // "IOHIDServiceClientSetProperty": whether the service took the value.
    virtual bool setServiceProperty(HIDServiceRef service, std::string_view key, const PropertyValue& value) = 0;
};

} // namespace ravolet::platform

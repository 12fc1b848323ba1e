#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ravolet::platform {

// The host's I/O return codes. Our HID layer reports its outcomes in this
// vocabulary because callers tell failures apart by these values (a denied
// open, a removed device, exclusive access) and show them with their names.
using IOReturn = std::int32_t;

namespace ioreturn_detail {
// Common I/O-kit errors: system 0x38, sub-system 0, then the code.
constexpr IOReturn common(std::uint32_t code) { return static_cast<IOReturn>(0xE0000000u | code); }
} // namespace ioreturn_detail

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = ioreturn_detail::common(0x2BC);
inline constexpr IOReturn kIOReturnNoMemory = ioreturn_detail::common(0x2BD);
inline constexpr IOReturn kIOReturnNoResources = ioreturn_detail::common(0x2BE);
inline constexpr IOReturn kIOReturnNoDevice = ioreturn_detail::common(0x2C0);
inline constexpr IOReturn kIOReturnNotPrivileged = ioreturn_detail::common(0x2C1);
inline constexpr IOReturn kIOReturnBadArgument = ioreturn_detail::common(0x2C2);
inline constexpr IOReturn kIOReturnExclusiveAccess = ioreturn_detail::common(0x2C5);
inline constexpr IOReturn kIOReturnUnsupported = ioreturn_detail::common(0x2C7);
inline constexpr IOReturn kIOReturnInternalError = ioreturn_detail::common(0x2C9);
inline constexpr IOReturn kIOReturnIOError = ioreturn_detail::common(0x2CA);
inline constexpr IOReturn kIOReturnNotOpen = ioreturn_detail::common(0x2CD);
inline constexpr IOReturn kIOReturnNotReadable = ioreturn_detail::common(0x2CE);
inline constexpr IOReturn kIOReturnNotWritable = ioreturn_detail::common(0x2CF);
inline constexpr IOReturn kIOReturnStillOpen = ioreturn_detail::common(0x2D2);
inline constexpr IOReturn kIOReturnBusy = ioreturn_detail::common(0x2D5);
inline constexpr IOReturn kIOReturnTimeout = ioreturn_detail::common(0x2D6);
inline constexpr IOReturn kIOReturnOffline = ioreturn_detail::common(0x2D7);
inline constexpr IOReturn kIOReturnNotReady = ioreturn_detail::common(0x2D8);
inline constexpr IOReturn kIOReturnNotAttached = ioreturn_detail::common(0x2D9);
inline constexpr IOReturn kIOReturnNoSpace = ioreturn_detail::common(0x2DB);
inline constexpr IOReturn kIOReturnMessageTooLarge = ioreturn_detail::common(0x2E1);
inline constexpr IOReturn kIOReturnNotPermitted = ioreturn_detail::common(0x2E2);
inline constexpr IOReturn kIOReturnNoPower = ioreturn_detail::common(0x2E3);
inline constexpr IOReturn kIOReturnUnderrun = ioreturn_detail::common(0x2E7);
inline constexpr IOReturn kIOReturnAborted = ioreturn_detail::common(0x2EB);

// The constant's own name ("kIOReturnExclusiveAccess"), or nothing for a code
// this table does not list.
std::optional<std::string_view> ioReturnName(IOReturn code);

} // namespace ravolet::platform

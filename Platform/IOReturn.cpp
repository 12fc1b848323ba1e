#include "Platform/IOReturn.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace ravolet::platform {

namespace {

constexpr std::array<std::pair<IOReturn, std::string_view>, 26> names{{
    {kIOReturnSuccess, "kIOReturnSuccess"},
    {kIOReturnError, "kIOReturnError"},
    {kIOReturnNoMemory, "kIOReturnNoMemory"},
    {kIOReturnNoResources, "kIOReturnNoResources"},
    {kIOReturnNoDevice, "kIOReturnNoDevice"},
    {kIOReturnNotPrivileged, "kIOReturnNotPrivileged"},
    {kIOReturnBadArgument, "kIOReturnBadArgument"},
    {kIOReturnExclusiveAccess, "kIOReturnExclusiveAccess"},
    {kIOReturnUnsupported, "kIOReturnUnsupported"},
    {kIOReturnInternalError, "kIOReturnInternalError"},
    {kIOReturnIOError, "kIOReturnIOError"},
    {kIOReturnNotOpen, "kIOReturnNotOpen"},
    {kIOReturnNotReadable, "kIOReturnNotReadable"},
    {kIOReturnNotWritable, "kIOReturnNotWritable"},
    {kIOReturnStillOpen, "kIOReturnStillOpen"},
    {kIOReturnBusy, "kIOReturnBusy"},
    {kIOReturnTimeout, "kIOReturnTimeout"},
    {kIOReturnOffline, "kIOReturnOffline"},
    {kIOReturnNotReady, "kIOReturnNotReady"},
    {kIOReturnNotAttached, "kIOReturnNotAttached"},
    {kIOReturnNoSpace, "kIOReturnNoSpace"},
    {kIOReturnMessageTooLarge, "kIOReturnMessageTooLarge"},
    {kIOReturnNotPermitted, "kIOReturnNotPermitted"},
    {kIOReturnNoPower, "kIOReturnNoPower"},
    {kIOReturnUnderrun, "kIOReturnUnderrun"},
    {kIOReturnAborted, "kIOReturnAborted"},
}};

} // namespace

std::optional<std::string_view> ioReturnName(IOReturn code) {
    const auto it = std::ranges::find_if(names, [&](const auto& entry) { return entry.first == code; });
    if (it == names.end()) return std::nullopt;
    return it->second;
}

} // namespace ravolet::platform

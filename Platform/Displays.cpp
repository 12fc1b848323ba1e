#include "Platform/Displays.hpp"

namespace ravolet::platform {

std::string_view cgErrorName(CGError error) {
    switch (error) {
    case CGError::success: return "kCGErrorSuccess";
    case CGError::failure: return "kCGErrorFailure";
    case CGError::illegalArgument: return "kCGErrorIllegalArgument";
    case CGError::invalidConnection: return "kCGErrorInvalidConnection";
    case CGError::invalidContext: return "kCGErrorInvalidContext";
    case CGError::cannotComplete: return "kCGErrorCannotComplete";
    case CGError::notImplemented: return "kCGErrorNotImplemented";
    case CGError::rangeCheck: return "kCGErrorRangeCheck";
    case CGError::typeCheck: return "kCGErrorTypeCheck";
    case CGError::invalidOperation: return "kCGErrorInvalidOperation";
    case CGError::noneAvailable: return "kCGErrorNoneAvailable";
    }
    return "kCGErrorUnknown";
}

std::ostream& operator<<(std::ostream& os, CGError error) {
    return os << cgErrorName(error) << " (" << static_cast<std::int32_t>(error) << ')';
}

} // namespace ravolet::platform

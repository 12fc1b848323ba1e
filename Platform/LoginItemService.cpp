#include "Platform/LoginItemService.hpp"

#include <ostream>

namespace ravolet::platform {

std::string_view description(LoginItemStatus status) {
    switch (status) {
    case LoginItemStatus::notRegistered: return "not registered";
    case LoginItemStatus::enabled: return "enabled";
    case LoginItemStatus::requiresApproval: return "requires approval";
    case LoginItemStatus::notFound: return "not found";
    }
    return "unknown";
}

std::ostream& operator<<(std::ostream& os, LoginItemStatus status) { return os << description(status); }

} // namespace ravolet::platform

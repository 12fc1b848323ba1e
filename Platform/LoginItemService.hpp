#pragma once

#include <expected>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "Platform/Executor.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// Where the system stands on starting the program at login, with the host's
// raw values.
enum class LoginItemStatus : int {
    notRegistered = 0,
    enabled = 1,
    // Registered, but the user must still allow it in the system's settings.
    requiresApproval = 2,
    // The system cannot find the program to register.
    notFound = 3,
};

// "not registered", "enabled", "requires approval", "not found".
std::string_view description(LoginItemStatus status);
std::ostream& operator<<(std::ostream& os, LoginItemStatus status);

// A failed registration, in the system's own words.
using LoginItemResult = std::expected<void, std::string>;

// The system's service that starts the program when the user logs in. The
// calls are synchronous and made from the main thread.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    virtual LoginItemStatus status() const = 0;
    // Asks for the program to start at login; asking again when it already
    // does is no error.
    virtual LoginItemResult registerItem() = 0;
    // Asks for it not to start at login any more.
    virtual LoginItemResult unregisterItem() = 0;
    // Calls `handler` on `executor` whenever the status may have changed, by
    // the program or by anyone else (the desktop's settings), until the
    // subscription is dropped. A service that cannot tell never calls.
    virtual Subscription observeChanges(std::shared_ptr<Executor> executor, std::function<void()> handler) {
        (void)executor, (void)handler;
        return {};
    }
};

} // namespace ravolet::platform

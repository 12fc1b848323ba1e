#pragma once

#include <string>

namespace ravolet::platform {

// Short messages the desktop shows by itself, outside Ravolet's windows (a
// notification bubble), for what happens while no window may be open.
// Callable from any thread.
class Notifier {
public:
    virtual ~Notifier() = default;

    // Shows the title and the plain-text body where the desktop has a
    // notification service; nothing at all where it has none.
    virtual void notify(const std::string& title, const std::string& body) = 0;
};

} // namespace ravolet::platform

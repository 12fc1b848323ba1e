#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "Platform/Linux/Desktop/WindowIdentifier.hpp"
#include "Platform/Workspace.hpp"

namespace ravolet::platform {

// One way of learning which window is in front on a Linux desktop: the X
// server, a wlroots compositor, KWin or GNOME Shell. A source reports what the
// window says about itself; the workspace maps that to an application, the
// same way for every source.
class FrontmostSource {
public:
    struct Front {
        FrontmostTracking::State state = FrontmostTracking::State::following;
        // The window in front; none when there is none or the source cannot tell.
        std::optional<WindowClues> window;

        friend bool operator==(const Front&, const Front&) = default;
    };

    virtual ~FrontmostSource() = default;

    virtual FrontmostTracking::Source kind() const = 0;
    // Starts following the desktop; `changed` is called (on the source's own
    // thread) after every change of front(), including the desktop going away.
    // False when the desktop does not answer as this source needs: then
    // nothing runs and another source may be tried.
    virtual bool start(std::function<void()> changed) = 0;
    // Ends following; `changed` is not called once it returns. Harmless twice.
    virtual void stop() = 0;

    virtual Front front() const = 0;
    // The application windows there are now, for the running applications.
    virtual std::vector<WindowClues> windows() const = 0;
    // What the user may install so that this desktop tells; none for a
    // desktop that tells by itself. Asked once start() has answered.
    virtual FrontmostExtension* extension() { return nullptr; }
};

} // namespace ravolet::platform

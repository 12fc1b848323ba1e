#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Linux/Input/DesktopKeyboard.hpp"

namespace ravolet::platform {

// The keyboard as the X server sees it (also Xwayland's, which sees keys
// only while one of its windows has the focus): which keys are down (X key
// codes are evdev codes + 8 under the evdev and libinput drivers) and whether
// caps lock is on.
//
// Kept on a thread of its own from the server's own notifications: XKB tells
// of every change of the modifiers, and each is followed there by a fresh
// read of the keys that are down. state() hands out what was last heard and
// never speaks to the server, so a slow, stuck or missing server holds no
// input up. The thread connects with a time limit (a server that accepts and
// never answers is given up on) and tries again every `reconnectDelay` while
// it has no server; until it has one there is no answer. Only a display on
// this machine is asked (a Unix socket: DISPLAY ":0" or "unix:0"); the
// keyboard of a display reached over the network has nothing to do with the
// mouse here. Any thread.
class X11Keyboard final : public DesktopKeyboard {
public:
    struct Options {
        std::string display; // empty: $DISPLAY
        std::chrono::milliseconds connectLimit{2000};
        std::chrono::milliseconds reconnectDelay{2000};
    };

    explicit X11Keyboard(Options options);
    X11Keyboard() : X11Keyboard(Options{}) {}
    // Ends the thread, cutting short whatever it waits for.
    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    std::optional<State> state() override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace ravolet::platform

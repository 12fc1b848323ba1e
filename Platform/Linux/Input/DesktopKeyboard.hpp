#pragma once

#include <bitset>
#include <optional>

namespace ravolet::platform {

// The keyboard as the desktop sees it: which keys are down (every keyboard
// together, Ravolet's virtual one included) and whether caps lock is on.
class DesktopKeyboard {
public:
    struct State {
        std::bitset<256> keys; // by evdev key code
        bool capsLock = false;
    };

    virtual ~DesktopKeyboard() = default;
    // None when nothing can tell (no X server to ask). Any thread.
    virtual std::optional<State> state() = 0;
};

} // namespace ravolet::platform

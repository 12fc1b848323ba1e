#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Linux/Input/DesktopKeyboard.hpp"

struct xcb_connection_t;

namespace ravolet::platform {

// The keyboard as the X server sees it (also Xwayland's, which sees keys
// only while one of its windows has the focus): its keymap (X key codes are
// evdev codes + 8 under the evdev and libinput drivers) and the lock state.
//
// Each question is a round trip to the server, bounded by `replyLimit` (a
// slow or stuck server gives no answer rather than holding the caller up),
// and answers within `reuse` of the last one share it, since a key stroke
// asks about every modifier key at once. Without a display, or while the
// server cannot be reached, there is no answer; the connection is tried again
// at most once every `reconnectDelay`. Any thread.
class X11Keyboard final : public DesktopKeyboard {
public:
    struct Options {
        std::string display;                            // empty: $DISPLAY
        std::chrono::milliseconds replyLimit{20};
        std::chrono::milliseconds reuse{5};
        std::chrono::milliseconds reconnectDelay{2000};
    };

    explicit X11Keyboard(Options options);
    X11Keyboard() : X11Keyboard(Options{}) {}
    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    std::optional<State> state() override;

private:
    // Connected, or none; under the lock.
    xcb_connection_t* connectionLocked(std::uint64_t nowNanos);
    std::optional<State> askLocked(xcb_connection_t* connection);

    const Options options_;
    std::mutex lock_;
    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint64_t lastAttemptNanos_ = 0;
    bool attempted_ = false;
    std::optional<State> last_;
    std::uint64_t lastAnswerNanos_ = 0;
};

} // namespace ravolet::platform

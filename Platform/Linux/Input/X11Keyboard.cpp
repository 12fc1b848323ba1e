#include "Platform/Linux/Input/X11Keyboard.hpp"

#include <poll.h>

#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include "Platform/MonotonicClock.hpp"

namespace ravolet::platform {

namespace {

constexpr std::uint64_t nanosOf(std::chrono::milliseconds ms) {
    return static_cast<std::uint64_t>(std::chrono::nanoseconds(ms).count());
}

// X key codes are evdev codes + 8 under the evdev and libinput drivers.
constexpr int xKeyCodeOffset = 8;

} // namespace

X11Keyboard::X11Keyboard(Options options) : options_(std::move(options)) {}

X11Keyboard::~X11Keyboard() {
    if (connection_) xcb_disconnect(connection_);
}

std::optional<DesktopKeyboard::State> X11Keyboard::state() {
    std::lock_guard guard(lock_);
    const std::uint64_t now = MonotonicClock::nowNanos();
    if (last_ && now - lastAnswerNanos_ < nanosOf(options_.reuse)) return last_;
    xcb_connection_t* connection = connectionLocked(now);
    if (!connection) return std::nullopt;
    last_ = askLocked(connection);
    lastAnswerNanos_ = now;
    return last_;
}

xcb_connection_t* X11Keyboard::connectionLocked(std::uint64_t nowNanos) {
    if (connection_ && xcb_connection_has_error(connection_) == 0) return connection_;
    if (connection_) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }
    if (attempted_ && nowNanos - lastAttemptNanos_ < nanosOf(options_.reconnectDelay)) return nullptr;
    attempted_ = true;
    lastAttemptNanos_ = nowNanos;
    const char* display = options_.display.empty() ? std::getenv("DISPLAY") : options_.display.c_str();
    if (!display || *display == '\0') return nullptr;
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && roots.rem > 0; ++i) xcb_screen_next(&roots);
    if (roots.rem <= 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    root_ = roots.data->root;
    connection_ = connection;
    return connection_;
}

std::optional<DesktopKeyboard::State> X11Keyboard::askLocked(xcb_connection_t* connection) {
    const unsigned int keymapRequest = xcb_query_keymap(connection).sequence;
    const unsigned int pointerRequest = xcb_query_pointer(connection, root_).sequence;
    xcb_flush(connection);

    void* keymap = nullptr;
    void* pointer = nullptr;
    bool keymapDone = false;
    bool pointerDone = false;
    const std::uint64_t deadline = MonotonicClock::nowNanos() + nanosOf(options_.replyLimit);
    while (!(keymapDone && pointerDone)) {
        xcb_generic_error_t* error = nullptr;
        if (!keymapDone && xcb_poll_for_reply(connection, keymapRequest, &keymap, &error) != 0) {
            keymapDone = true;
            std::free(error);
            continue;
        }
        if (!pointerDone && xcb_poll_for_reply(connection, pointerRequest, &pointer, &error) != 0) {
            pointerDone = true;
            std::free(error);
            continue;
        }
        const std::uint64_t now = MonotonicClock::nowNanos();
        if (xcb_connection_has_error(connection) != 0 || now >= deadline) break;
        pollfd readable{xcb_get_file_descriptor(connection), POLLIN, 0};
        const auto millis = static_cast<int>((deadline - now + 999'999) / 1'000'000);
        ::poll(&readable, 1, millis);
    }
    // Replies that come after the limit are dropped when they arrive.
    if (!keymapDone) xcb_discard_reply(connection, keymapRequest);
    if (!pointerDone) xcb_discard_reply(connection, pointerRequest);

    std::optional<State> answer;
    if (keymap && pointer) {
        State state;
        const auto* keys = static_cast<const xcb_query_keymap_reply_t*>(keymap)->keys;
        for (int x = xKeyCodeOffset; x < 256; ++x)
            if ((keys[x / 8] >> (x % 8)) & 1) state.keys.set(static_cast<std::size_t>(x - xKeyCodeOffset));
        state.capsLock = (static_cast<const xcb_query_pointer_reply_t*>(pointer)->mask & XCB_MOD_MASK_LOCK) != 0;
        answer = state;
    }
    std::free(keymap);
    std::free(pointer);
    return answer;
}

} // namespace ravolet::platform

#include "Platform/Linux/Input/X11Keyboard.hpp"

#include <X11/Xauth.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
// xcb's XKB header is C and names two fields "explicit"; they are not used here.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "Platform/Linux/X11Connection.hpp"
#include "Platform/Thread.hpp"

namespace ravolet::platform {

namespace {

// X key codes are evdev codes + 8 under the evdev and libinput drivers.
constexpr int xKeyCodeOffset = 8;

// The modifier state XKB tells of: the effective modifiers and the held,
// latched and locked ones they are made of.
constexpr std::uint16_t modifierParts = XCB_XKB_STATE_PART_MODIFIER_STATE | XCB_XKB_STATE_PART_MODIFIER_BASE |
                                        XCB_XKB_STATE_PART_MODIFIER_LATCH | XCB_XKB_STATE_PART_MODIFIER_LOCK;

struct LocalDisplay {
    int socket = -1;
    int number = 0;
};

// A socket connected to the server of a display on this machine; none when
// the display is elsewhere or nothing listens there. Linux servers listen in
// the abstract namespace as well as at the path, and xcb looks there first.
std::optional<LocalDisplay> connectToLocalDisplay(const std::string& name) {
    char* host = nullptr;
    int number = 0;
    int screen = 0;
    if (xcb_parse_display(name.c_str(), &host, &number, &screen) == 0) return std::nullopt;
    const bool local = host[0] == '\0' || std::strcmp(host, "unix") == 0;
    std::free(host);
    if (!local) return std::nullopt;
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    for (const std::size_t skip : {std::size_t{1}, std::size_t{0}}) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return std::nullopt;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + skip, path.data(), path.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + skip + path.size());
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) return LocalDisplay{fd, number};
        ::close(fd);
    }
    return std::nullopt;
}

// The cookie xcb itself would send to a display on this machine: the user's
// Xauthority entry for this host (or any host) and that display.
Xauth* cookieFor(int display) {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string number = std::to_string(display);
    char mitMagicCookie[] = "MIT-MAGIC-COOKIE-1";
    char* names[] = {mitMagicCookie};
    const int lengths[] = {static_cast<int>(sizeof mitMagicCookie - 1)};
    std::lock_guard guard(xauthorityLock());
    return XauGetBestAuthByAddr(FamilyLocal, static_cast<unsigned>(std::strlen(host)), host,
                                static_cast<unsigned>(number.size()), number.c_str(), 1, names, lengths);
}

bool isStateNotify(const xcb_generic_event_t* event, std::uint8_t xkbEvent) {
    return (event->response_type & 0x7f) == xkbEvent && event->pad0 == XCB_XKB_STATE_NOTIFY;
}

// The keys down and the effective modifiers, asked together; none when the
// server did not answer.
std::optional<DesktopKeyboard::State> readState(xcb_connection_t* connection) {
    const auto keymapRequest = xcb_query_keymap(connection);
    const auto stateRequest = xcb_xkb_get_state(connection, XCB_XKB_ID_USE_CORE_KBD);
    xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(connection, keymapRequest, nullptr);
    xcb_xkb_get_state_reply_t* modifiers = xcb_xkb_get_state_reply(connection, stateRequest, nullptr);
    std::optional<DesktopKeyboard::State> state;
    if (keymap && modifiers) {
        state.emplace();
        for (int x = xKeyCodeOffset; x < 256; ++x)
            if ((keymap->keys[x / 8] >> (x % 8)) & 1) state->keys.set(static_cast<std::size_t>(x - xKeyCodeOffset));
        state->capsLock = (modifiers->mods & XCB_MOD_MASK_LOCK) != 0;
    }
    std::free(keymap);
    std::free(modifiers);
    return state;
}

} // namespace

struct X11Keyboard::Shared {
    Shared(std::string display, Options options) : display(std::move(display)), options(std::move(options)) {}

    const std::string display;
    const Options options;

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    // Our own descriptor of the socket of the connection being made or in
    // use, beside the one xcb owns: shutting it down ends whatever xcb waits
    // for on it, and it is never closed while someone may shut it down.
    int socket = -1;
    std::optional<State> state;

    std::mutex joining;
    Thread thread;

    void publish(std::optional<State> next) {
        std::lock_guard guard(lock);
        state = std::move(next);
    }

    // Waits `delay`; false once stopping.
    bool pause(std::chrono::milliseconds delay) {
        std::unique_lock guard(lock);
        wake.wait_for(guard, delay, [this] { return stopping; });
        return !stopping;
    }

    void run() {
        do {
            if (xcb_connection_t* connection = connect()) {
                follow(connection);
                xcb_disconnect(connection);
            }
            publish(std::nullopt);
            std::lock_guard guard(lock);
            if (socket >= 0) ::close(socket);
            socket = -1;
        } while (pause(options.reconnectDelay));
    }

    // A connection whose set-up the server answered within the time limit;
    // none otherwise.
    xcb_connection_t* connect() {
        const auto local = connectToLocalDisplay(display);
        if (!local) return nullptr;
        {
            std::lock_guard guard(lock);
            socket = local->socket;
            if (stopping) return nullptr;
        }
        const int given = ::fcntl(local->socket, F_DUPFD_CLOEXEC, 0);
        if (given < 0) return nullptr;
        Xauth* cookie = cookieFor(local->number);
        xcb_auth_info_t auth{};
        if (cookie) auth = {cookie->name_length, cookie->name, cookie->data_length, cookie->data};
        // The set-up is xcb's own blocking exchange: it runs beside this
        // thread, which gives up on it after the limit by shutting the socket
        // down under it.
        xcb_connection_t* made = nullptr;
        bool done = false;
        Thread handshake({"ai.ravolet.x11-connect", ThreadPriority::utility, 0}, [&] {
            xcb_connection_t* connection = xcb_connect_to_fd(given, cookie ? &auth : nullptr);
            std::lock_guard guard(lock);
            made = connection;
            done = true;
            wake.notify_all();
        });
        if (!handshake.started()) ::close(given);
        {
            std::unique_lock guard(lock);
            wake.wait_for(guard, options.connectLimit, [&] { return done || stopping || !handshake.started(); });
            if (!done) ::shutdown(socket, SHUT_RDWR);
        }
        handshake.join();
        if (cookie) XauDisposeAuth(cookie);
        if (!made) return nullptr;
        if (xcb_connection_has_error(made) != 0) {
            xcb_disconnect(made);
            return nullptr;
        }
        return made;
    }

    // Follows the keyboard until the connection ends.
    void follow(xcb_connection_t* connection) {
        const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection, &xcb_xkb_id);
        if (!xkb || !xkb->present) return;
        xcb_xkb_use_extension_reply_t* use = xcb_xkb_use_extension_reply(
            connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr);
        const bool supported = use && use->supported;
        std::free(use);
        if (!supported) return;
        xcb_xkb_select_events_details_t details{};
        details.affectState = modifierParts;
        details.stateDetails = modifierParts;
        xcb_xkb_select_events_aux(connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_EVENT_TYPE_STATE_NOTIFY, 0, 0, 0, 0,
                                  &details);
        // Told first, asked second: a change in between is not lost.
        auto now = readState(connection);
        while (now) {
            publish(now);
            xcb_generic_event_t* event = xcb_wait_for_event(connection);
            if (!event) return;
            // What came together is read once; the answer is newer than all of it.
            bool changed = false;
            do {
                changed = changed || isStateNotify(event, xkb->first_event);
                std::free(event);
            } while ((event = xcb_poll_for_queued_event(connection)));
            if (changed) now = readState(connection);
        }
    }

    void stop() {
        {
            std::lock_guard guard(lock);
            stopping = true;
            if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
        }
        wake.notify_all();
        std::lock_guard guard(joining);
        if (thread.joinable() && !thread.isCurrent()) thread.join();
    }
};

X11Keyboard::X11Keyboard(Options options) {
    const char* environment = std::getenv("DISPLAY");
    std::string display = !options.display.empty() ? options.display : environment ? environment : "";
    shared_ = std::make_shared<Shared>(std::move(display), std::move(options));
    if (shared_->display.empty()) return;
    Shared* raw = shared_.get();
    shared_->thread = Thread({"ai.ravolet.x11-keyboard", ThreadPriority::userInitiated, 0}, [raw] { raw->run(); });
    // The process's keyboard lives as long as the process: its thread ends
    // before static objects go.
    onFinishThreads([weak = std::weak_ptr<Shared>(shared_)] {
        if (const auto shared = weak.lock()) shared->stop();
    });
}

X11Keyboard::~X11Keyboard() { shared_->stop(); }

std::optional<DesktopKeyboard::State> X11Keyboard::state() {
    std::lock_guard guard(shared_->lock);
    return shared_->state;
}

} // namespace ravolet::platform

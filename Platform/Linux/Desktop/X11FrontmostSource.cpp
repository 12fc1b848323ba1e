#include "Platform/Linux/Desktop/X11FrontmostSource.hpp"

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "Platform/Linux/Desktop/FrontReport.hpp"
#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"
#include "Platform/Linux/X11Connection.hpp"

namespace ravolet::platform {

namespace {

struct Atoms {
    xcb_atom_t activeWindow = XCB_ATOM_NONE;
    xcb_atom_t clientList = XCB_ATOM_NONE;
    xcb_atom_t gtkApplicationID = XCB_ATOM_NONE;
    xcb_atom_t kdeDesktopFile = XCB_ATOM_NONE;
    xcb_atom_t pid = XCB_ATOM_NONE;
};

// A property's bytes (at most 64 KiB of them); empty when the window has none
// or is gone.
std::string propertyBytes(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    if (property == XCB_ATOM_NONE) return {};
    auto cookie = xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 16384);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    if (!reply) return {};
    // The length is counted in bytes, whatever the format.
    std::string bytes(static_cast<const char*>(xcb_get_property_value(reply)),
                      static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return bytes;
}

std::vector<xcb_window_t> windowList(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    const std::string bytes = propertyBytes(connection, window, property);
    std::vector<xcb_window_t> windows(bytes.size() / sizeof(xcb_window_t));
    std::copy_n(bytes.data(), windows.size() * sizeof(xcb_window_t), reinterpret_cast<char*>(windows.data()));
    return windows;
}

// A text property up to its first NUL.
std::string text(std::string bytes) {
    if (const auto nul = bytes.find('\0'); nul != std::string::npos) bytes.resize(nul);
    return bytes;
}

} // namespace

struct X11FrontmostSource::State {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    Atoms atoms;
    bool underWayland = false;
    std::unique_ptr<DescriptorWatcher> watcher;
    Subscription watch;
    FrontReport report;

    xcb_atom_t intern(std::string_view name) const {
        auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
        if (!reply) return XCB_ATOM_NONE;
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    }

    WindowClues clues(xcb_window_t window) const {
        WindowClues clues;
        for (const xcb_atom_t property : {atoms.gtkApplicationID, atoms.kdeDesktopFile})
            if (std::string id = text(propertyBytes(connection, window, property)); !id.empty())
                clues.declaredIDs.push_back(std::move(id));
        // WM_CLASS holds the instance, a NUL, the class and a NUL.
        const std::string wmClass = propertyBytes(connection, window, XCB_ATOM_WM_CLASS);
        const auto nul = wmClass.find('\0');
        const std::string instance = wmClass.substr(0, nul);
        const std::string windowClass = nul == std::string::npos ? std::string() : text(wmClass.substr(nul + 1));
        if (!windowClass.empty()) clues.classes.push_back(windowClass);
        if (!instance.empty() && instance != windowClass) clues.classes.push_back(instance);
        const std::string pid = propertyBytes(connection, window, atoms.pid);
        if (pid.size() == sizeof(std::uint32_t)) {
            std::uint32_t value = 0;
            std::copy_n(pid.data(), sizeof value, reinterpret_cast<char*>(&value));
            std::array<char, 4096> target{};
            const std::string link = "/proc/" + std::to_string(value) + "/exe";
            const ssize_t length = ::readlink(link.c_str(), target.data(), target.size() - 1);
            if (value != 0 && length > 0) clues.executable = std::string(target.data(), static_cast<std::size_t>(length));
        }
        return clues;
    }

    Front readFront() const {
        Front next;
        next.state = underWayland ? FrontmostTracking::State::x11ClientsOnly : FrontmostTracking::State::following;
        const auto active = windowList(connection, root, atoms.activeWindow);
        if (!active.empty() && active.front() != XCB_WINDOW_NONE) next.window = clues(active.front());
        return next;
    }

    std::vector<WindowClues> readWindows() const {
        std::vector<WindowClues> windows;
        for (const xcb_window_t window : windowList(connection, root, atoms.clientList)) windows.push_back(clues(window));
        return windows;
    }

    // Takes every event there is and looks again at what changed (all of it
    // with `everything`), until nothing more has changed. The looking is made
    // of round trips, and an event that comes in the middle of one is read
    // off the socket by xcb and kept in its queue, where a poll of the
    // socket never sees it: so the queue is drained again after each look.
    // On the watcher's thread, or at start before the watch begins.
    void service(bool everything = false) {
        bool front = everything, list = everything;
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                    front = front || (notify->window == root && notify->atom == atoms.activeWindow);
                    list = list || (notify->window == root && notify->atom == atoms.clientList);
                }
                std::free(event);
            }
            if (xcb_connection_has_error(connection)) return report.lose();
            if (!front && !list) return;
            std::optional<Front> next;
            std::optional<std::vector<WindowClues>> windows;
            if (front) next = readFront();
            if (list) windows = readWindows();
            // A reply that never came means the server went while it was asked.
            if (xcb_connection_has_error(connection)) return report.lose();
            if (next) report.setFront(std::move(*next));
            if (windows) report.setWindows(std::move(*windows));
            front = list = false;
        }
    }
};

X11FrontmostSource::X11FrontmostSource(std::optional<std::string> display, bool underWayland)
    : display_(std::move(display)), underWayland_(underWayland) {}

X11FrontmostSource::~X11FrontmostSource() { stop(); }

bool X11FrontmostSource::start(std::function<void()> changed) {
    if (state_) return true;
    auto state = std::make_shared<State>();
    state->underWayland = underWayland_;
    int screenNumber = 0;
    state->connection = connectToXServer(display_ ? display_->c_str() : nullptr, &screenNumber);
    if (xcb_connection_has_error(state->connection)) {
        xcb_disconnect(state->connection);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(state->connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(state->connection);
        return false;
    }
    state->root = screens.data->root;
    state->atoms = {state->intern("_NET_ACTIVE_WINDOW"), state->intern("_NET_CLIENT_LIST"),
                    state->intern("_GTK_APPLICATION_ID"), state->intern("_KDE_NET_WM_DESKTOP_FILE"),
                    state->intern("_NET_WM_PID")};
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(state->connection, state->root, XCB_CW_EVENT_MASK, &mask);
    // Watching first, reading second: a change in between is not lost.
    state->service(true);
    state->watcher = DescriptorWatcher::make({"ai.ravolet.x11", ThreadPriority::utility, 0});
    if (!state->watcher || xcb_connection_has_error(state->connection)) {
        state->watcher.reset();
        xcb_disconnect(state->connection);
        return false;
    }
    state->report.onChange(std::move(changed));
    state->watch = state->watcher->watch(xcb_get_file_descriptor(state->connection), [raw = state.get()](short events) {
        if (events & (POLLHUP | POLLERR | POLLNVAL)) return raw->report.lose();
        raw->service();
    });
    state_ = std::move(state);
    return true;
}

void X11FrontmostSource::stop() {
    auto state = std::move(state_);
    if (!state) return;
    // Once the watch has ended no handler runs, so the connection may go.
    state->watch.cancel();
    state->watcher.reset();
    xcb_disconnect(state->connection);
}

FrontmostSource::Front X11FrontmostSource::front() const {
    if (!state_) return {FrontmostTracking::State::cannotTell, std::nullopt};
    return state_->report.front();
}

std::vector<WindowClues> X11FrontmostSource::windows() const {
    // As last read on the watcher's thread: a round trip here, on the
    // caller's, would take events off the socket that the watcher then
    // never hears of.
    return state_ ? state_->report.windows() : std::vector<WindowClues>{};
}

} // namespace ravolet::platform

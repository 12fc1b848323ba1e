#pragma once

#include <xcb/xcb.h>

#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/desktop/DesktopTestSupport.hpp"
#include "tests/platform/FolderTree.hpp"

namespace ravolet::testing {

// The keys of the X server's standard map that the tests press.
inline constexpr xcb_keycode_t tabKey = 23;
inline constexpr xcb_keycode_t qKey = 24;
inline constexpr xcb_keycode_t spaceKey = 65;
inline constexpr xcb_keycode_t returnKey = 36;
inline constexpr xcb_keycode_t upKey = 111;
inline constexpr xcb_keycode_t rightKey = 114;
inline constexpr xcb_keycode_t escapeKey = 9;

// The keys that take the settings window (with no tray) from its tab strip,
// past its Quit button, the page and its profile picker, to the Scroll
// page's first switch ("Smooth the scroll wheel") and flip it: four Tabs and
// the space bar.
inline const std::vector<xcb_keycode_t> flipSmoothScrolling = [] {
    std::vector<xcb_keycode_t> keys(4, tabKey);
    keys.push_back(spaceKey);
    return keys;
}();

// The same for the real program on a machine whose input devices it may not
// use (no /dev/uinput here): one Tab more, past the "Finish Setting Up…"
// button of the permission banner above the page.
inline const std::vector<xcb_keycode_t> flipSmoothScrollingBelowTheBanner = [] {
    std::vector<xcb_keycode_t> keys(5, tabKey);
    keys.push_back(spaceKey);
    return keys;
}();

// How long a copy takes from its start to its window on an unloaded machine,
// with a margin: the measure of a machine's pace.
inline constexpr std::chrono::duration<double> expectedStart = std::chrono::milliseconds(500);

// Pauses that follow the machine's pace, measured by how long the program took
// to show its window: on a loaded machine (the whole suite in parallel) it
// takes as much longer to take keys and handle them.
inline auto pacedBy(std::chrono::steady_clock::duration startTook) {
    const double pace = std::max(1.0, std::chrono::duration<double>(startTook) / expectedStart);
    return [pace](std::chrono::milliseconds pause) {
        std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::milliseconds>(pause * pace));
    };
}

using platform::testing::Child;
using platform::testing::FolderTree;
using platform::testing::waitUntil;

// A file's bytes; empty for one that cannot be read.
inline std::string contents(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

// What a user sees of an X server and does there: the windows shown with
// their titles, an icon docked in a tray, the screen as a picture, keys
// pressed in a window and its close button.
class XScreen {
public:
    explicit XScreen(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        root_ = screen->root;
        width_ = screen->width_in_pixels;
        height_ = screen->height_in_pixels;
    }
    ~XScreen() { xcb_disconnect(connection_); }
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    // The titles of the top-level windows on screen now.
    std::vector<std::string> shownTitles() {
        std::vector<std::string> titles;
        for (xcb_window_t window : children(root_))
            if (viewable(window)) titles.push_back(title(window));
        return titles;
    }
    bool shows(const std::string& title) { return shownWindow(title).has_value(); }
    // The top-level window on screen with this title, or whose title ends
    // with `suffix` when that is given.
    std::optional<xcb_window_t> shownWindow(std::string_view title, bool suffix = false) {
        for (xcb_window_t window : children(root_)) {
            if (!viewable(window)) continue;
            const std::string shown = this->title(window);
            if (suffix ? shown.ends_with(title) : shown == title) return window;
        }
        return std::nullopt;
    }
    // Presses and releases each key with the modifiers of `state` held, as
    // the keyboard would.
    void press(xcb_window_t window, const std::vector<xcb_keycode_t>& keys, std::uint16_t state = 0) {
        for (const xcb_keycode_t key : keys) {
            for (const std::uint8_t type : {XCB_KEY_PRESS, XCB_KEY_RELEASE}) {
                xcb_key_press_event_t event{};
                event.response_type = type;
                event.detail = key;
                event.root = root_;
                event.event = window;
                event.state = state;
                event.same_screen = 1;
                xcb_send_event(connection_, 1, window, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE,
                               reinterpret_cast<const char*>(&event));
            }
        }
        xcb_flush(connection_);
    }
    // Returns once the server has handled every request sent so far, and
    // sent its clients what those requests had for them.
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }
    // Gives the window the keyboard focus, as a window manager does when the
    // user clicks it: the program makes it its active window.
    void focus(xcb_window_t window) {
        xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        xcb_flush(connection_);
    }
    // A window of the program with this WM_CLASS instance is docked inside
    // another top-level window (a tray's), not on the screen itself.
    bool docked(std::string_view instance) { return dockedWindow(instance).has_value(); }
    std::optional<xcb_window_t> dockedWindow(std::string_view instance) {
        for (xcb_window_t top : children(root_))
            if (const auto window = holder(top, instance)) return window;
        return std::nullopt;
    }
    // A window's width in pixels; 0 for one that has gone.
    std::uint16_t width(xcb_window_t window) {
        auto* reply = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        const std::uint16_t width = reply ? reply->width : 0;
        std::free(reply);
        return width;
    }
    // Presses and releases the first button at a point of the window.
    void click(xcb_window_t window, std::int16_t x, std::int16_t y) {
        for (const std::uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
            xcb_button_press_event_t event{};
            event.response_type = type;
            event.detail = 1;
            event.root = root_;
            event.event = window;
            event.event_x = x;
            event.event_y = y;
            event.root_x = x;
            event.root_y = y;
            event.state = type == XCB_BUTTON_RELEASE ? XCB_BUTTON_MASK_1 : 0;
            event.same_screen = 1;
            xcb_send_event(connection_, 1, window, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE,
                           reinterpret_cast<const char*>(&event));
        }
        xcb_flush(connection_);
    }
    // Asks the window to close, as its title bar's close button does.
    void close(xcb_window_t window) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }
    // The same for the shown window with this title; false when there is none.
    bool close(std::string_view title) {
        const auto window = shownWindow(title);
        if (window) close(*window);
        return window.has_value();
    }
    // The whole screen as it shows now; null when it cannot be read.
    QImage image() {
        auto* reply = xcb_get_image_reply(
            connection_, xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, 0, 0, width_, height_, ~0u),
            nullptr);
        if (!reply) return {};
        const QImage shot = QImage(xcb_get_image_data(reply), width_, height_, QImage::Format_RGB32).copy();
        std::free(reply);
        return shot;
    }
    // The whole screen as a PNG in the build's screenshot folder.
    void save(const std::string& name) {
        const QImage shot = image();
        if (shot.isNull()) return;
        std::filesystem::create_directories(RAVOLET_SCREENSHOT_DIR);
        shot.save(QString::fromStdString(std::string(RAVOLET_SCREENSHOT_DIR) + "/" + name + ".png"));
    }

private:
    xcb_atom_t atom(std::string_view name) {
        auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, name.size(), name.data()), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return atom;
    }
    std::vector<xcb_window_t> children(xcb_window_t window) {
        auto* reply = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
        if (!reply) return {};
        const xcb_window_t* first = xcb_query_tree_children(reply);
        std::vector<xcb_window_t> list(first, first + xcb_query_tree_children_length(reply));
        std::free(reply);
        return list;
    }
    bool viewable(xcb_window_t window) {
        auto* reply = xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool shown = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(reply);
        return shown;
    }
    std::string property(xcb_window_t window, xcb_atom_t name) {
        auto* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
        if (!reply) return {};
        const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
        std::string text(data, data + xcb_get_property_value_length(reply));
        std::free(reply);
        return text;
    }
    std::string title(xcb_window_t window) {
        std::string name = property(window, atom("_NET_WM_NAME"));
        return name.empty() ? property(window, XCB_ATOM_WM_NAME) : name;
    }
    // The window below `window` (not itself) with that WM_CLASS instance.
    std::optional<xcb_window_t> holder(xcb_window_t window, std::string_view instance) {
        for (xcb_window_t child : children(window)) {
            const std::string wmClass = property(child, XCB_ATOM_WM_CLASS);
            if (wmClass.substr(0, wmClass.find('\0')) == instance) return child;
            if (const auto below = holder(child, instance)) return below;
        }
        return std::nullopt;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    std::uint16_t width_ = 0;
    std::uint16_t height_ = 0;
};

// "a, b, c": titles and the like, for a failure's message.
inline std::string joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& text : texts) all += (all.empty() ? "" : ", ") + text;
    return all;
}

// A home of its own where Ravolet has been set up before (no set-up window
// at its start), with the settings, the runtime folder and the logs.
struct ProgramHome {
    explicit ProgramHome(const std::string& name) : tree(name) {
        tree.write("config/ravolet/preferences.json", "{\"onboarding.completed\": true}\n");
        std::filesystem::create_directories(tree.path / "runtime");
        std::filesystem::permissions(tree.path / "runtime", std::filesystem::perms::owner_all);
    }
    // The program's environment on `display`, beside what the test adds.
    std::vector<std::pair<std::string, std::string>> environment(const std::string& display) const {
        return {{"DISPLAY", display},
                {"QT_QPA_PLATFORM", "xcb"},
                {"HOME", tree.path.string()},
                {"XDG_CONFIG_HOME", (tree.path / "config").string()},
                {"XDG_RUNTIME_DIR", (tree.path / "runtime").string()}};
    }
    // `ravolet --simulated-mouse` and the extra arguments; its output in <name>.log.
    Child start(const std::string& display, const std::string& log, std::vector<std::string> extra = {},
                std::vector<std::pair<std::string, std::string>> more = {}) const {
        extra.insert(extra.begin(), "--simulated-mouse");
        return startProgram(display, log, std::move(extra), std::move(more));
    }
    // `ravolet` itself, as a user runs it: on the machine's own devices
    // (none here), with its pointer guard.
    Child startProgram(const std::string& display, const std::string& log, std::vector<std::string> extra = {},
                       std::vector<std::pair<std::string, std::string>> more = {}) const {
        std::vector<std::string> arguments{RAVOLET_PROGRAM};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        auto environment = this->environment(display);
        // What the test adds takes the place of the same variable's standard value.
        for (auto& [key, value] : more) {
            const auto same = std::ranges::find(environment, key, &std::pair<std::string, std::string>::first);
            if (same != environment.end()) {
                same->second = std::move(value);
            } else {
                environment.emplace_back(std::move(key), std::move(value));
            }
        }
        return Child({.arguments = arguments, .environment = environment, .unset = {"WAYLAND_DISPLAY"}, .log = logPath(log)});
    }
    std::filesystem::path logPath(const std::string& log) const { return tree.path / (log + ".log"); }
    std::string read(const std::string& log) const {
        std::ifstream stream(logPath(log));
        return std::string((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    }
    bool waitForLog(const std::string& log, const std::string& text) const {
        return waitUntil([&] { return read(log).find(text) != std::string::npos; });
    }

    FolderTree tree;
};

} // namespace ravolet::testing

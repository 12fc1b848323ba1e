#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Platform/Linux/DesktopEntryCatalogue.hpp"

namespace ravolet::platform {

// What a window says about the application that made it, as each source of
// the front window learns it.
struct WindowClues {
    // Desktop-file identifiers the window (or the compositor) names for its
    // application, most trusted first: X11's _GTK_APPLICATION_ID and
    // _KDE_NET_WM_DESKTOP_FILE, KWin's desktop file name, GNOME Shell's
    // application id. With or without ".desktop", perhaps a path.
    std::vector<std::string> declaredIDs;
    // Window classes: X11's WM_CLASS class and instance, a Wayland app_id,
    // KWin's resource class.
    std::vector<std::string> classes;
    // The program that made the window (the executable of X11's _NET_WM_PID).
    std::optional<std::string> executable;

    friend bool operator==(const WindowClues&, const WindowClues&) = default;
};

// The application a window belongs to, as the desktop entries know it.
struct WindowApplication {
    // The desktop-file identifier of an installed entry; none when no entry
    // matches the window.
    std::optional<std::string> bundleID;
    // The entry's name; without an entry, the window's class (or what else
    // it gave), so that the user sees what is in front.
    std::string name;

    friend bool operator==(const WindowApplication&, const WindowApplication&) = default;
};

// Maps what a window says to the desktop-file identifier of an installed
// entry, the same way for every source: first a declared identifier that
// names an entry (exactly, else ignoring case); then a class matched against
// the entries' StartupWMClass, then against their identifiers, ignoring case
// (KWin lower-cases X11 classes); then the executable against the program of
// the entries' Exec. GNOME Shell's "window:N" names no entry. Callable from
// any thread; the entries are read again whenever the applications folders'
// listings change.
class WindowIdentifier {
public:
    explicit WindowIdentifier(std::shared_ptr<const DesktopEntryCatalogue> catalogue);

    WindowApplication identify(const WindowClues& clues) const;
    // Several at once, reading the entries once.
    std::vector<WindowApplication> identify(const std::vector<WindowClues>& windows) const;

    // A declared identifier as a desktop-file identifier: its last path part
    // without ".desktop"; empty for GNOME Shell's "window:N".
    static std::string desktopID(std::string_view declared);

private:
    struct Index;
    std::shared_ptr<const Index> index() const;
    static WindowApplication identify(const Index& index, const WindowClues& clues);

    const std::shared_ptr<const DesktopEntryCatalogue> catalogue_;
    mutable std::mutex lock_;
    mutable std::shared_ptr<const Index> index_;
};

} // namespace ravolet::platform

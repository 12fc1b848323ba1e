#include "Platform/Linux/Desktop/DesktopPointerSettings.hpp"

#include <cstdlib>
#include <string_view>

#include "Platform/Linux/Desktop/GnomePointerSettings.hpp"
#include "Platform/Linux/Desktop/KWinPointerSettings.hpp"
#include "Platform/Linux/Desktop/SwayPointerSettings.hpp"
#include "Platform/Linux/Desktop/X11PointerSettings.hpp"

namespace ravolet::platform {

namespace {

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Whether the colon-separated XDG_CURRENT_DESKTOP names `desktop`.
bool currentDesktopIs(std::string_view desktop) {
    std::string_view list = environment("XDG_CURRENT_DESKTOP");
    while (!list.empty()) {
        const auto colon = list.find(':');
        if (list.substr(0, colon) == desktop) return true;
        if (colon == std::string_view::npos) break;
        list.remove_prefix(colon + 1);
    }
    return false;
}

} // namespace

Subscription DesktopPointerSettings::observePointersAdded(std::function<void()>) { return {}; }
Subscription DesktopPointerSettings::observeSettingsChanged(std::function<void()>) { return {}; }

std::unique_ptr<DesktopPointerSettings> DesktopPointerSettings::forThisSession() {
    // GNOME first: on its X11 session too, its compositor applies GNOME's
    // settings to every device it sees, over whatever the X server holds.
    if (currentDesktopIs("GNOME")) {
        if (auto gnome = GnomePointerSettings::make()) return gnome;
    }
    if (!environment("SWAYSOCK").empty()) {
        if (auto sway = SwayPointerSettings::connect()) return sway;
    }
    const bool wayland = !environment("WAYLAND_DISPLAY").empty();
    if (wayland && currentDesktopIs("KDE")) {
        if (auto kwin = KWinPointerSettings::connect()) return kwin;
    }
    // Under a Wayland compositor the X server is Xwayland, whose devices are
    // not the ones the compositor reads.
    if (!wayland && !environment("DISPLAY").empty()) {
        if (auto x11 = X11PointerSettings::connect()) return x11;
    }
    return std::make_unique<NoDesktopPointerSettings>();
}

} // namespace ravolet::platform

#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/Linux/Desktop/FrontmostSource.hpp"

namespace ravolet::platform {

// The front window from the X server: the window the root's
// _NET_ACTIVE_WINDOW names, and the windows of _NET_CLIENT_LIST, both
// followed through PropertyNotify on the root (no polling) on a thread of the
// source's own, the only one that speaks to the server. A window's clues are its
// _GTK_APPLICATION_ID, _KDE_NET_WM_DESKTOP_FILE, WM_CLASS (class, then
// instance) and the executable of its _NET_WM_PID. When the X server goes
// away the source cannot tell any more. Under Wayland it sees only the X
// clients, and says so.
class X11FrontmostSource final : public FrontmostSource {
public:
    // `display` as DISPLAY names it; none: the DISPLAY of the environment.
    explicit X11FrontmostSource(std::optional<std::string> display = std::nullopt, bool underWayland = false);
    ~X11FrontmostSource() override;

    FrontmostTracking::Source kind() const override { return FrontmostTracking::Source::x11; }
    bool start(std::function<void()> changed) override;
    void stop() override;
    Front front() const override;
    std::vector<WindowClues> windows() const override;

    struct State;

private:
    const std::optional<std::string> display_;
    const bool underWayland_;
    std::shared_ptr<State> state_;
};

} // namespace ravolet::platform

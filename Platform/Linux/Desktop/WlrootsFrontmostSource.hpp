#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/Linux/Desktop/FrontmostSource.hpp"

namespace ravolet::platform {

// The front window from a wlroots compositor (sway, labwc, river, Hyprland,
// ...): its zwlr_foreign_toplevel_manager_v1 lists every toplevel with its
// app_id and state; the one whose state holds "activated" is in front. The
// app_id is a Wayland window's own (by custom its desktop-file identifier) or,
// for an X client, its WM_CLASS class. When the compositor goes away the
// source cannot tell any more.
class WlrootsFrontmostSource final : public FrontmostSource {
public:
    // `display` as WAYLAND_DISPLAY names it; none: the environment's.
    explicit WlrootsFrontmostSource(std::optional<std::string> display = std::nullopt);
    ~WlrootsFrontmostSource() override;

    FrontmostTracking::Source kind() const override { return FrontmostTracking::Source::wlroots; }
    // False when there is no compositor or it does not offer the protocol.
    bool start(std::function<void()> changed) override;
    void stop() override;
    Front front() const override;
    std::vector<WindowClues> windows() const override;

    struct State;

private:
    const std::optional<std::string> display_;
    std::shared_ptr<State> state_;
};

} // namespace ravolet::platform

#pragma once

#include <memory>
#include <optional>

#include "Platform/Displays.hpp"
#include "Platform/EventSource.hpp"
#include "Platform/EventSystem.hpp"
#include "RavoletEngine/EventPath/RouterTargets.hpp"

namespace ravolet {

// Moves the on-screen cursor by whole pixels with a cursor warp, keeping the
// target on a display. Used by the router when the program positions the
// cursor itself. Called from the event-tap thread only; no mutable state.
class CGPointerCursor final : public PointerCursorMoving {
public:
    // How many displays are listed when the target has left every screen.
    static constexpr std::uint32_t maxListedDisplays = 32;

    // Makes an event source over the session's combined state with no
    // suppression of local events after a warp; without one, move() answers none.
    CGPointerCursor(std::shared_ptr<platform::EventSystem> events, std::shared_ptr<platform::Displays> displays);

    // The cursor's new position, or none when it has no source, cannot read the
    // cursor, finds no display or the warp fails.
    std::optional<platform::Point> move(std::int64_t dx, std::int64_t dy) override;

    // The point unchanged when a display contains it; otherwise the point
    // clamped onto the nearest display (the earlier listed one on a tie); none
    // without any usable display.
    static std::optional<platform::Point> placeOnDisplay(const platform::Displays& displays, platform::Point target);

private:
    const std::shared_ptr<platform::EventSystem> events_;
    const std::shared_ptr<platform::Displays> displays_;
    const std::shared_ptr<platform::EventSource> source_;
};

} // namespace ravolet

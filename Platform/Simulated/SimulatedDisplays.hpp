#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "Platform/Displays.hpp"

namespace ravolet::platform {

// Displays that a test lays out. Displays are listed in the order they were
// added (the first one is the main display); the cursor starts at (0, 0). Any
// of the three system calls can be made to fail with a chosen error.
class SimulatedDisplays final : public Displays {
public:
    struct Display {
        DisplayID id = 0;
        Rect bounds;
        bool isActive = true;
    };

    SimulatedDisplays() = default;

    // Adds a display (or replaces the one with that id, keeping its place).
    void addDisplay(DisplayID id, Rect bounds, bool isActive = true);
    void removeDisplay(DisplayID id);

    void setCursorLocation(Point point);
    Point cursorLocation() const;
    // Every point the cursor was warped to, oldest first.
    std::vector<Point> warps() const;
    // Called after each successful warp with the new position, outside the lock.
    void setWarpObserver(std::function<void(Point)> observer);

    // An error makes the call fail until it is cleared with std::nullopt.
    void failDisplaysWithPoint(std::optional<CGError> error);
    void failActiveDisplays(std::optional<CGError> error);
    void failWarp(std::optional<CGError> error);

    std::expected<std::vector<DisplayID>, CGError> displaysWithPoint(Point point, std::uint32_t maxDisplays) const override;
    std::expected<std::vector<DisplayID>, CGError> activeDisplays(std::uint32_t maxDisplays) const override;
    Rect bounds(DisplayID display) const override;
    CGError warpCursor(Point point) override;

private:
    mutable std::mutex lock_;
    std::vector<Display> displays_;
    Point cursor_;
    std::vector<Point> warps_;
    std::function<void(Point)> warpObserver_;
    std::optional<CGError> displaysWithPointError_;
    std::optional<CGError> activeDisplaysError_;
    std::optional<CGError> warpError_;
};

} // namespace ravolet::platform

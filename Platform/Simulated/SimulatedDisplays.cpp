#include "Platform/Simulated/SimulatedDisplays.hpp"

#include <algorithm>

namespace ravolet::platform {

void SimulatedDisplays::addDisplay(DisplayID id, Rect bounds, bool isActive) {
    std::lock_guard guard(lock_);
    const auto it = std::ranges::find(displays_, id, &Display::id);
    if (it != displays_.end()) {
        *it = Display{id, bounds, isActive};
    } else {
        displays_.push_back(Display{id, bounds, isActive});
    }
}

void SimulatedDisplays::removeDisplay(DisplayID id) {
    std::lock_guard guard(lock_);
    std::erase_if(displays_, [id](const Display& d) { return d.id == id; });
}

void SimulatedDisplays::setCursorLocation(Point point) {
    std::lock_guard guard(lock_);
    cursor_ = point;
}

Point SimulatedDisplays::cursorLocation() const {
    std::lock_guard guard(lock_);
    return cursor_;
}

std::vector<Point> SimulatedDisplays::warps() const {
    std::lock_guard guard(lock_);
    return warps_;
}

void SimulatedDisplays::setWarpObserver(std::function<void(Point)> observer) {
    std::lock_guard guard(lock_);
    warpObserver_ = std::move(observer);
}

void SimulatedDisplays::failDisplaysWithPoint(std::optional<CGError> error) {
    std::lock_guard guard(lock_);
    displaysWithPointError_ = error;
}

void SimulatedDisplays::failActiveDisplays(std::optional<CGError> error) {
    std::lock_guard guard(lock_);
    activeDisplaysError_ = error;
}

void SimulatedDisplays::failWarp(std::optional<CGError> error) {
    std::lock_guard guard(lock_);
    warpError_ = error;
}

std::expected<std::vector<DisplayID>, CGError> SimulatedDisplays::displaysWithPoint(Point point, std::uint32_t maxDisplays) const {
    std::lock_guard guard(lock_);
    if (displaysWithPointError_) return std::unexpected(*displaysWithPointError_);
    std::vector<DisplayID> found;
    for (const auto& display : displays_) {
        if (found.size() >= maxDisplays) break;
        if (display.isActive && display.bounds.contains(point)) found.push_back(display.id);
    }
    return found;
}

std::expected<std::vector<DisplayID>, CGError> SimulatedDisplays::activeDisplays(std::uint32_t maxDisplays) const {
    std::lock_guard guard(lock_);
    if (activeDisplaysError_) return std::unexpected(*activeDisplaysError_);
    std::vector<DisplayID> found;
    for (const auto& display : displays_) {
        if (found.size() >= maxDisplays) break;
        if (display.isActive) found.push_back(display.id);
    }
    return found;
}

Rect SimulatedDisplays::bounds(DisplayID display) const {
    std::lock_guard guard(lock_);
    const auto it = std::ranges::find(displays_, display, &Display::id);
    return it == displays_.end() ? Rect{} : it->bounds;
}

CGError SimulatedDisplays::warpCursor(Point point) {
    std::function<void(Point)> observer;
    {
        std::lock_guard guard(lock_);
        if (warpError_) return *warpError_;
        cursor_ = point;
        warps_.push_back(point);
        observer = warpObserver_;
    }
    if (observer) observer(point);
    return CGError::success;
}

} // namespace ravolet::platform

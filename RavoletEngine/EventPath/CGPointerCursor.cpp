#include "RavoletEngine/EventPath/CGPointerCursor.hpp"

#include <algorithm>
#include <limits>

namespace ravolet {

namespace {

std::shared_ptr<platform::EventSource> makeCursorSource(platform::EventSystem& events) {
    auto source = events.createSource(platform::EventSourceStateID::combinedSessionState);
    // Local mouse motion must not be held back after our own warps.
    if (source) source->setLocalEventsSuppressionInterval(0);
    return source;
}

} // namespace

CGPointerCursor::CGPointerCursor(std::shared_ptr<platform::EventSystem> events, std::shared_ptr<platform::Displays> displays)
    : events_(std::move(events)), displays_(std::move(displays)), source_(makeCursorSource(*events_)) {}

std::optional<platform::Point> CGPointerCursor::move(std::int64_t dx, std::int64_t dy) {
    if (!source_) return std::nullopt;
    const auto probe = events_->createEvent(nullptr);
    if (!probe) return std::nullopt;
    const auto position = probe->location();
    const platform::Point target{position.x + static_cast<double>(dx), position.y + static_cast<double>(dy)};
    const auto placed = placeOnDisplay(*displays_, target);
    if (!placed) return std::nullopt;
    if (displays_->warpCursor(*placed) != platform::CGError::success) return std::nullopt;
    return placed;
}

std::optional<platform::Point> CGPointerCursor::placeOnDisplay(const platform::Displays& displays, platform::Point target) {
    if (const auto containing = displays.displaysWithPoint(target, 1); containing && !containing->empty()) return target;

    const auto active = displays.activeDisplays(maxListedDisplays);
    if (!active || active->empty()) return std::nullopt;

    std::optional<platform::Point> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const auto display : *active) {
        const auto bounds = displays.bounds(display);
        if (bounds.isEmpty()) continue;
        const platform::Point clamped{std::min(std::max(target.x, bounds.minX()), bounds.maxX() - 1),
                                      std::min(std::max(target.y, bounds.minY()), bounds.maxY() - 1)};
        const double ddx = target.x - clamped.x;
        const double ddy = target.y - clamped.y;
        const double distance = ddx * ddx + ddy * ddy;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = clamped;
        }
    }
    return best;
}

} // namespace ravolet

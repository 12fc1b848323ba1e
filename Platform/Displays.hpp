#pragma once

#include <cstdint>
#include <expected>
#include <ostream>
#include <string_view>
#include <vector>

namespace ravolet::platform {

// A point in global display coordinates: the origin is the top-left corner of
// the main display, y grows downwards, units are points.
struct Point {
    double x = 0;
    double y = 0;
    friend constexpr bool operator==(const Point&, const Point&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Point& p) { return os << '(' << p.x << ", " << p.y << ')'; }
};

// A rectangle in global display coordinates. A rectangle with a width or a
// height of 0 or less is empty.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    constexpr double minX() const { return width < 0 ? x + width : x; }
    constexpr double maxX() const { return width < 0 ? x : x + width; }
    constexpr double minY() const { return height < 0 ? y + height : y; }
    constexpr double maxY() const { return height < 0 ? y : y + height; }
    constexpr bool isEmpty() const { return !(width > 0) || !(height > 0); }
    // Half-open on the far edges: a display does not contain its maxX or maxY.
    constexpr bool contains(Point p) const {
        return !isEmpty() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// The display identifier the window server hands out (CGDirectDisplayID).
using DisplayID = std::uint32_t;

// Core Graphics error codes, with the host's numbers: callers compare them.
enum class CGError : std::int32_t {
    success = 0,
    failure = 1000,
    illegalArgument = 1001,
    invalidConnection = 1002,
    invalidContext = 1003,
    cannotComplete = 1004,
    notImplemented = 1006,
    rangeCheck = 1007,
    typeCheck = 1008,
    invalidOperation = 1010,
    noneAvailable = 1011,
};

// "kCGErrorFailure" and so on; "kCGErrorUnknown" for a number the host does not define.
std::string_view cgErrorName(CGError error);
std::ostream& operator<<(std::ostream& os, CGError error);

// The displays of the machine and the cursor on them.
class Displays {
public:
    virtual ~Displays() = default;

    // Up to maxDisplays displays whose bounds contain the point, in the
    // system's order (CGGetDisplaysWithPoint).
    virtual std::expected<std::vector<DisplayID>, CGError> displaysWithPoint(Point point, std::uint32_t maxDisplays) const = 0;
    // Up to maxDisplays active displays, in the system's order (CGGetActiveDisplayList).
    virtual std::expected<std::vector<DisplayID>, CGError> activeDisplays(std::uint32_t maxDisplays) const = 0;
    // The display's bounds; an empty rectangle for a display the system does not know (CGDisplayBounds).
    virtual Rect bounds(DisplayID display) const = 0;
    // Moves the cursor to the point without posting a motion event (CGWarpMouseCursorPosition).
    virtual CGError warpCursor(Point point) = 0;
};

} // namespace ravolet::platform

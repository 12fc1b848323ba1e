#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string_view>

#include "Support/ValueSupport.hpp"

namespace ravolet {

struct ScrollInput;
struct ButtonEvent;
struct PointerMotion;

namespace platform {
struct Point;
}

// What the scroll pipeline answers for one wheel detent.
enum class ScrollDisposition { passThrough, suppress };

// What the button pipeline answers for one button press or release.
enum class ButtonDisposition { passThrough, suppress };

// Whether the pointer pipeline leaves a motion event alone or replaces its motion.
enum class PointerDisposition { passThrough, transformed };

constexpr std::string_view toString(ScrollDisposition d) { return d == ScrollDisposition::passThrough ? "passThrough" : "suppress"; }
constexpr std::string_view toString(ButtonDisposition d) { return d == ButtonDisposition::passThrough ? "passThrough" : "suppress"; }
constexpr std::string_view toString(PointerDisposition d) { return d == PointerDisposition::passThrough ? "passThrough" : "transformed"; }
inline std::ostream& operator<<(std::ostream& os, ScrollDisposition d) { return os << toString(d); }
inline std::ostream& operator<<(std::ostream& os, ButtonDisposition d) { return os << toString(d); }
inline std::ostream& operator<<(std::ostream& os, PointerDisposition d) { return os << toString(d); }

// The pointer pipeline's answer for one motion sample: leave the event alone,
// or move by the whole pixels dx, dy instead.
struct PointerOutcome {
    PointerDisposition disposition = PointerDisposition::passThrough;
    std::int64_t dx = 0;
    std::int64_t dy = 0;

    static const PointerOutcome passThrough;

    friend constexpr bool operator==(const PointerOutcome&, const PointerOutcome&) = default;
    friend std::ostream& operator<<(std::ostream& os, const PointerOutcome& o) {
        return os << "PointerOutcome(" << o.disposition << ", " << o.dx << ", " << o.dy << ')';
    }
};

inline constexpr PointerOutcome PointerOutcome::passThrough{PointerDisposition::passThrough, 0, 0};

// The calls the input router makes on the pipelines it hands target events to.
// Every call comes on the event-tap thread, except reset(), which may come from
// any thread.

class ScrollTarget {
public:
    virtual ~ScrollTarget() = default;
    // One wheel detent of the target mouse.
    virtual ScrollDisposition handle(const ScrollInput& input) = 0;
    // Back to idle: no glide in flight, open gestures closed.
    virtual void reset() = 0;
};

class ButtonTarget {
public:
    virtual ~ButtonTarget() = default;
    // One press or release of the target mouse.
    virtual ButtonDisposition handle(const ButtonEvent& event) = 0;
    // Releases everything the bindings hold.
    virtual void reset() = 0;
};

class PointerTarget {
public:
    virtual ~PointerTarget() = default;
    // Whether pointer handling is switched on; read before the motion is read.
    virtual bool isEnabled() const = 0;
    // Whether transformed motion also moves the event's location.
    virtual bool repositionsCursor() const = 0;
    // One motion sample of the target mouse.
    virtual PointerOutcome handle(const PointerMotion& motion) = 0;
    // Drops the sub-pixel carry and the sample history.
    virtual void reset() = 0;
};

// Moves the on-screen cursor by a whole-pixel offset; gives the new position in
// global display coordinates, or none when the cursor could not be moved.
class PointerCursorMoving {
public:
    virtual ~PointerCursorMoving() = default;
    virtual std::optional<platform::Point> move(std::int64_t dx, std::int64_t dy) = 0;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerOutcome> {
    std::size_t operator()(const ravolet::PointerOutcome& o) const noexcept {
        return ravolet::hashFields(o.disposition, o.dx, o.dy);
    }
};

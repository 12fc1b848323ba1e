#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <ostream>
#include <span>
#include <vector>

#include "Platform/Displays.hpp"
#include "Platform/EventSource.hpp"

namespace ravolet::platform {

// Event types, with the host's numbers: masks and tap callbacks use them.
using EventType = std::uint32_t;

namespace EventTypes {
inline constexpr EventType null = 0;
inline constexpr EventType leftMouseDown = 1;
inline constexpr EventType leftMouseUp = 2;
inline constexpr EventType rightMouseDown = 3;
inline constexpr EventType rightMouseUp = 4;
inline constexpr EventType mouseMoved = 5;
inline constexpr EventType leftMouseDragged = 6;
inline constexpr EventType rightMouseDragged = 7;
inline constexpr EventType keyDown = 10;
inline constexpr EventType keyUp = 11;
inline constexpr EventType flagsChanged = 12;
inline constexpr EventType scrollWheel = 22;
inline constexpr EventType tabletPointer = 23;
inline constexpr EventType tabletProximity = 24;
inline constexpr EventType otherMouseDown = 25;
inline constexpr EventType otherMouseUp = 26;
inline constexpr EventType otherMouseDragged = 27;
// Sent to a tap's callback (never to the rest of the system) when the system
// has switched the tap off.
inline constexpr EventType tapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr EventType tapDisabledByUserInput = 0xFFFFFFFF;
} // namespace EventTypes

// Event field numbers, with the host's numbers.
using EventField = std::uint32_t;

namespace EventFields {
inline constexpr EventField mouseEventNumber = 0;
inline constexpr EventField mouseEventClickState = 1;
inline constexpr EventField mouseEventButtonNumber = 3;
inline constexpr EventField mouseEventDeltaX = 4;
inline constexpr EventField mouseEventDeltaY = 5;
inline constexpr EventField keyboardEventAutorepeat = 8;
inline constexpr EventField keyboardEventKeycode = 9;
inline constexpr EventField scrollWheelEventDeltaAxis1 = 11;
inline constexpr EventField scrollWheelEventDeltaAxis2 = 12;
inline constexpr EventField scrollWheelEventDeltaAxis3 = 13;
inline constexpr EventField eventSourceUserData = 42;
// Filled by the system on mouse button and drag events with the sender of the
// device that produced them (0 when unknown).
inline constexpr EventField mouseEventSenderID = 87;
inline constexpr EventField scrollWheelEventIsContinuous = 88;
inline constexpr EventField scrollWheelEventFixedPtDeltaAxis1 = 93;
inline constexpr EventField scrollWheelEventFixedPtDeltaAxis2 = 94;
inline constexpr EventField scrollWheelEventFixedPtDeltaAxis3 = 95;
inline constexpr EventField scrollWheelEventPointDeltaAxis1 = 96;
inline constexpr EventField scrollWheelEventPointDeltaAxis2 = 97;
inline constexpr EventField scrollWheelEventPointDeltaAxis3 = 98;
inline constexpr EventField scrollWheelEventScrollPhase = 99;
inline constexpr EventField scrollWheelEventMomentumPhase = 123;
inline constexpr EventField unacceleratedPointerMovementX = 170;
inline constexpr EventField unacceleratedPointerMovementY = 171;
// Not one of the host's fields: on a scroll step Ravolet posts, the pixels
// this step and the rest of its glide post. An event system whose consumers
// hold a glide's small first steps back (libinput, on Linux) lets the first
// step carry more, taken from that rest.
inline constexpr EventField ravoletGlideRemainingPixels = 1000;
} // namespace EventFields

// Event flags, with the host's bits: the generic modifier flags and the
// device-dependent bits of each modifier key.
using EventFlags = std::uint64_t;

namespace EventFlagBits {
inline constexpr EventFlags alphaShift = 0x10000;
inline constexpr EventFlags shift = 0x20000;
inline constexpr EventFlags control = 0x40000;
inline constexpr EventFlags alternate = 0x80000;
inline constexpr EventFlags command = 0x100000;
inline constexpr EventFlags numericPad = 0x200000;
inline constexpr EventFlags help = 0x400000;
inline constexpr EventFlags secondaryFn = 0x800000;
// The device-dependent bit of each modifier key, beside its generic flag.
inline constexpr EventFlags deviceLeftControl = 0x1;
inline constexpr EventFlags deviceLeftShift = 0x2;
inline constexpr EventFlags deviceRightShift = 0x4;
inline constexpr EventFlags deviceLeftCommand = 0x8;
inline constexpr EventFlags deviceRightCommand = 0x10;
inline constexpr EventFlags deviceLeftAlternate = 0x20;
inline constexpr EventFlags deviceRightAlternate = 0x40;
inline constexpr EventFlags deviceRightControl = 0x2000;
} // namespace EventFlagBits

// Where a tap sits and where events are posted: the HID system (0), the login
// session (1, the per-user tap point) or the session after annotation (2).
enum class EventTapLocation : std::uint32_t { hid = 0, session = 1, annotatedSession = 2 };
// Insertion of a tap among the others at its location.
enum class EventTapPlacement : std::uint32_t { headInsert = 0, tailAppend = 1 };
// 0: an active filter whose callback may change or swallow events; 1: a
// listener whose answer is ignored.
enum class EventTapOptions : std::uint32_t { defaultTap = 0, listenOnly = 1 };

// Units of a scroll-wheel event's wheel counts.
enum class ScrollEventUnit : std::uint32_t { pixel = 0, line = 1 };

// Mouse buttons of mouse events: 0 left, 1 right, 2 and up the others.
using MouseButton = std::uint32_t;

// One input event: its type, modifier flags, location in global display
// coordinates, time stamp (nanoseconds on the monotonic clock) and fields by
// number. A field may be written as an integer or as a double and read either
// way; a field never written reads as 0.
//
// Events are not shared between threads while someone changes them: the tap
// callback owns the event it is handed until it returns.
class Event {
public:
    Event() = default;
    explicit Event(EventType type) : type_(type) {}

    EventType type() const { return type_; }
    void setType(EventType type) { type_ = type; }

    EventFlags flags() const { return flags_; }
    void setFlags(EventFlags flags) { flags_ = flags; }

    Point location() const { return location_; }
    void setLocation(Point location) { location_ = location; }

    // Nanoseconds on the monotonic clock; 0 when the event has no time stamp.
    std::uint64_t timestamp() const { return timestamp_; }
    void setTimestamp(std::uint64_t nanos) { timestamp_ = nanos; }

    std::int64_t integerValueField(EventField field) const;
    void setIntegerValueField(EventField field, std::int64_t value);
    double doubleValueField(EventField field) const;
    void setDoubleValueField(EventField field, double value);

    // The registry identifier of the HID service that produced the event, as
    // the system's HID event carries it; 0 for events made by a program.
    // Read through the private HID event system only.
    std::uint64_t hidSenderID() const { return hidSenderID_; }
    void setHIDSenderID(std::uint64_t sender) { hidSenderID_ = sender; }

    friend bool operator==(const Event&, const Event&);
    friend std::ostream& operator<<(std::ostream& os, const Event& event);

private:
    struct Field {
        EventField number = 0;
        bool isDouble = false;
        // The integer, or the double's bits.
        std::int64_t bits = 0;
        friend bool operator==(const Field& a, const Field& b) {
            if (a.number != b.number || a.isDouble != b.isDouble) return false;
            return a.isDouble ? std::bit_cast<double>(a.bits) == std::bit_cast<double>(b.bits) : a.bits == b.bits;
        }
    };
    // Few fields per event: a flat list sorted by number. Up to
    // inlineFieldCount of them live in the event itself (every kind of event
    // the program makes or reads has fewer), so that making, copying and
    // filling one allocates nothing; an event given more moves them all to
    // the heap.
    static constexpr std::size_t inlineFieldCount = 16;
    std::span<Field> fields();
    std::span<const Field> fields() const { return const_cast<Event*>(this)->fields(); }
    Field* find(EventField field);
    const Field* find(EventField field) const;
    Field& slot(EventField field);

    EventType type_ = EventTypes::null;
    EventFlags flags_ = 0;
    Point location_;
    std::uint64_t timestamp_ = 0;
    std::uint64_t hidSenderID_ = 0;
    std::uint32_t inlineCount_ = 0;
    std::array<Field, inlineFieldCount> inlineFields_{};
    // Every field, once there are more than inlineFieldCount (never emptied again).
    std::vector<Field> spilledFields_;
};

// An event as the host's event services make one: of the type, stamped with
// the time, located at the point, and carrying the source's user data in
// field 42 when made from a source.
Event makeSourcedEvent(const EventSource* source, EventType type, std::uint64_t timestamp, Point location);

// Fills in the wheels of a scroll-wheel event being made: in pixels they go
// to the point-delta fields and the event is continuous, in lines to the
// line-delta fields; each also to its fixed-point field. Wheels beyond
// `wheelCount` are 0.
void setScrollWheels(Event& event, ScrollEventUnit units, std::uint32_t wheelCount, std::int32_t wheel1,
                     std::int32_t wheel2, std::int32_t wheel3);

} // namespace ravolet::platform

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "Platform/Event.hpp"
#include "Platform/EventSource.hpp"
#include "Platform/Executor.hpp"

namespace ravolet::platform {

// A tap installed in the event stream (its port). Made and switched by the
// event system; released when the last reference goes.
class EventTap {
public:
    virtual ~EventTap() = default;
};

// Passed to a tap callback; identifies the tap that called.
using EventTapProxy = EventTap*;

// A tap's callback, called on the thread whose run loop services the tap.
// Answers the same event (perhaps changed in place) to let it go on, another
// event to replace it, or nullptr to swallow it. For the two "tap disabled"
// types the answer is ignored.
using EventTapCallback = Event* (*)(EventTapProxy proxy, EventType type, Event* event, void* userInfo);

// The system's event services: making events and sources, posting events,
// and taps that see (and may change or swallow) the event stream.
class EventSystem {
public:
    virtual ~EventSystem() = default;

    // A new source, or nullptr when the system refuses to make one.
    virtual std::shared_ptr<EventSource> createSource(EventSourceStateID stateID) = 0;
    // Whether the key (virtual key code) is down in the given state.
    virtual bool keyState(EventSourceStateID stateID, std::uint16_t keyCode) const = 0;
    // Which of up to 32 keys are down in the given state: bit n for
    // keyCodes[n]. A system that can tell in one look answers so; a key
    // stroke asks this of every modifier key.
    virtual std::uint32_t keysState(EventSourceStateID stateID, std::span<const std::uint16_t> keyCodes) const {
        std::uint32_t down = 0;
        for (std::size_t n = 0; n < keyCodes.size() && n < 32; ++n)
            if (keyState(stateID, keyCodes[n])) down |= std::uint32_t{1} << n;
        return down;
    }
    // The modifier flags of the given state.
    virtual EventFlags flagsState(EventSourceStateID stateID) const = 0;

    // Events stamped with the current time and, when a source is given, its
    // user data in field 42; none when the system refuses.
    // An empty event (type null) located at the cursor.
    virtual std::optional<Event> createEvent(const EventSource* source) = 0;
    virtual std::optional<Event> createScrollWheelEvent(const EventSource* source, ScrollEventUnit units,
                                                        std::uint32_t wheelCount, std::int32_t wheel1,
                                                        std::int32_t wheel2, std::int32_t wheel3) = 0;
    virtual std::optional<Event> createMouseEvent(const EventSource* source, EventType type, Point location,
                                                  MouseButton button) = 0;
    virtual std::optional<Event> createKeyboardEvent(const EventSource* source, std::uint16_t keyCode,
                                                     bool keyDown) = 0;

    // Injects the event into the stream at the location: it passes the taps
    // from that location on, then reaches the rest of the system.
    virtual void post(EventTapLocation location, const Event& event) = 0;

    // A tap at the location that sees the event types of the mask (bit n for
    // type n); nullptr when the program may not tap events. The tap starts
    // switched on but sees nothing until it is added to a run loop.
    virtual std::shared_ptr<EventTap> createTap(EventTapLocation location, EventTapPlacement placement,
                                                EventTapOptions options, std::uint64_t eventsOfInterest,
                                                EventTapCallback callback, void* userInfo) = 0;
    // The tap's run-loop source: the tap's callbacks run as blocks on that run
    // loop (on its thread) from now on. Replaces an earlier run loop.
    virtual void addTapToRunLoop(EventTap& tap, std::shared_ptr<Executor> runLoop) = 0;
    // Takes the tap's source off its run loop; the tap sees nothing more.
    virtual void removeTapFromRunLoop(EventTap& tap) = 0;
    virtual void enableTap(EventTap& tap, bool enable) = 0;
    virtual bool isTapEnabled(const EventTap& tap) const = 0;
};

} // namespace ravolet::platform

#pragma once

#include <cstdint>

namespace ravolet::platform {

// Which key and button state an event source reads and contributes to:
// its own private state (-1), the combined state of the login session (0) or
// the state of the HID system (1), with the host's numbers.
enum class EventSourceStateID : std::int32_t { privateState = -1, combinedSessionState = 0, hidSystemState = 1 };

// When local hardware events are filtered while synthetic events play:
// during the suppression interval (0) or during a remote mouse drag (1).
enum class EventSuppressionState : std::uint32_t { suppressionInterval = 0, remoteMouseDrag = 1 };

// What local events are let through while suppressing (a bit set).
namespace EventFilterMask {
inline constexpr std::uint32_t permitLocalMouseEvents = 1;
inline constexpr std::uint32_t permitLocalKeyboardEvents = 2;
inline constexpr std::uint32_t permitSystemDefinedEvents = 4;
inline constexpr std::uint32_t permitAllEvents = 7;
} // namespace EventFilterMask

// A source of synthetic events. Every event made from a source carries the
// source's user data in field 42. A source is made by the event system and is
// not shared between threads while it is being changed.
class EventSource {
public:
    explicit EventSource(EventSourceStateID stateID) : stateID_(stateID) {}

    EventSourceStateID stateID() const { return stateID_; }

    std::int64_t userData() const { return userData_; }
    void setUserData(std::int64_t userData) { userData_ = userData; }

    // Which local events pass during the given suppression state. The host's
    // default lets everything through except during the suppression interval.
    std::uint32_t localEventsFilterDuringSuppressionState(EventSuppressionState state) const {
        return state == EventSuppressionState::suppressionInterval ? filterDuringInterval_ : filterDuringDrag_;
    }
    void setLocalEventsFilterDuringSuppressionState(std::uint32_t filter, EventSuppressionState state) {
        (state == EventSuppressionState::suppressionInterval ? filterDuringInterval_ : filterDuringDrag_) = filter;
    }

    // Seconds for which local events are suppressed after a synthetic event.
    double localEventsSuppressionInterval() const { return suppressionInterval_; }
    void setLocalEventsSuppressionInterval(double seconds) { suppressionInterval_ = seconds; }

private:
    EventSourceStateID stateID_;
    std::int64_t userData_ = 0;
    std::uint32_t filterDuringInterval_ = 0;
    std::uint32_t filterDuringDrag_ = EventFilterMask::permitAllEvents;
    double suppressionInterval_ = 0.25;
};

} // namespace ravolet::platform

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "Platform/EventSystem.hpp"
#include "Platform/Thread.hpp"
#include "Platform/Simulated/SimulatedDevice.hpp"

namespace ravolet::platform {

// The event system of the simulated machine. Tests inject hardware events of
// simulated devices; injected and posted events pass, one at a time and in
// order, through every enabled tap whose mask holds their type, each tap's
// callback running on the run loop (thread) that services it, and what comes
// out is logged as delivered to the system. Programs' own posted events come
// back through the taps as on the host.
//
// A tap that does not answer within the response limit (its run loop does not
// run) is switched off by time-out, as the host does; the notice of it waits
// on the tap's run loop until that loop gets to it. Tests can also refuse
// taps (no permission), sources and events, and switch a tap off by time-out
// or by user input. Safe to use from any thread.
class SimulatedEventSystem final : public EventSystem {
public:
    // clock: the current time in nanoseconds on the monotonic clock; by default
    // MonotonicClock::nowNanos().
    explicit SimulatedEventSystem(std::function<std::uint64_t()> clock = {});
    ~SimulatedEventSystem() override;
    SimulatedEventSystem(const SimulatedEventSystem&) = delete;
    SimulatedEventSystem& operator=(const SimulatedEventSystem&) = delete;

    // --- Scripting ---

    // A hardware event of the device, entering the stream at the HID tap point.
    // Stamped with the current time when it has no time stamp; carries the
    // device's sender behind it (and in field 87 for button and drag events,
    // when the device fills it).
    void inject(const SimulatedDevice& device, Event event);

    // Hardware events as devices produce them.
    static Event wheelEvent(std::int32_t axis1Lines, std::int32_t axis2Lines = 0);
    static Event continuousWheelEvent(std::int32_t axis1Pixels, std::int32_t axis2Pixels = 0);
    static Event motionEvent(std::int64_t dx, std::int64_t dy, EventType type = EventTypes::mouseMoved);
    static Event buttonEvent(EventType type, MouseButton button);

    // Whether the program may create taps (Accessibility and Input Monitoring).
    void setTapsAllowed(bool allowed);
    void setSourcesAllowed(bool allowed);
    void setEventsAllowed(bool allowed);
    // Switches the tap off as the system does, by time-out or by user input
    // (the reason is the "tap disabled" event type its callback receives).
    void disableTap(EventTap& tap, EventType reason);
    void setTapResponseLimit(std::chrono::milliseconds limit);
    // Called on the creating thread each time a tap is about to be made, so a
    // test can hold its creation up.
    void setTapCreationHook(std::function<void()> hook);

    // Waits until every injected and posted event has been through the taps
    // and delivered or swallowed, and every "tap disabled" notice has been
    // handled by its tap (or dropped with its run loop); false when the limit
    // passed first.
    bool waitUntilIdle(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // Called on the dispatching thread with each event that reaches the
    // system, once it is logged (never under the system's lock); replaces the
    // observer before. None: no observer.
    void setDeliveryObserver(std::function<void(const Event&)> observer);

    // Events that reached the system, oldest first; events a tap swallowed;
    // events programs posted (as posted, before any tap).
    std::vector<Event> delivered() const;
    std::vector<Event> swallowed() const;
    std::vector<Event> posted() const;
    void clearLogs();

    // Taps that exist (not yet released), and the taps themselves in stream order.
    std::size_t tapCount() const;
    std::vector<std::shared_ptr<EventTap>> taps() const;

    // The physical key and modifier state that sources read.
    void setKeyDown(std::uint16_t keyCode, bool down);
    void setFlagsState(EventFlags flags);
    // The cursor; delivered motion events move it to their location.
    void setCursorPosition(Point point);
    Point cursorPosition() const;

    // --- EventSystem ---
    std::shared_ptr<EventSource> createSource(EventSourceStateID stateID) override;
    bool keyState(EventSourceStateID stateID, std::uint16_t keyCode) const override;
    EventFlags flagsState(EventSourceStateID stateID) const override;
    std::optional<Event> createEvent(const EventSource* source) override;
    std::optional<Event> createScrollWheelEvent(const EventSource* source, ScrollEventUnit units,
                                                std::uint32_t wheelCount, std::int32_t wheel1, std::int32_t wheel2,
                                                std::int32_t wheel3) override;
    std::optional<Event> createMouseEvent(const EventSource* source, EventType type, Point location,
                                          MouseButton button) override;
    std::optional<Event> createKeyboardEvent(const EventSource* source, std::uint16_t keyCode, bool keyDown) override;
    void post(EventTapLocation location, const Event& event) override;
    std::shared_ptr<EventTap> createTap(EventTapLocation location, EventTapPlacement placement, EventTapOptions options,
                                        std::uint64_t eventsOfInterest, EventTapCallback callback,
                                        void* userInfo) override;
    void addTapToRunLoop(EventTap& tap, std::shared_ptr<Executor> runLoop) override;
    void removeTapFromRunLoop(EventTap& tap) override;
    void enableTap(EventTap& tap, bool enable) override;
    bool isTapEnabled(const EventTap& tap) const override;

private:
    struct Tap;
    struct Delivery;
    struct PendingNotices;
    struct Item {
        Event event;
        EventTapLocation location = EventTapLocation::hid;
        // Set for a "tap disabled" notice to one tap.
        std::shared_ptr<Tap> noticeFor;
    };

    std::optional<Event> makeEvent(const EventSource* source, EventType type);
    void enqueue(Item item);
    void dispatchLoop();
    void dispatch(Item& item);
    // Runs the callback of the tap on its run loop and waits for the answer;
    // false when the tap swallowed the event.
    bool deliver(const std::shared_ptr<Tap>& tap, Event& event);
    // Hands a "tap disabled" notice to the tap's run loop without waiting.
    void deliverNotice(const std::shared_ptr<Tap>& tap, const Event& notice);
    std::vector<std::shared_ptr<Tap>> tapsFrom(EventTapLocation location, EventType type);
    void switchOff(Tap& tap, EventType reason);

    std::function<std::uint64_t()> clock_;
    const std::shared_ptr<PendingNotices> notices_;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::deque<Item> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    bool tapsAllowed_ = true;
    bool sourcesAllowed_ = true;
    bool eventsAllowed_ = true;
    std::chrono::milliseconds responseLimit_{5000};
    std::function<void()> tapCreationHook_;
    std::function<void(const Event&)> deliveryObserver_;
    // Taps in stream order: by location, then head-inserted before tail-appended.
    std::vector<std::weak_ptr<Tap>> taps_;
    std::vector<Event> delivered_;
    std::vector<Event> swallowed_;
    std::vector<Event> posted_;
    std::set<std::uint16_t> keysDown_;
    EventFlags flags_ = 0;
    Point cursor_;

    Thread dispatcher_;
};

} // namespace ravolet::platform

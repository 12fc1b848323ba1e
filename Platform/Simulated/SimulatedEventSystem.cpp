#include "Platform/Simulated/SimulatedEventSystem.hpp"

#include <algorithm>
#include <atomic>

#include "Platform/MonotonicClock.hpp"

namespace ravolet::platform {

struct SimulatedEventSystem::Tap final : EventTap {
    EventTapLocation location = EventTapLocation::session;
    EventTapOptions options = EventTapOptions::defaultTap;
    std::uint64_t mask = 0;
    EventTapCallback callback = nullptr;
    void* userInfo = nullptr;
    // Guarded by the system's lock.
    bool enabled = true;
    std::shared_ptr<Executor> runLoop;
    std::shared_ptr<Delivery> current;
    // Whether the tap is still on the run loop it was added to last; a notice
    // waiting on that loop reads it when it comes up, after the system may
    // have gone.
    std::shared_ptr<std::atomic<bool>> attached;
};

// Notices handed to taps' run loops and not yet handled or dropped there.
struct SimulatedEventSystem::PendingNotices {
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;

    void add() {
        std::lock_guard guard(lock);
        ++count;
    }
    void remove() {
        std::lock_guard guard(lock);
        --count;
        changed.notify_all();
    }
    bool waitUntilNone(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock guard(lock);
        return changed.wait_until(guard, deadline, [&] { return count == 0; });
    }
};

// One callback run of a tap, handed to the tap's run loop. Whoever moves it
// out of `pending` first decides: the run loop (it calls the callback) or the
// dispatcher and the tap switches (they cancel it, and the event passes).
struct SimulatedEventSystem::Delivery {
    enum class State { pending, running, done };
    std::mutex lock;
    std::condition_variable finished;
    State state = State::pending;
    Event event;
    bool swallowed = false;

    // Cancels a delivery that has not started; true when it did.
    bool cancel() {
        std::lock_guard guard(lock);
        if (state != State::pending) return false;
        state = State::done;
        finished.notify_all();
        return true;
    }
};

namespace {

bool isMotion(EventType type) {
    return type == EventTypes::mouseMoved || type == EventTypes::leftMouseDragged ||
           type == EventTypes::rightMouseDragged || type == EventTypes::otherMouseDragged;
}

// Button downs and ups and the dragged types: the events whose field 87 the
// system fills with their sender.
bool carriesSenderField(EventType type) {
    return type < 64 && ((std::uint64_t{1} << type) & 0xE0000DEull) != 0;
}

} // namespace

SimulatedEventSystem::SimulatedEventSystem(std::function<std::uint64_t()> clock)
    : clock_(clock ? std::move(clock) : std::function<std::uint64_t()>(&MonotonicClock::nowNanos)),
      notices_(std::make_shared<PendingNotices>()) {
    Thread dispatcher(Thread::Options{}, [this] { dispatchLoop(); });
    std::lock_guard guard(lock_);
    // Without its thread nothing goes through the taps: events are dropped.
    if (!dispatcher.started()) stopping_ = true;
    dispatcher_ = std::move(dispatcher);
}

SimulatedEventSystem::~SimulatedEventSystem() {
    std::vector<std::shared_ptr<Delivery>> inFlight;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        for (auto& weak : taps_)
            if (auto tap = weak.lock(); tap && tap->current) inFlight.push_back(tap->current);
    }
    for (auto& d : inFlight) d->cancel();
    changed_.notify_all();
    dispatcher_.join();
}

// --- Scripting ---

void SimulatedEventSystem::inject(const SimulatedDevice& device, Event event) {
    if (event.timestamp() == 0) event.setTimestamp(clock_());
    if (device.providesHIDEvent) event.setHIDSenderID(device.registryID);
    if (device.fillsSenderField && carriesSenderField(event.type()))
        event.setIntegerValueField(EventFields::mouseEventSenderID, static_cast<std::int64_t>(device.registryID));
    enqueue(Item{std::move(event), EventTapLocation::hid, nullptr});
}

Event SimulatedEventSystem::wheelEvent(std::int32_t axis1Lines, std::int32_t axis2Lines) {
    Event e(EventTypes::scrollWheel);
    e.setIntegerValueField(EventFields::scrollWheelEventDeltaAxis1, axis1Lines);
    e.setIntegerValueField(EventFields::scrollWheelEventDeltaAxis2, axis2Lines);
    e.setIntegerValueField(EventFields::scrollWheelEventIsContinuous, 0);
    return e;
}

Event SimulatedEventSystem::continuousWheelEvent(std::int32_t axis1Pixels, std::int32_t axis2Pixels) {
    Event e(EventTypes::scrollWheel);
    e.setIntegerValueField(EventFields::scrollWheelEventIsContinuous, 1);
    e.setIntegerValueField(EventFields::scrollWheelEventPointDeltaAxis1, axis1Pixels);
    e.setIntegerValueField(EventFields::scrollWheelEventPointDeltaAxis2, axis2Pixels);
    return e;
}

Event SimulatedEventSystem::motionEvent(std::int64_t dx, std::int64_t dy, EventType type) {
    Event e(type);
    e.setIntegerValueField(EventFields::mouseEventDeltaX, dx);
    e.setIntegerValueField(EventFields::mouseEventDeltaY, dy);
    e.setDoubleValueField(EventFields::unacceleratedPointerMovementX, static_cast<double>(dx));
    e.setDoubleValueField(EventFields::unacceleratedPointerMovementY, static_cast<double>(dy));
    return e;
}

Event SimulatedEventSystem::buttonEvent(EventType type, MouseButton button) {
    Event e(type);
    e.setIntegerValueField(EventFields::mouseEventButtonNumber, button);
    return e;
}

void SimulatedEventSystem::setTapsAllowed(bool allowed) {
    std::lock_guard guard(lock_);
    tapsAllowed_ = allowed;
}

void SimulatedEventSystem::setDeliveryObserver(std::function<void(const Event&)> observer) {
    std::lock_guard guard(lock_);
    deliveryObserver_ = std::move(observer);
}

void SimulatedEventSystem::setSourcesAllowed(bool allowed) {
    std::lock_guard guard(lock_);
    sourcesAllowed_ = allowed;
}

void SimulatedEventSystem::setEventsAllowed(bool allowed) {
    std::lock_guard guard(lock_);
    eventsAllowed_ = allowed;
}

void SimulatedEventSystem::disableTap(EventTap& tap, EventType reason) { switchOff(static_cast<Tap&>(tap), reason); }

void SimulatedEventSystem::setTapResponseLimit(std::chrono::milliseconds limit) {
    std::lock_guard guard(lock_);
    responseLimit_ = limit;
}

bool SimulatedEventSystem::waitUntilIdle(std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    {
        std::unique_lock guard(lock_);
        if (!changed_.wait_until(guard, deadline, [&] { return queue_.empty() && !busy_; })) return false;
    }
    return notices_->waitUntilNone(deadline);
}

std::vector<Event> SimulatedEventSystem::delivered() const {
    std::lock_guard guard(lock_);
    return delivered_;
}

std::vector<Event> SimulatedEventSystem::swallowed() const {
    std::lock_guard guard(lock_);
    return swallowed_;
}

std::vector<Event> SimulatedEventSystem::posted() const {
    std::lock_guard guard(lock_);
    return posted_;
}

void SimulatedEventSystem::clearLogs() {
    std::lock_guard guard(lock_);
    delivered_.clear();
    swallowed_.clear();
    posted_.clear();
}

std::size_t SimulatedEventSystem::tapCount() const {
    std::lock_guard guard(lock_);
    return static_cast<std::size_t>(std::count_if(taps_.begin(), taps_.end(), [](const auto& w) { return !w.expired(); }));
}

std::vector<std::shared_ptr<EventTap>> SimulatedEventSystem::taps() const {
    std::lock_guard guard(lock_);
    std::vector<std::shared_ptr<EventTap>> result;
    for (const auto& w : taps_)
        if (auto tap = w.lock()) result.push_back(std::move(tap));
    return result;
}

void SimulatedEventSystem::setKeyDown(std::uint16_t keyCode, bool down) {
    std::lock_guard guard(lock_);
    if (down)
        keysDown_.insert(keyCode);
    else
        keysDown_.erase(keyCode);
}

void SimulatedEventSystem::setFlagsState(EventFlags flags) {
    std::lock_guard guard(lock_);
    flags_ = flags;
}

void SimulatedEventSystem::setCursorPosition(Point point) {
    std::lock_guard guard(lock_);
    cursor_ = point;
}

Point SimulatedEventSystem::cursorPosition() const {
    std::lock_guard guard(lock_);
    return cursor_;
}

// --- Sources and events ---

std::shared_ptr<EventSource> SimulatedEventSystem::createSource(EventSourceStateID stateID) {
    {
        std::lock_guard guard(lock_);
        if (!sourcesAllowed_) return nullptr;
    }
    return std::make_shared<EventSource>(stateID);
}

bool SimulatedEventSystem::keyState(EventSourceStateID, std::uint16_t keyCode) const {
    std::lock_guard guard(lock_);
    return keysDown_.contains(keyCode);
}

EventFlags SimulatedEventSystem::flagsState(EventSourceStateID) const {
    std::lock_guard guard(lock_);
    return flags_;
}

std::optional<Event> SimulatedEventSystem::makeEvent(const EventSource* source, EventType type) {
    Point cursor;
    {
        std::lock_guard guard(lock_);
        if (!eventsAllowed_) return std::nullopt;
        cursor = cursor_;
    }
    return makeSourcedEvent(source, type, clock_(), cursor);
}

std::optional<Event> SimulatedEventSystem::createEvent(const EventSource* source) {
    return makeEvent(source, EventTypes::null);
}

std::optional<Event> SimulatedEventSystem::createScrollWheelEvent(const EventSource* source, ScrollEventUnit units,
                                                                  std::uint32_t wheelCount, std::int32_t wheel1,
                                                                  std::int32_t wheel2, std::int32_t wheel3) {
    auto e = makeEvent(source, EventTypes::scrollWheel);
    if (e) setScrollWheels(*e, units, wheelCount, wheel1, wheel2, wheel3);
    return e;
}

std::optional<Event> SimulatedEventSystem::createMouseEvent(const EventSource* source, EventType type, Point location,
                                                            MouseButton button) {
    auto e = makeEvent(source, type);
    if (!e) return e;
    e->setLocation(location);
    e->setIntegerValueField(EventFields::mouseEventButtonNumber, button);
    return e;
}

std::optional<Event> SimulatedEventSystem::createKeyboardEvent(const EventSource* source, std::uint16_t keyCode,
                                                               bool keyDown) {
    auto e = makeEvent(source, keyDown ? EventTypes::keyDown : EventTypes::keyUp);
    if (!e) return e;
    e->setIntegerValueField(EventFields::keyboardEventKeycode, keyCode);
    return e;
}

void SimulatedEventSystem::post(EventTapLocation location, const Event& event) {
    {
        std::lock_guard guard(lock_);
        posted_.push_back(event);
    }
    enqueue(Item{event, location, nullptr});
}

// --- Taps ---

void SimulatedEventSystem::setTapCreationHook(std::function<void()> hook) {
    std::lock_guard guard(lock_);
    tapCreationHook_ = std::move(hook);
}

std::shared_ptr<EventTap> SimulatedEventSystem::createTap(EventTapLocation location, EventTapPlacement placement,
                                                          EventTapOptions options, std::uint64_t eventsOfInterest,
                                                          EventTapCallback callback, void* userInfo) {
    std::function<void()> hook;
    {
        std::lock_guard guard(lock_);
        hook = tapCreationHook_;
    }
    if (hook) hook();
    std::lock_guard guard(lock_);
    if (!tapsAllowed_ || !callback) return nullptr;
    auto tap = std::make_shared<Tap>();
    tap->location = location;
    tap->options = options;
    tap->mask = eventsOfInterest;
    tap->callback = callback;
    tap->userInfo = userInfo;
    std::erase_if(taps_, [](const auto& w) { return w.expired(); });
    const auto at = [&](const std::weak_ptr<Tap>& w) {
        const auto t = w.lock();
        const auto l = static_cast<std::uint32_t>(t->location), mine = static_cast<std::uint32_t>(location);
        return placement == EventTapPlacement::headInsert ? l >= mine : l > mine;
    };
    taps_.insert(std::find_if(taps_.begin(), taps_.end(), at), tap);
    return tap;
}

void SimulatedEventSystem::addTapToRunLoop(EventTap& tap, std::shared_ptr<Executor> runLoop) {
    std::lock_guard guard(lock_);
    auto& t = static_cast<Tap&>(tap);
    if (t.attached) t.attached->store(false);
    t.runLoop = std::move(runLoop);
    t.attached = std::make_shared<std::atomic<bool>>(t.runLoop != nullptr);
}

void SimulatedEventSystem::removeTapFromRunLoop(EventTap& tap) {
    std::shared_ptr<Delivery> current;
    {
        std::lock_guard guard(lock_);
        auto& t = static_cast<Tap&>(tap);
        t.runLoop.reset();
        if (t.attached) t.attached->store(false);
        current = t.current;
    }
    if (current) current->cancel();
}

void SimulatedEventSystem::enableTap(EventTap& tap, bool enable) {
    std::shared_ptr<Delivery> current;
    {
        std::lock_guard guard(lock_);
        auto& t = static_cast<Tap&>(tap);
        t.enabled = enable;
        if (!enable) current = t.current;
    }
    // An event waiting for a tap that was just switched off passes it untouched.
    if (current) current->cancel();
}

bool SimulatedEventSystem::isTapEnabled(const EventTap& tap) const {
    std::lock_guard guard(lock_);
    return static_cast<const Tap&>(tap).enabled;
}

void SimulatedEventSystem::switchOff(Tap& tap, EventType reason) {
    std::shared_ptr<Tap> self;
    std::shared_ptr<Delivery> current;
    {
        std::lock_guard guard(lock_);
        tap.enabled = false;
        current = tap.current;
        for (auto& w : taps_)
            if (auto t = w.lock(); t.get() == &tap) self = t;
    }
    if (current) current->cancel();
    if (self) enqueue(Item{Event(reason), tap.location, self});
}

// --- Dispatch ---

void SimulatedEventSystem::enqueue(Item item) {
    {
        std::lock_guard guard(lock_);
        if (stopping_) return;
        queue_.push_back(std::move(item));
    }
    changed_.notify_all();
}

void SimulatedEventSystem::dispatchLoop() {
    std::unique_lock guard(lock_);
    for (;;) {
        changed_.wait(guard, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        guard.unlock();
        dispatch(item);
        guard.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

std::vector<std::shared_ptr<SimulatedEventSystem::Tap>> SimulatedEventSystem::tapsFrom(EventTapLocation location,
                                                                                       EventType type) {
    std::vector<std::shared_ptr<Tap>> result;
    std::lock_guard guard(lock_);
    for (auto& w : taps_) {
        auto tap = w.lock();
        if (!tap || static_cast<std::uint32_t>(tap->location) < static_cast<std::uint32_t>(location)) continue;
        if (type < 64 && ((tap->mask >> type) & 1) != 0) result.push_back(std::move(tap));
    }
    return result;
}

void SimulatedEventSystem::dispatch(Item& item) {
    if (item.noticeFor) {
        deliverNotice(item.noticeFor, item.event);
        return;
    }
    for (const auto& tap : tapsFrom(item.location, item.event.type())) {
        if (tap->options == EventTapOptions::listenOnly) {
            Event copy = item.event;
            deliver(tap, copy);
            continue;
        }
        if (!deliver(tap, item.event)) {
            std::lock_guard guard(lock_);
            swallowed_.push_back(std::move(item.event));
            return;
        }
    }
    std::function<void(const Event&)> observer;
    {
        std::lock_guard guard(lock_);
        if (isMotion(item.event.type())) cursor_ = item.event.location();
        delivered_.push_back(item.event);
        observer = deliveryObserver_;
    }
    if (observer) observer(item.event);
}

void SimulatedEventSystem::deliverNotice(const std::shared_ptr<Tap>& tap, const Event& notice) {
    std::shared_ptr<Executor> runLoop;
    std::shared_ptr<std::atomic<bool>> attached;
    {
        std::lock_guard guard(lock_);
        if (stopping_ || !tap->runLoop) return;
        runLoop = tap->runLoop;
        attached = tap->attached;
    }
    // As on the host, the notice waits in the tap's port until its run loop
    // gets to it, however long that loop is busy: nothing times it out, and
    // the stream goes on meanwhile.
    struct Pending {
        std::shared_ptr<PendingNotices> notices;
        explicit Pending(std::shared_ptr<PendingNotices> n) : notices(std::move(n)) { notices->add(); }
        ~Pending() { notices->remove(); }
    };
    runLoop->post([tap, attached, event = notice, pending = std::make_unique<Pending>(notices_)]() mutable {
        if (attached->load()) tap->callback(tap.get(), event.type(), &event, tap->userInfo);
    });
}

bool SimulatedEventSystem::deliver(const std::shared_ptr<Tap>& tap, Event& event) {
    auto delivery = std::make_shared<Delivery>();
    delivery->event = event;
    std::shared_ptr<Executor> runLoop;
    std::chrono::milliseconds limit;
    {
        std::lock_guard guard(lock_);
        if (stopping_ || !tap->runLoop || !tap->enabled) return true;
        runLoop = tap->runLoop;
        tap->current = delivery;
        limit = responseLimit_;
    }
    runLoop->post([delivery, tap] {
        {
            std::lock_guard guard(delivery->lock);
            if (delivery->state != Delivery::State::pending) return;
            delivery->state = Delivery::State::running;
        }
        Event* answer = tap->callback(tap.get(), delivery->event.type(), &delivery->event, tap->userInfo);
        std::lock_guard guard(delivery->lock);
        if (!answer)
            delivery->swallowed = true;
        else if (answer != &delivery->event)
            delivery->event = *answer;
        delivery->state = Delivery::State::done;
        delivery->finished.notify_all();
    });

    bool timedOut = false;
    {
        std::unique_lock guard(delivery->lock);
        const auto done = [&] { return delivery->state == Delivery::State::done; };
        if (!delivery->finished.wait_for(guard, limit, done)) {
            if (delivery->state == Delivery::State::pending) {
                delivery->state = Delivery::State::done;
                timedOut = true;
            } else {
                delivery->finished.wait(guard, done);
            }
        }
    }
    {
        std::lock_guard guard(lock_);
        if (tap->current == delivery) tap->current.reset();
    }
    if (timedOut) {
        switchOff(*tap, EventTypes::tapDisabledByTimeout);
        return true;
    }
    if (delivery->swallowed) return false;
    event = std::move(delivery->event);
    return true;
}

} // namespace ravolet::platform

#include "Platform/Linux/Input/LinuxEventSystem.hpp"

#include <algorithm>
#include <array>

#include "Platform/HostKeyCodes.hpp"
#include "Platform/Linux/Input/X11Keyboard.hpp"
#include "Platform/MonotonicClock.hpp"

namespace ravolet::platform {

namespace {

EvdevTap& evdevTap(EventTap& tap) { return static_cast<EvdevTap&>(tap); }
const EvdevTap& evdevTap(const EventTap& tap) { return static_cast<const EvdevTap&>(tap); }

// Whether the desktop has the key (an evdev code) down. Its keyboard knows
// the keys an X server can name, codes below 256: fn (464) is not one.
bool desktopHolds(const std::optional<DesktopKeyboard::State>& desktop, std::uint16_t code) {
    return desktop && code < desktop->keys.size() && desktop->keys.test(code);
}

// Whether a key (an evdev code) is down: the user's, which are the keys the
// desktop has down that the virtual keyboard does not hold, and with
// `countOurs` the virtual keyboard's too (`ours`: whether it holds the key).
bool keyDown(const std::optional<DesktopKeyboard::State>& desktop, std::uint16_t code, bool ours, bool countOurs) {
    return (countOurs && ours) || (!ours && desktopHolds(desktop, code));
}

// The generic and device flags of the modifier keys down, with caps lock:
// the user's (the desktop's less what the virtual keyboard holds), and with
// `own` the virtual keyboard's too.
EventFlags modifierFlagsOf(DesktopKeyboard* keyboard, const VirtualDevices* devices, bool own) {
    const auto desktop = keyboard ? keyboard->state() : std::nullopt;
    // One look at the virtual keyboard for every modifier key.
    const std::uint32_t held = devices ? devices->heldModifierKeys() : 0;
    EventFlags flags = 0;
    for (std::size_t row = 0; row < VirtualDevices::modifierKeys().size(); ++row) {
        const auto& key = VirtualDevices::modifierKeys()[row];
        const bool ours = (held >> row) & 1u;
        if (keyDown(desktop, key.evdevCode, ours, own)) flags |= key.genericFlag | key.deviceFlag;
    }
    if (desktop && desktop->capsLock) flags |= EventFlagBits::alphaShift;
    return flags;
}

} // namespace

LinuxEventSystem::LinuxEventSystem(Options options) : options_(std::move(options)) {
    // Made at once, so that the desktop has the devices before the first event.
    devices(true);
}

LinuxEventSystem::~LinuxEventSystem() { session_.cancel(); }

std::shared_ptr<LinuxEventSystem> LinuxEventSystem::shared() {
    static const auto* const system = [] {
        Options options;
        options.desktopKeyboard = std::make_shared<X11Keyboard>();
        return new std::shared_ptr<LinuxEventSystem>(std::make_shared<LinuxEventSystem>(std::move(options)));
    }();
    return *system;
}

std::shared_ptr<VirtualDevices> LinuxEventSystem::devices(bool makeIfMissing) const {
    std::lock_guard guard(lock_);
    if (devices_ || !makeIfMissing) return devices_;
    VirtualDevices::Options made{options_.roots, options_.pixelsPerDetent, {}};
    // The pointer stands in for the target mouse, under its identity.
    made.pointer.vendor = static_cast<std::uint16_t>(options_.vendorID);
    made.pointer.product = static_cast<std::uint16_t>(options_.productID);
    auto devices = VirtualDevices::make(made);
    if (devices) {
        devices_ = std::move(*devices);
        outputError_.reset();
    } else {
        outputError_ = devices.error();
    }
    return devices_;
}

void LinuxEventSystem::followSession(const std::shared_ptr<SessionWatcher>& session, std::shared_ptr<Executor> executor) {
    auto following = session->subscribe(std::move(executor), [this](bool active) { setSessionActive(active); });
    std::lock_guard guard(lock_);
    session_ = std::move(following);
}

void LinuxEventSystem::setSessionActive(bool active) {
    if (active) {
        devices(true);
        return;
    }
    std::shared_ptr<VirtualDevices> away;
    {
        std::lock_guard guard(lock_);
        away = std::move(devices_);
    }
}

void LinuxEventSystem::setWheelTicksPerDetent(std::optional<int> ticks) {
    ticksPerDetent_->store(ticks ? std::max(1, *ticks) : 0, std::memory_order_relaxed);
    std::vector<std::shared_ptr<EvdevTap>> taps;
    {
        std::lock_guard guard(lock_);
        std::erase_if(taps_, [](const auto& tap) { return tap.expired(); });
        for (const auto& weak : taps_)
            if (auto tap = weak.lock()) taps.push_back(std::move(tap));
    }
    for (const auto& tap : taps) tap->wheelModeChanged();
}

void LinuxEventSystem::setAssumedWheelTicksPerDetent(int ticks) {
    assumedTicksPerDetent_->store(std::max(1, ticks), std::memory_order_relaxed);
}

int LinuxEventSystem::assumedWheelTicksPerDetent() const {
    return assumedTicksPerDetent_->load(std::memory_order_relaxed);
}

std::optional<int> LinuxEventSystem::wheelTicksPerDetent() const {
    const int ticks = ticksPerDetent_->load(std::memory_order_relaxed);
    if (ticks < 1) return std::nullopt;
    return ticks;
}

std::optional<std::string> LinuxEventSystem::outputError() const {
    std::lock_guard guard(lock_);
    return outputError_;
}

std::string LinuxEventSystem::virtualPointerNode() const {
    const auto d = devices(false);
    return d ? d->pointer().eventNode() : std::string();
}

std::string LinuxEventSystem::virtualKeyboardNode() const {
    const auto d = devices(false);
    return d ? d->keyboard().eventNode() : std::string();
}

// --- Key and modifier state ---

EventFlags LinuxEventSystem::modifierFlags(bool own) const {
    const auto d = devices(false);
    return modifierFlagsOf(options_.desktopKeyboard.get(), d.get(), own);
}

bool LinuxEventSystem::keyState(EventSourceStateID stateID, std::uint16_t keyCode) const {
    return keysState(stateID, std::span<const std::uint16_t>(&keyCode, 1)) != 0;
}

std::uint32_t LinuxEventSystem::keysState(EventSourceStateID stateID, std::span<const std::uint16_t> keyCodes) const {
    keyCodes = keyCodes.first(std::min<std::size_t>(keyCodes.size(), 32));
    std::array<std::uint16_t, 32> codes{};
    for (std::size_t n = 0; n < keyCodes.size(); ++n) codes[n] = evdevKeyCode(keyCodes[n]).value_or(0);
    const std::span<const std::uint16_t> evdevCodes(codes.data(), keyCodes.size());
    const auto d = devices(false);
    const std::uint32_t ours = d ? d->holdsKeys(evdevCodes) : 0;
    const auto desktop = options_.desktopKeyboard ? options_.desktopKeyboard->state() : std::nullopt;
    std::uint32_t down = 0;
    for (std::size_t n = 0; n < evdevCodes.size(); ++n) {
        const std::uint16_t code = evdevCodes[n];
        if (code == 0) continue; // no such key here
        // The HID state is the user's; every other state counts ours too.
        if (keyDown(desktop, code, (ours >> n) & 1u, stateID != EventSourceStateID::hidSystemState))
            down |= std::uint32_t{1} << n;
    }
    return down;
}

EventFlags LinuxEventSystem::flagsState(EventSourceStateID stateID) const {
    return modifierFlags(stateID != EventSourceStateID::hidSystemState);
}

// --- Sources and events ---

std::shared_ptr<EventSource> LinuxEventSystem::createSource(EventSourceStateID stateID) {
    return std::make_shared<EventSource>(stateID);
}

std::optional<Event> LinuxEventSystem::createEvent(const EventSource* source) {
    return makeSourcedEvent(source, EventTypes::null, MonotonicClock::nowNanos(), Point{});
}

std::optional<Event> LinuxEventSystem::createScrollWheelEvent(const EventSource* source, ScrollEventUnit units,
                                                              std::uint32_t wheelCount, std::int32_t wheel1,
                                                              std::int32_t wheel2, std::int32_t wheel3) {
    Event event = makeSourcedEvent(source, EventTypes::scrollWheel, MonotonicClock::nowNanos(), Point{});
    setScrollWheels(event, units, wheelCount, wheel1, wheel2, wheel3);
    return event;
}

std::optional<Event> LinuxEventSystem::createMouseEvent(const EventSource* source, EventType type, Point location,
                                                        MouseButton button) {
    Event event = makeSourcedEvent(source, type, MonotonicClock::nowNanos(), location);
    event.setIntegerValueField(EventFields::mouseEventButtonNumber, button);
    return event;
}

std::optional<Event> LinuxEventSystem::createKeyboardEvent(const EventSource* source, std::uint16_t keyCode,
                                                           bool keyDown) {
    Event event = makeSourcedEvent(source, keyDown ? EventTypes::keyDown : EventTypes::keyUp,
                                   MonotonicClock::nowNanos(), Point{});
    event.setIntegerValueField(EventFields::keyboardEventKeycode, keyCode);
    return event;
}

void LinuxEventSystem::post(EventTapLocation, const Event& event) {
    const auto d = devices(false);
    if (!d) return;
    const bool isKey = event.type() == EventTypes::keyDown || event.type() == EventTypes::keyUp;
    // Only a key asks which modifiers the user already holds, and only a
    // glide's step what time it is.
    const bool isGlideStep = event.type() == EventTypes::scrollWheel &&
                             event.integerValueField(EventFields::scrollWheelEventIsContinuous) != 0;
    d->post(event, isKey ? modifierFlags(false) : 0, isGlideStep ? MonotonicClock::nowNanos() : 0);
}

// --- Taps ---

std::shared_ptr<EventTap> LinuxEventSystem::createTap(EventTapLocation, EventTapPlacement, EventTapOptions options,
                                                      std::uint64_t eventsOfInterest, EventTapCallback callback,
                                                      void* userInfo) {
    if (!callback) return nullptr;
    EvdevTap::Context context;
    context.roots = options_.roots;
    context.vendorID = options_.vendorID;
    context.productID = options_.productID;
    context.devices = devices(true);
    // Events from the mouse carry the modifiers down on every keyboard.
    context.modifierFlags = [keyboard = options_.desktopKeyboard, devices = context.devices] {
        return modifierFlagsOf(keyboard.get(), devices.get(), true);
    };
    context.ticksPerDetent = [ticks = ticksPerDetent_] { return ticks->load(std::memory_order_relaxed); };
    context.assumedTicksPerDetent = [ticks = assumedTicksPerDetent_] { return ticks->load(std::memory_order_relaxed); };
    auto tap = EvdevTap::make(std::move(context), eventsOfInterest, options, callback, userInfo);
    if (!tap) return nullptr;
    std::lock_guard guard(lock_);
    std::erase_if(taps_, [](const auto& weak) { return weak.expired(); });
    taps_.push_back(*tap);
    return *tap;
}

void LinuxEventSystem::addTapToRunLoop(EventTap& tap, std::shared_ptr<Executor> runLoop) {
    evdevTap(tap).addToRunLoop(runLoop);
}

void LinuxEventSystem::removeTapFromRunLoop(EventTap& tap) { evdevTap(tap).removeFromRunLoop(); }

void LinuxEventSystem::enableTap(EventTap& tap, bool enable) { evdevTap(tap).setEnabled(enable); }

bool LinuxEventSystem::isTapEnabled(const EventTap& tap) const { return evdevTap(tap).isEnabled(); }

} // namespace ravolet::platform

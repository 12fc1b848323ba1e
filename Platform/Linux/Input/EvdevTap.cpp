#include "Platform/Linux/Input/EvdevTap.hpp"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>
#include <optional>
#include <utility>

#include "Platform/Linux/Input/EvdevPrivateHIDEventSystem.hpp"
#include "Platform/Linux/Input/EvdevValue.hpp"
#include "Platform/Linux/Input/WheelTickDecoder.hpp"
#include "Platform/Linux/Kernel/UeventMonitor.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/RunLoop.hpp"

namespace ravolet::platform {

namespace {

namespace E = EventTypes;
namespace F = EventFields;

constexpr std::int64_t buttons = VirtualDevices::buttonCount;
// How often, and how long after a node appears, a refused open is tried again.
constexpr std::array<std::chrono::milliseconds, 6> reopenDelays{
    std::chrono::milliseconds(25), std::chrono::milliseconds(50),  std::chrono::milliseconds(100),
    std::chrono::milliseconds(200), std::chrono::milliseconds(400), std::chrono::milliseconds(800)};

std::uint64_t nanosOf(const timeval& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(time.tv_usec) * 1000u;
}

// The buttons the kernel holds down on the node (bit n for button n).
std::optional<std::uint32_t> buttonsDown(int fd) {
    std::array<unsigned char, KEY_MAX / 8 + 1> keys{};
    if (::ioctl(fd, EVIOCGKEY(keys.size()), keys.data()) < 0) return std::nullopt;
    std::uint32_t down = 0;
    for (std::int64_t n = 0; n < buttons; ++n) {
        const auto code = static_cast<std::size_t>(BTN_LEFT + n);
        if ((keys[code / 8] >> (code % 8)) & 1) down |= 1u << n;
    }
    return down;
}

// How long wheel ticks wait for the wheel's mode to be known before they
// count as detents. Reading the mode over HID++ takes about 50 to 150 ms after
// the mouse appears.
constexpr std::chrono::milliseconds wheelModeWait{250};

// An event with every field this kind of event carries, each 0, so that
// filling one in (after copying this into a node's event, whose storage is
// then reused) allocates nothing.
Event prototype(std::initializer_list<EventField> fields) {
    Event event;
    for (const EventField field : fields) event.setIntegerValueField(field, 0);
    return event;
}

const Event& buttonPrototype() {
    static const Event event = prototype({F::mouseEventButtonNumber, F::mouseEventSenderID});
    return event;
}

const Event& motionPrototype() {
    static const Event event = [] {
        Event e = prototype({F::mouseEventDeltaX, F::mouseEventDeltaY, F::mouseEventSenderID});
        e.setDoubleValueField(F::unacceleratedPointerMovementX, 0);
        e.setDoubleValueField(F::unacceleratedPointerMovementY, 0);
        return e;
    }();
    return event;
}

const Event& wheelPrototype() {
    static const Event event = [] {
        Event e = prototype({F::scrollWheelEventDeltaAxis1, F::scrollWheelEventDeltaAxis2,
                             F::scrollWheelEventIsContinuous});
        e.setDoubleValueField(F::scrollWheelEventFixedPtDeltaAxis1, 0);
        e.setDoubleValueField(F::scrollWheelEventFixedPtDeltaAxis2, 0);
        return e;
    }();
    return event;
}

} // namespace

// One grabbed (or soon grabbed) node, read as a source of the tap's run loop.
struct EvdevTapNode final : RunLoopSource {
    std::weak_ptr<EvdevTap::Core> core;
    int fd = -1;
    std::string name;
    std::uint64_t registryID = 0;
    bool grabbed = false;
    bool dropping = false; // after SYN_DROPPED, until the next SYN_REPORT
    // Events older than this reached everyone before the grab.
    std::uint64_t discardBefore = 0;
    std::uint32_t down = 0;      // the node's buttons, as its events say
    std::uint32_t forwarded = 0; // buttons passed down on the virtual pointer

    // The frame being read.
    struct Change {
        std::int64_t button;
        bool down;
    };
    std::array<Change, buttons> changes{};
    std::size_t changeCount = 0;
    std::int32_t dx = 0, dy = 0, wheel = 0, wheelHiRes = 0, hwheel = 0, hwheelHiRes = 0;

    WheelTickDecoder vertical;
    // The tilt: the wheel's mode changes only the main wheel, so a tilt
    // report is always one detent.
    WheelTickDecoder horizontal;
    // Main-wheel units read while the wheel's mode was not known yet, and
    // whether the bounded wait for it is over for this node.
    std::int64_t heldWheel = 0;
    TaskHandle heldWheelTimer;
    bool waitedForWheelMode = false;
    std::array<input_event, 64> buffer{};
    Event event;

    ~EvdevTapNode() override {
        heldWheelTimer.cancel();
        if (fd >= 0) ::close(fd); // the grab ends with the descriptor
    }
    void clearFrame() {
        changeCount = 0;
        dx = dy = wheel = wheelHiRes = hwheel = hwheelHiRes = 0;
    }

protected:
    void perform() override;
};

struct EvdevTap::Core : std::enable_shared_from_this<Core> {
    Context context;
    std::uint64_t mask = 0;
    EventTapOptions options = EventTapOptions::defaultTap;
    EventTapCallback callback = nullptr;
    void* userInfo = nullptr;
    std::atomic<EventTap*> proxy{nullptr};
    std::atomic<bool> enabled{true};

    // Written on the run loop's thread; read elsewhere under loopLock.
    mutable std::mutex loopLock;
    std::shared_ptr<RunLoop> loop;
    // On the run loop's thread only.
    Subscription uevents;
    std::vector<std::shared_ptr<EvdevTapNode>> nodes;
    InputFrame out;

    ~Core() {
        uevents.cancel();
        for (const auto& node : nodes) letGo(*node);
    }

    enum class Opened { ok, skipped, notPermitted, busy };

    bool isTarget(const EventNode& node) const {
        return node.vendorID == context.vendorID && node.productID == context.productID && !node.isVirtual &&
               node.isPointer();
    }

    // Opens the node, and grabs it unless a button is down.
    Opened open(const EventNode& info, std::shared_ptr<EvdevTapNode>& result) {
        const auto id = EvdevPrivateHIDEventSystem::registryID(info);
        if (!id) return Opened::skipped;
        const int fd = ::open(info.devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return errno == EACCES || errno == EPERM ? Opened::notPermitted : Opened::skipped;
        auto node = std::make_shared<EvdevTapNode>();
        node->fd = fd;
        node->name = info.name;
        node->registryID = *id;
        node->core = weak_from_this();
        node->event = motionPrototype();
        int clock = CLOCK_MONOTONIC;
        if (::ioctl(fd, EVIOCSCLOCKID, &clock) < 0) return Opened::skipped;
        const auto down = buttonsDown(fd);
        if (!down) return Opened::skipped;
        if (*down == 0) {
            if (const auto grabbed = grab(*node); grabbed != Opened::ok) return grabbed;
        }
        result = std::move(node);
        return Opened::ok;
    }

    Opened grab(EvdevTapNode& node) {
        const std::uint64_t before = MonotonicClock::nowNanos();
        if (::ioctl(node.fd, EVIOCGRAB, 1) < 0) return errno == EBUSY ? Opened::busy : Opened::skipped;
        node.grabbed = true;
        node.discardBefore = before;
        node.down = 0;
        node.clearFrame();
        return Opened::ok;
    }

    // 0 while the wheel's mode is not known.
    int ticksPerDetent() const { return context.ticksPerDetent ? context.ticksPerDetent() : 1; }
    int assumedTicksPerDetent() const {
        return context.assumedTicksPerDetent ? std::max(1, context.assumedTicksPerDetent()) : 1;
    }

    void adopt(std::shared_ptr<EvdevTapNode> node) {
        if (loop) loop->addSource(node, node->fd);
        nodes.push_back(std::move(node));
    }

    // Releases what the node passed down, stops reading it and closes it.
    void letGo(EvdevTapNode& node) {
        if (loop) loop->removeSource(node.shared_from_this());
        node.heldWheelTimer.cancel();
        if (node.forwarded != 0 && context.devices) {
            InputFrame frame;
            for (std::int64_t n = 0; n < buttons; ++n)
                if (node.forwarded & (1u << n)) frame.add(EV_KEY, static_cast<std::uint16_t>(BTN_LEFT + n), 0);
            context.devices->sendPointer(frame);
            node.forwarded = 0;
        }
        if (node.fd >= 0) {
            ::close(node.fd);
            node.fd = -1;
        }
    }

    void end(EvdevTapNode& node) {
        const auto it = std::find_if(nodes.begin(), nodes.end(), [&](const auto& n) { return n.get() == &node; });
        if (it == nodes.end()) return;
        const auto keep = *it; // alive until this call returns
        nodes.erase(it);
        letGo(*keep);
    }

    void read(EvdevTapNode& node) {
        for (;;) {
            const auto got = ::read(node.fd, node.buffer.data(), sizeof node.buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && errno == EAGAIN) return;
            if (got <= 0) {
                end(node); // unplugged (ENODEV) or broken
                return;
            }
            const auto count = static_cast<std::size_t>(got) / sizeof(input_event);
            for (std::size_t i = 0; i < count; ++i) {
                handle(node, node.buffer[i]);
                if (node.fd < 0) return; // ended while handling
            }
        }
    }

    void handle(EvdevTapNode& node, const input_event& value) {
        const std::uint64_t time = nanosOf(value.time);
        if (time < node.discardBefore) return;
        if (node.dropping) {
            if (value.type == EV_SYN && value.code == SYN_REPORT) {
                node.dropping = false;
                resync(node, time);
            }
            return;
        }
        switch (value.type) {
        case EV_SYN:
            if (value.code == SYN_REPORT) {
                finishFrame(node, time);
            } else if (value.code == SYN_DROPPED) {
                node.dropping = true;
                node.clearFrame();
            }
            return;
        case EV_KEY:
            if (value.code >= BTN_LEFT && value.code < BTN_LEFT + buttons && value.value != 2 &&
                node.changeCount < node.changes.size())
                node.changes[node.changeCount++] = {value.code - BTN_LEFT, value.value != 0};
            return;
        case EV_REL:
            switch (value.code) {
            case REL_X: node.dx += value.value; break;
            case REL_Y: node.dy += value.value; break;
            case REL_WHEEL: node.wheel += value.value; break;
            case REL_WHEEL_HI_RES: node.wheelHiRes += value.value; break;
            case REL_HWHEEL: node.hwheel += value.value; break;
            case REL_HWHEEL_HI_RES: node.hwheelHiRes += value.value; break;
            default: break;
            }
            return;
        default:
            return;
        }
    }

    // The buttons as the kernel has them now, after events were lost.
    void resync(EvdevTapNode& node, std::uint64_t time) {
        node.clearFrame();
        const auto now = buttonsDown(node.fd);
        if (!now) return;
        for (std::int64_t n = 0; n < buttons; ++n) {
            const bool isDown = (*now >> n) & 1;
            if (isDown != (((node.down >> n) & 1) != 0)) node.changes[node.changeCount++] = {n, isDown};
        }
        finishFrame(node, time);
    }

    // The modifier flags of one frame's events, asked for only when an event
    // carries them, and then once (where the desktop is an X server, asking
    // is a round trip to it).
    class FrameFlags {
    public:
        explicit FrameFlags(const std::function<EventFlags()>& ask) : ask_(ask) {}
        EventFlags operator()() {
            if (!value_) value_ = ask_ ? ask_() : 0;
            return *value_;
        }

    private:
        const std::function<EventFlags()>& ask_;
        std::optional<EventFlags> value_;
    };

    // A frame of the node's events: each kind of event has its own step, and
    // what goes on leaves in one write.
    void finishFrame(EvdevTapNode& node, std::uint64_t time) {
        if (!node.grabbed) return grabOnceReleased(node);
        out.clear();
        FrameFlags flags(context.modifierFlags);
        dispatchButtons(node, time, flags);
        dispatchMotion(node, time);
        dispatchWheels(node, time, flags);
        node.clearFrame();
        sendOut();
    }

    void sendOut() {
        if (!out.empty()) context.devices->sendPointer(out);
    }

    // Waiting for the buttons to go up before grabbing; the desktop reads
    // this node meanwhile.
    void grabOnceReleased(EvdevTapNode& node) {
        for (std::size_t i = 0; i < node.changeCount; ++i) {
            const auto bit = 1u << node.changes[i].button;
            node.down = node.changes[i].down ? node.down | bit : node.down & ~bit;
        }
        node.clearFrame();
        if (node.down != 0) return;
        const auto down = buttonsDown(node.fd);
        if (!down || *down != 0) return;
        if (grab(node) != Opened::ok) end(node);
    }

    void dispatchButtons(EvdevTapNode& node, std::uint64_t time, FrameFlags& flags) {
        const std::uint64_t sender = node.registryID;
        for (std::size_t i = 0; i < node.changeCount; ++i) {
            const auto [button, isDown] = node.changes[i];
            const auto bit = 1u << button;
            if (isDown == ((node.down & bit) != 0)) continue;
            node.down ^= bit;
            Event& e = node.event;
            e = buttonPrototype();
            e.setType(button == 0 ? (isDown ? E::leftMouseDown : E::leftMouseUp)
                      : button == 1 ? (isDown ? E::rightMouseDown : E::rightMouseUp)
                                    : (isDown ? E::otherMouseDown : E::otherMouseUp));
            e.setIntegerValueField(F::mouseEventButtonNumber, button);
            e.setIntegerValueField(F::mouseEventSenderID, static_cast<std::int64_t>(sender));
            stamp(e, time, sender, flags());
            if (const Event* answer = dispatch(e)) {
                if (const auto change = VirtualDevices::buttonChange(*answer)) {
                    const auto forwardedBit = 1u << change->button;
                    node.forwarded = change->down ? node.forwarded | forwardedBit : node.forwarded & ~forwardedBit;
                }
                context.devices->addPointerValues(*answer, out, time);
            }
        }
    }

    void dispatchMotion(EvdevTapNode& node, std::uint64_t time) {
        if (node.dx == 0 && node.dy == 0) return;
        const std::uint64_t sender = node.registryID;
        Event& e = node.event;
        e = motionPrototype();
        EventType type = E::mouseMoved;
        if (node.down & 1u)
            type = E::leftMouseDragged;
        else if (node.down & 2u)
            type = E::rightMouseDragged;
        else if (node.down != 0)
            type = E::otherMouseDragged;
        e.setType(type);
        e.setIntegerValueField(F::mouseEventDeltaX, node.dx);
        e.setIntegerValueField(F::mouseEventDeltaY, node.dy);
        e.setDoubleValueField(F::unacceleratedPointerMovementX, node.dx);
        e.setDoubleValueField(F::unacceleratedPointerMovementY, node.dy);
        // The host names the sender of drags only.
        if (type != E::mouseMoved) e.setIntegerValueField(F::mouseEventSenderID, static_cast<std::int64_t>(sender));
        stamp(e, time, sender, 0);
        if (const Event* answer = dispatch(e)) context.devices->addPointerValues(*answer, out, time);
    }

    void dispatchWheels(EvdevTapNode& node, std::uint64_t time, FrameFlags& flags) {
        // The kernel adds the hi-res value to every wheel report; a device
        // without it gives whole ticks.
        const auto units = [](std::int32_t low, std::int32_t high) {
            return high != 0 ? std::int64_t{high} : std::int64_t{low} * WheelTickDecoder::unitsPerTick;
        };
        const std::int32_t vertical = mainWheelDetents(node, units(node.wheel, node.wheelHiRes));
        const std::int32_t horizontal = node.horizontal.add(toInt32(units(node.hwheel, node.hwheelHiRes)));
        postWheel(node, vertical, horizontal, time, flags);
    }

    // The main wheel's detents in `units` (and in what was held back before
    // them). How many ticks make a detent depends on the wheel's mode: until
    // it is known the ticks are held back rather than guessed, for at most
    // wheelModeWait; after that wait they are counted by the mode the wheel
    // is taken to be in (a mouse that does not answer at once may not for a
    // long while, and counting a tick a detent would make each notch of a
    // high-resolution wheel several).
    std::int32_t mainWheelDetents(EvdevTapNode& node, std::int64_t units) {
        if (units == 0 && node.heldWheel == 0) return 0;
        int ticks = ticksPerDetent();
        if (ticks < 1) {
            if (!node.waitedForWheelMode) {
                holdWheel(node, units);
                return 0;
            }
            ticks = assumedTicksPerDetent();
        }
        node.heldWheelTimer.cancel();
        node.heldWheelTimer = TaskHandle();
        node.vertical.setTicksPerDetent(ticks);
        return node.vertical.add(toInt32(std::exchange(node.heldWheel, 0) + units));
    }

    void holdWheel(EvdevTapNode& node, std::int64_t units) {
        node.heldWheel += units;
        if (node.heldWheelTimer || !loop) return;
        node.heldWheelTimer = loop->postAfter(
            wheelModeWait, [weak = weak_from_this(), weakNode = std::weak_ptr<EvdevTapNode>(
                                                         std::static_pointer_cast<EvdevTapNode>(node.shared_from_this()))] {
                const auto self = weak.lock();
                const auto held = weakNode.lock();
                if (!self || !held) return;
                held->heldWheelTimer = TaskHandle();
                held->waitedForWheelMode = true;
                self->releaseHeldWheel(*held);
            });
    }

    // Passes on what the node held back, once the wheel's mode is known or
    // the wait for it is over.
    void releaseHeldWheel(EvdevTapNode& node) {
        if (node.heldWheel == 0 || node.fd < 0 || !node.grabbed) return;
        if (ticksPerDetent() < 1 && !node.waitedForWheelMode) return;
        out.clear();
        FrameFlags flags(context.modifierFlags);
        postWheel(node, mainWheelDetents(node, 0), 0, MonotonicClock::nowNanos(), flags);
        sendOut();
    }

    void postWheel(EvdevTapNode& node, std::int32_t vertical, std::int32_t horizontal, std::uint64_t time,
                   FrameFlags& flags) {
        if (vertical == 0 && horizontal == 0) return;
        Event& e = node.event;
        e = wheelPrototype();
        e.setType(E::scrollWheel);
        e.setIntegerValueField(F::scrollWheelEventDeltaAxis1, vertical);
        e.setIntegerValueField(F::scrollWheelEventDeltaAxis2, horizontal);
        e.setDoubleValueField(F::scrollWheelEventFixedPtDeltaAxis1, vertical);
        e.setDoubleValueField(F::scrollWheelEventFixedPtDeltaAxis2, horizontal);
        stamp(e, time, node.registryID, flags());
        if (const Event* answer = dispatch(e)) context.devices->addPointerValues(*answer, out, time);
    }

    // The wheel's mode may have become known: what was held back goes on.
    void wheelModeChanged() {
        for (const auto& node : std::vector(nodes)) releaseHeldWheel(*node);
    }

    static void stamp(Event& e, std::uint64_t time, std::uint64_t sender, EventFlags flags) {
        e.setTimestamp(time);
        e.setHIDSenderID(sender);
        e.setFlags(flags);
    }

    // What goes on: the event (perhaps changed), a replacement, or none.
    const Event* dispatch(Event& e) {
        const EventType type = e.type();
        if (!enabled.load(std::memory_order_acquire) || type >= 64 || ((mask >> type) & 1) == 0) return &e;
        Event* answer = callback(proxy.load(std::memory_order_acquire), type, &e, userInfo);
        return options == EventTapOptions::listenOnly ? &e : answer;
    }

    // ---- The run loop ----

    void addToLoop(std::shared_ptr<RunLoop> runLoop) {
        if (!runLoop) {
            removeFromLoop();
            return;
        }
        {
            std::lock_guard guard(loopLock);
            loop = std::move(runLoop);
        }
        for (const auto& node : nodes) loop->addSource(node, node->fd);
        uevents = Subscription();
        if (auto monitor = UeventMonitor::shared()) {
            uevents = monitor->subscribe("input", loop, [weak = weak_from_this()](const Uevent& event, bool lost) {
                if (auto self = weak.lock()) self->onUevent(event, lost);
            });
        }
        // A mouse plugged in between the tap's making and now.
        rescan();
    }

    void removeFromLoop() {
        uevents.cancel();
        for (const auto& node : nodes) letGo(*node);
        nodes.clear();
        std::lock_guard guard(loopLock);
        loop.reset();
    }

    std::shared_ptr<RunLoop> currentLoop() const {
        std::lock_guard guard(loopLock);
        return loop;
    }

    // ---- Nodes coming and going ----

    void attach(const std::string& name, std::size_t attempt) {
        const auto listed = listEventNodes(context.roots);
        const auto info = std::find_if(listed.begin(), listed.end(), [&](const EventNode& n) { return n.name == name; });
        if (info == listed.end() || !isTarget(*info)) return;
        const auto id = EvdevPrivateHIDEventSystem::registryID(*info);
        if (std::any_of(nodes.begin(), nodes.end(), [&](const auto& n) { return n->registryID == id; })) return;
        std::shared_ptr<EvdevTapNode> node;
        switch (open(*info, node)) {
        case Opened::ok:
            adopt(std::move(node));
            return;
        case Opened::notPermitted:
            // udev sets the node's permissions just after it appears.
            if (attempt < reopenDelays.size() && loop) {
                loop->postAfter(reopenDelays[attempt], [weak = weak_from_this(), name, attempt] {
                    if (auto self = weak.lock()) self->attach(name, attempt + 1);
                });
            }
            return;
        case Opened::busy:
        case Opened::skipped:
            return;
        }
    }

    void rescan() {
        for (const EventNode& info : listEventNodes(context.roots))
            if (isTarget(info)) attach(info.name, reopenDelays.size());
    }

    void onUevent(const Uevent& event, bool lost) {
        if (lost) return rescan();
        if (event.action != "add") return;
        const std::string devname = event.property("DEVNAME");
        constexpr std::string_view prefix = "input/event";
        if (!devname.starts_with(prefix)) return;
        attach(devname.substr(std::string_view("input/").size()), 0);
    }
};

void EvdevTapNode::perform() {
    if (auto self = core.lock()) self->read(*this);
}

std::expected<std::shared_ptr<EvdevTap>, EvdevTap::Failure> EvdevTap::make(Context context, std::uint64_t eventsOfInterest,
                                                                          EventTapOptions options,
                                                                          EventTapCallback callback, void* userInfo) {
    if (!context.devices) return std::unexpected(Failure::noOutput);
    auto core = std::make_shared<Core>();
    core->context = std::move(context);
    core->mask = eventsOfInterest;
    core->options = options;
    core->callback = callback;
    core->userInfo = userInfo;
    for (const EventNode& info : listEventNodes(core->context.roots)) {
        if (!core->isTarget(info)) continue;
        std::shared_ptr<EvdevTapNode> node;
        switch (core->open(info, node)) {
        case Core::Opened::ok:
            core->adopt(std::move(node));
            break;
        case Core::Opened::notPermitted:
            return std::unexpected(Failure::notPermitted);
        case Core::Opened::busy:
            return std::unexpected(Failure::busy);
        case Core::Opened::skipped:
            break; // gone while we looked, or not a device node
        }
    }
    auto tap = std::make_shared<EvdevTap>(Passkey{}, core);
    core->proxy.store(tap.get(), std::memory_order_release);
    return tap;
}

EvdevTap::EvdevTap(Passkey, std::shared_ptr<Core> core) : core_(std::move(core)) {}

EvdevTap::~EvdevTap() {
    core_->proxy.store(nullptr, std::memory_order_release);
    const std::shared_ptr<RunLoop> loop = core_->currentLoop();
    if (!loop || loop->isCurrent()) return; // the core, and with it every grab, goes now
    // The nodes belong to the loop's thread: they are let go there, or when
    // that thread has ended, as the block holding the core is released.
    loop->perform([core = core_] { core->removeFromLoop(); });
}

void EvdevTap::addToRunLoop(const std::shared_ptr<Executor>& executor) {
    core_->addToLoop(std::dynamic_pointer_cast<RunLoop>(executor));
}

void EvdevTap::removeFromRunLoop() { core_->removeFromLoop(); }

void EvdevTap::wheelModeChanged() {
    if (const std::shared_ptr<RunLoop> loop = core_->currentLoop()) {
        loop->perform([weak = std::weak_ptr<Core>(core_)] {
            if (const auto core = weak.lock()) core->wheelModeChanged();
        });
    }
}

void EvdevTap::setEnabled(bool enabled) { core_->enabled.store(enabled, std::memory_order_release); }

bool EvdevTap::isEnabled() const { return core_->enabled.load(std::memory_order_acquire); }

} // namespace ravolet::platform

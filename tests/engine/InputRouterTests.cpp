#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "Platform/MonotonicClock.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "RavoletEngine/EventPath/CGEventPoster.hpp"
#include "RavoletEngine/EventPath/EventReaders.hpp"
#include "RavoletEngine/EventPath/EventTapController.hpp"
#include "RavoletEngine/EventPath/InputRouter.hpp"
#include "RavoletEngine/EventPath/RavoletEventTag.hpp"

using namespace ravolet;
using namespace ravolet::platform;
namespace E = ravolet::platform::EventTypes;
namespace F = ravolet::platform::EventFields;

namespace {

// Pipelines that record what reaches them and answer as told. The log is shared
// so that the order of resets across them shows.
struct Log {
    std::mutex lock;
    std::vector<std::string> entries;
    void add(std::string s) {
        std::lock_guard guard(lock);
        entries.push_back(std::move(s));
    }
};

struct FakeScroll final : ScrollTarget {
    explicit FakeScroll(Log& log) : log(log) {}
    ScrollDisposition handle(const ScrollInput& input) override {
        inputs.push_back(input);
        return answer;
    }
    void reset() override { log.add("scroll"); }
    Log& log;
    std::vector<ScrollInput> inputs;
    ScrollDisposition answer = ScrollDisposition::suppress;
};

struct FakeButtons final : ButtonTarget {
    explicit FakeButtons(Log& log) : log(log) {}
    ButtonDisposition handle(const ButtonEvent& event) override {
        events.push_back(event);
        return answer;
    }
    void reset() override { log.add("buttons"); }
    Log& log;
    std::vector<ButtonEvent> events;
    ButtonDisposition answer = ButtonDisposition::suppress;
};

struct FakePointer final : PointerTarget {
    explicit FakePointer(Log& log) : log(log) {}
    bool isEnabled() const override { return enabled; }
    bool repositionsCursor() const override { return repositions; }
    PointerOutcome handle(const PointerMotion& motion) override {
        motions.push_back(motion);
        return outcome;
    }
    void reset() override {
        ++resets;
        log.add("pointer");
    }
    Log& log;
    bool enabled = true;
    bool repositions = false;
    PointerOutcome outcome = PointerOutcome::passThrough;
    std::vector<PointerMotion> motions;
    int resets = 0;
};

struct FakeCursor final : PointerCursorMoving {
    std::optional<Point> move(std::int64_t dx, std::int64_t dy) override {
        moves.emplace_back(dx, dy);
        return answer;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> moves;
    std::optional<Point> answer;
};

struct InputRouterTest : ::testing::Test {
    std::shared_ptr<SimulatedPrivateHIDEventSystem> hid = std::make_shared<SimulatedPrivateHIDEventSystem>();
    std::shared_ptr<ManualScheduler> queue = std::make_shared<ManualScheduler>();
    SimulatedDevice target = SimulatedDevice::targetMouse();
    SimulatedDevice other = SimulatedDevice::otherMouse();
    Log log;
    std::shared_ptr<FakeScroll> scroll = std::make_shared<FakeScroll>(log);
    std::shared_ptr<FakeButtons> buttons = std::make_shared<FakeButtons>(log);
    std::shared_ptr<FakePointer> pointer = std::make_shared<FakePointer>(log);
    std::shared_ptr<DeviceScope> scope;

    void SetUp() override {
        hid->attach(target);
        hid->attach(other);
        scope = DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(hid), queue);
        queue->runUntilIdle();
    }
    std::unique_ptr<InputRouter> makeRouter(std::shared_ptr<PointerCursorMoving> cursor = nullptr) {
        return std::make_unique<InputRouter>(scope, scroll, buttons, pointer, std::move(cursor));
    }
    // A hardware event of the device, as the system hands it to the tap.
    static Event from(const SimulatedDevice& device, Event event) {
        event.setHIDSenderID(device.registryID);
        if (event.timestamp() == 0) event.setTimestamp(MonotonicClock::nowNanos());
        return event;
    }
};

} // namespace

TEST_F(InputRouterTest, OwnEventsAreCountedAndPassedWithoutAskingTheScope) {
    auto router = makeRouter();
    Event own = from(target, SimulatedEventSystem::wheelEvent(3));
    tagAsRavoletEmitted(own);
    EXPECT_EQ(router->route(E::scrollWheel, own), TapVerdict::pass);
    router->setSwallowsOwnOutput(true);
    EXPECT_EQ(router->route(E::scrollWheel, own), TapVerdict::suppress);

    InputRouter::Metrics expected;
    expected.selfEmittedSeen = 2;
    EXPECT_EQ(router->snapshotMetrics(), expected);
    EXPECT_EQ(scope->snapshotCounters().total(), 0);
    EXPECT_TRUE(scroll->inputs.empty());
}

TEST_F(InputRouterTest, EventsOfEveryOtherDevicePassUntouched) {
    auto router = makeRouter();
    pointer->outcome = {PointerDisposition::transformed, 9, 9};
    for (Event event : {SimulatedEventSystem::wheelEvent(1), SimulatedEventSystem::motionEvent(4, 4),
                        SimulatedEventSystem::buttonEvent(E::otherMouseDown, 3)}) {
        Event foreign = from(other, event);
        const Event before = foreign;
        EXPECT_EQ(router->route(foreign.type(), foreign), TapVerdict::pass);
        EXPECT_EQ(foreign, before);
    }
    Event unattributed = SimulatedEventSystem::motionEvent(1, 1); // no sender behind it
    EXPECT_EQ(router->route(E::mouseMoved, unattributed), TapVerdict::pass);

    const auto m = router->snapshotMetrics();
    EXPECT_EQ(m.fromForeignDevice, 3);
    EXPECT_EQ(m.unidentified, 1);
    EXPECT_EQ(m.passedThrough, 4);
    EXPECT_EQ(m.fromTargetDevice, 0);
    EXPECT_TRUE(scroll->inputs.empty() && buttons->events.empty() && pointer->motions.empty());
}

TEST_F(InputRouterTest, WithoutThePrivateFunctionsEverythingIsUnidentifiedAndPasses) {
    auto bare = std::make_shared<SimulatedPrivateHIDEventSystem>();
    bare->attach(target);
    bare->dropFunction("IOHIDEventGetSenderID");
    scope = DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(bare), queue);
    queue->runUntilIdle();
    auto router = makeRouter();
    Event wheel = from(target, SimulatedEventSystem::wheelEvent(1));
    EXPECT_EQ(router->route(E::scrollWheel, wheel), TapVerdict::pass);
    const auto m = router->snapshotMetrics();
    EXPECT_EQ(m.unidentified, 1);
    EXPECT_EQ(m.passedThrough, 1);
    EXPECT_TRUE(scroll->inputs.empty());
    EXPECT_EQ(scope->spi().missingSymbols(), std::vector<std::string>{"IOHIDEventGetSenderID"});
}

TEST_F(InputRouterTest, TargetWheelDetentsGoToTheScrollPipelineWhoseAnswerDecides) {
    auto router = makeRouter();
    Event wheel = from(target, SimulatedEventSystem::wheelEvent(-2, 5));
    wheel.setFlags(0x100000 | 0x8);
    wheel.setTimestamp(MonotonicClock::nowNanos() - 50'000'000); // 50 ms old
    EXPECT_EQ(router->route(E::scrollWheel, wheel), TapVerdict::suppress);
    scroll->answer = ScrollDisposition::passThrough;
    Event horizontal = from(target, SimulatedEventSystem::wheelEvent(0, 3));
    EXPECT_EQ(router->route(E::scrollWheel, horizontal), TapVerdict::pass);
    Event continuous = from(target, SimulatedEventSystem::continuousWheelEvent(12));
    EXPECT_EQ(router->route(E::scrollWheel, continuous), TapVerdict::pass);

    ASSERT_EQ(scroll->inputs.size(), 2u);
    const auto& in = scroll->inputs[0];
    EXPECT_EQ(in.lineDelta, -2); // axis 1 wins
    EXPECT_EQ(in.axis, ScrollAxis::vertical);
    EXPECT_EQ(in.modifiers, ModifierFlags::command);
    EXPECT_EQ(in.deviceID, DeviceID(target.registryID));
    EXPECT_EQ(in.timestampMillis, static_cast<double>(wheel.timestamp()) / 1e6);
    EXPECT_EQ(scroll->inputs[1].axis, ScrollAxis::horizontal);
    EXPECT_EQ(scroll->inputs[1].lineDelta, 3);

    const auto m = router->snapshotMetrics();
    EXPECT_EQ(m.fromTargetDevice, 3);
    EXPECT_EQ(m.scrollHandled, 2);
    EXPECT_EQ(m.suppressed, 1);
    EXPECT_EQ(m.passedThrough, 2); // the passed detent and the continuous event
    EXPECT_GE(m.maxClockSkewMillis, 50.0);
    router->resetMetrics();
    EXPECT_EQ(router->snapshotMetrics(), InputRouter::Metrics{});
}

TEST_F(InputRouterTest, TargetButtonsGoToTheButtonPipelineAndOtherTypesPass) {
    auto router = makeRouter();
    Event left = from(target, SimulatedEventSystem::buttonEvent(E::leftMouseDown, 0));
    Event fourUp = from(target, SimulatedEventSystem::buttonEvent(E::otherMouseUp, 4));
    fourUp.setFlags(0x20000);
    EXPECT_EQ(router->route(E::leftMouseDown, left), TapVerdict::suppress);
    buttons->answer = ButtonDisposition::passThrough;
    EXPECT_EQ(router->route(E::otherMouseUp, fourUp), TapVerdict::pass);
    Event key = from(target, Event(E::keyDown)); // only with a wider tap mask
    EXPECT_EQ(router->route(E::keyDown, key), TapVerdict::pass);
    Event high = from(target, Event(29));
    EXPECT_EQ(router->route(29, high), TapVerdict::pass);

    ASSERT_EQ(buttons->events.size(), 2u);
    EXPECT_EQ(buttons->events[0].button, 0);
    EXPECT_TRUE(buttons->events[0].isDown);
    EXPECT_EQ(buttons->events[1].button, 4);
    EXPECT_FALSE(buttons->events[1].isDown);
    EXPECT_EQ(buttons->events[1].modifiers, ModifierFlags::shift);
    const auto m = router->snapshotMetrics();
    EXPECT_EQ(m.buttonsHandled, 2);
    EXPECT_EQ(m.suppressed, 1);
    EXPECT_EQ(m.passedThrough, 3);
    EXPECT_EQ(m.fromTargetDevice, 4);
}

TEST_F(InputRouterTest, TargetMotionIsRewrittenInPlaceAndNeverSwallowed) {
    auto router = makeRouter();
    Event motion = from(target, SimulatedEventSystem::motionEvent(4, -2));
    motion.setLocation({100, 100});

    pointer->enabled = false;
    EXPECT_EQ(router->route(E::mouseMoved, motion), TapVerdict::pass);
    pointer->enabled = true;
    Event still = from(target, SimulatedEventSystem::motionEvent(0, 0));
    EXPECT_EQ(router->route(E::mouseMoved, still), TapVerdict::pass); // nothing to read
    EXPECT_EQ(router->route(E::mouseMoved, motion), TapVerdict::pass); // pipeline passes
    EXPECT_EQ(motion.integerValueField(F::mouseEventDeltaX), 4);

    pointer->outcome = {PointerDisposition::transformed, 7, -1};
    Event plain = motion;
    EXPECT_EQ(router->route(E::mouseMoved, plain), TapVerdict::pass);
    EXPECT_EQ(plain.integerValueField(F::mouseEventDeltaX), 7);
    EXPECT_EQ(plain.integerValueField(F::mouseEventDeltaY), -1);
    EXPECT_EQ(plain.location(), (Point{100, 100}));

    pointer->repositions = true;
    Event moved = motion;
    EXPECT_EQ(router->route(E::leftMouseDragged, moved), TapVerdict::pass);
    EXPECT_EQ(moved.location(), (Point{103, 101})); // 100 - 4 + 7, 100 + 2 - 1

    ASSERT_EQ(pointer->motions.size(), 3u);
    EXPECT_EQ(pointer->motions[0].delta, (PointerDelta{4, -2}));
    EXPECT_EQ(pointer->motions[0].deviceID, DeviceID(target.registryID));
    const auto m = router->snapshotMetrics();
    EXPECT_EQ(m.pointerSkippedDisabled, 1);
    EXPECT_EQ(m.pointerHandled, 2);
    EXPECT_EQ(m.passedThrough, 3);
    EXPECT_EQ(m.suppressed, 0);
}

TEST_F(InputRouterTest, WithACursorMoverTheRawMovementIsUsedAndAFailedMoveResetsThePipeline) {
    auto cursor = std::make_shared<FakeCursor>();
    auto router = makeRouter(cursor);
    pointer->outcome = {PointerDisposition::transformed, 3, 5};
    Event motion = from(target, SimulatedEventSystem::motionEvent(2, 2));
    motion.setDoubleValueField(F::unacceleratedPointerMovementX, 1.5);
    motion.setDoubleValueField(F::unacceleratedPointerMovementY, -0.5);

    cursor->answer = Point{300, 200};
    Event warped = motion;
    EXPECT_EQ(router->route(E::mouseMoved, warped), TapVerdict::pass);
    EXPECT_EQ(warped.location(), (Point{300, 200}));
    EXPECT_EQ(warped.integerValueField(F::mouseEventDeltaX), 3);
    EXPECT_EQ(pointer->motions.back().delta, (PointerDelta{1.5, -0.5}));

    cursor->answer = std::nullopt;
    Event unmoved = motion;
    EXPECT_EQ(router->route(E::mouseMoved, unmoved), TapVerdict::pass);
    EXPECT_EQ(unmoved, motion); // passes with its incoming deltas
    EXPECT_EQ(pointer->resets, 1);
    EXPECT_EQ(cursor->moves, (std::vector<std::pair<std::int64_t, std::int64_t>>{{3, 5}, {3, 5}}));
    const auto m = router->snapshotMetrics();
    EXPECT_EQ(m.pointerHandled, 1);
    EXPECT_EQ(m.passedThrough, 1);
}

TEST_F(InputRouterTest, ResetAllResetsButtonsThenScrollThenPointer) {
    auto router = makeRouter();
    router->resetAll();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"buttons", "scroll", "pointer"}));
}

TEST(EventReadersTest, ReadersQualifyTheirEvents) {
    EXPECT_FALSE(scrollInput(SimulatedEventSystem::wheelEvent(0, 0), DeviceID(1)));
    EXPECT_FALSE(scrollInput(SimulatedEventSystem::continuousWheelEvent(5), DeviceID(1)));
    EXPECT_FALSE(buttonEvent(SimulatedEventSystem::motionEvent(1, 1)));
    const auto four = buttonEvent(SimulatedEventSystem::buttonEvent(E::otherMouseDown, 4));
    ASSERT_TRUE(four);
    EXPECT_EQ(four->button, 4);
    EXPECT_TRUE(four->isDown);
    const auto right = buttonEvent(SimulatedEventSystem::buttonEvent(E::rightMouseUp, 9));
    ASSERT_TRUE(right);
    EXPECT_EQ(right->button, 1); // the type decides for left and right
    EXPECT_FALSE(right->isDown);

    EXPECT_FALSE(pointerMotion(SimulatedEventSystem::motionEvent(0, 0), DeviceID(1), false));
    Event odd = SimulatedEventSystem::motionEvent(1, 1);
    odd.setDoubleValueField(F::unacceleratedPointerMovementX, std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(pointerMotion(odd, DeviceID(1), true));
    EXPECT_TRUE(pointerMotion(odd, DeviceID(1), false));

    Event stamped(E::mouseMoved);
    stamped.setTimestamp(1'234'500'000);
    EXPECT_EQ(timestampMillis(stamped), 1234.5);
    const double before = MonotonicClock::now();
    const double unstamped = timestampMillis(Event(E::mouseMoved));
    EXPECT_GE(unstamped, before);
    EXPECT_LE(unstamped, MonotonicClock::now());
}

TEST(InputRouterEndToEndTest, TheTapRoutesTargetEventsAndLetsOwnAndForeignEventsThrough) {
    auto system = std::make_shared<SimulatedEventSystem>();
    auto hid = std::make_shared<SimulatedPrivateHIDEventSystem>();
    const auto target = SimulatedDevice::targetMouse();
    const auto other = SimulatedDevice::otherMouse();
    hid->attach(target);
    hid->attach(other);
    auto scope = DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(hid));
    scope->refreshNow();
    Log log;
    auto scroll = std::make_shared<FakeScroll>(log);
    auto router = std::make_shared<InputRouter>(scope, scroll, std::make_shared<FakeButtons>(log),
                                                std::make_shared<FakePointer>(log));
    auto tap = EventTapController::create(
        system,
        {EventTapController::defaultEventMask, EventTapOptions::defaultTap, EventTapLocation::session,
         EventTapPlacement::headInsert, 2.0},
        nullptr, [router](EventType type, Event& event) { return router->route(type, event); });
    ASSERT_TRUE(tap->start());

    system->inject(other, SimulatedEventSystem::wheelEvent(1));
    system->inject(target, SimulatedEventSystem::wheelEvent(1));
    ASSERT_TRUE(system->waitUntilIdle());
    CGEventPoster poster(system, EventTapLocation::session);
    poster.postScrollStep(ScrollAxis::vertical, -12, ScrollPhase::began, ModifierFlags::none, -12);
    ASSERT_TRUE(system->waitUntilIdle());
    tap->stop();

    const auto delivered = system->delivered();
    ASSERT_EQ(delivered.size(), 2u); // the other mouse's detent and our own step
    EXPECT_EQ(delivered[0].hidSenderID(), other.registryID);
    EXPECT_TRUE(isRavoletEmitted(delivered[1]));
    EXPECT_EQ(system->swallowed().size(), 1u); // the target's detent
    const auto m = router->snapshotMetrics();
    EXPECT_EQ(m.selfEmittedSeen, 1);
    EXPECT_EQ(m.fromForeignDevice, 1);
    EXPECT_EQ(m.scrollHandled, 1);
    EXPECT_EQ(tap->snapshotMetrics().events, 3);
}

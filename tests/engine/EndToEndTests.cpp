#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "Core/ButtonRouter.hpp"
#include "Core/PointerSettings.hpp"
#include "Core/ScrollSettings.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "PipelineTestSupport.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedDevice.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "RavoletEngine/EventPath/ButtonPipeline.hpp"
#include "RavoletEngine/EventPath/CGEventPoster.hpp"
#include "RavoletEngine/EventPath/DeviceScope.hpp"
#include "RavoletEngine/EventPath/EventTapController.hpp"
#include "RavoletEngine/EventPath/InputRouter.hpp"
#include "RavoletEngine/EventPath/MacroExecutor.hpp"
#include "RavoletEngine/EventPath/PointerPipeline.hpp"
#include "RavoletEngine/EventPath/PrivateSPI.hpp"
#include "RavoletEngine/EventPath/RavoletEventTag.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

// The whole event path on the simulated machine: hardware events enter the
// simulated event system, pass the program's tap on its own thread, go through
// the router, the device scope and a pipeline, and what the pipelines post
// comes back through the tap and reaches the "system". The pipelines' queues
// run on virtual time, so every step is checked at its exact moment.

namespace ravolet {
namespace {

using namespace std::chrono_literals;
using platform::Event;
using platform::SimulatedDevice;
using platform::SimulatedEventSystem;
namespace Types = platform::EventTypes;
namespace Fields = platform::EventFields;

constexpr std::uint64_t startNanos = 10'000'000'000;

bool isTagged(const Event& e) { return e.integerValueField(Fields::eventSourceUserData) == RavoletEventTag::value; }

std::vector<Event> ofType(const std::vector<Event>& events, platform::EventType type) {
    std::vector<Event> found;
    std::ranges::copy_if(events, std::back_inserter(found), [type](const Event& e) { return e.type() == type; });
    return found;
}

std::int64_t pixelsOf(const Event& e) { return e.integerValueField(Fields::scrollWheelEventPointDeltaAxis1); }
std::int64_t phaseOf(const Event& e) { return e.integerValueField(Fields::scrollWheelEventScrollPhase); }

ScrollSettings smoothing() {
    ScrollSettings s;
    s.isEnabled = true;
    return s;
}

ButtonBinding bind(std::int64_t button, Action action) { return ButtonBinding{button, {}, std::move(action), true}; }

struct Machine {
    std::shared_ptr<platform::ManualScheduler> clock = std::make_shared<platform::ManualScheduler>(startNanos);
    std::shared_ptr<SimulatedEventSystem> events =
        std::make_shared<SimulatedEventSystem>([clock = clock] { return clock->nowNanos(); });
    std::shared_ptr<platform::SimulatedPrivateHIDEventSystem> hid =
        std::make_shared<platform::SimulatedPrivateHIDEventSystem>();
    SimulatedDevice mouse = SimulatedDevice::targetMouse();
    SimulatedDevice trackpad = SimulatedDevice::trackpad();
    SimulatedDevice otherMouse = SimulatedDevice::otherMouse();
    std::shared_ptr<testing::RecordingSideEffects> dpiSink = std::make_shared<testing::RecordingSideEffects>();

    std::shared_ptr<DeviceScope> scope;
    std::shared_ptr<ScrollPipeline> scroll;
    std::shared_ptr<MacroExecutor> executor;
    std::shared_ptr<ButtonPipeline> buttons;
    std::shared_ptr<PointerPipeline> pointer;
    std::shared_ptr<InputRouter> router;
    std::shared_ptr<EventTapController> tap;

    explicit Machine(std::vector<ButtonBinding> bindings = {},
                     PointerSettings pointerSettings = PointerSettings{true, 1600, PointerCurve{2.0, PointerAcceleration::off()}}) {
        for (const auto& device : {mouse, trackpad, otherMouse}) hid->attach(device);
        scope = DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(hid), clock);
        clock->runUntilIdle();

        auto poster = std::make_shared<CGEventPoster>(events, platform::EventTapLocation::session);
        scroll = ScrollPipeline::create(smoothing(), poster, clock);
        executor = MacroExecutor::create(poster, dpiSink, clock);
        buttons = std::make_shared<ButtonPipeline>(ButtonRouter(std::move(bindings), 1600), executor);
        pointer = std::make_shared<PointerPipeline>(pointerSettings, false);
        router = std::make_shared<InputRouter>(scope, scroll, buttons, pointer);

        EventTapController::Configuration configuration;
        configuration.eventsOfInterest = EventTapController::defaultEventMask;
        tap = EventTapController::create(events, configuration, {}, [router = router](platform::EventType type, Event& event) {
            return router->route(type, event);
        });
    }
    ~Machine() { tap->stop(); }

    // Every injected and posted event has been through the taps.
    void settle() const { ASSERT_TRUE(events->waitUntilIdle(20s)); }
    void inject(const SimulatedDevice& device, Event event) {
        events->inject(device, std::move(event));
        settle();
    }
    // Runs the pipelines' queues up to `offset` after the start, then lets
    // what they posted reach the system.
    void runTo(std::chrono::nanoseconds offset) {
        clock->advanceTo(startNanos + static_cast<std::uint64_t>(offset.count()));
        settle();
    }
    void runFor(std::chrono::nanoseconds span) {
        clock->advance(span);
        settle();
    }
    std::vector<Event> deliveredOfType(platform::EventType type) const { return ofType(events->delivered(), type); }
};

TEST(EndToEnd, ADetentIsSwallowedAndItsGlideReachesTheSystemAsTaggedPhasedPixelStepsAtThePlansTimes) {
    Machine m;
    ASSERT_TRUE(m.tap->start());
    ASSERT_TRUE(m.scope->isTargetAttached());

    m.inject(m.mouse, SimulatedEventSystem::wheelEvent(1));
    EXPECT_TRUE(m.deliveredOfType(Types::scrollWheel).empty());
    ASSERT_EQ(ofType(m.events->swallowed(), Types::scrollWheel).size(), 1u);

    const std::vector<int> offsets{8,   16,  24,  32,  40,  48,  56,  64,  72,  80,  88, 96,
                                   104, 112, 120, 128, 136, 144, 152, 160, 176, 200, 250};
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        m.runTo(std::chrono::milliseconds(offsets[i]) - 1us);
        ASSERT_EQ(m.deliveredOfType(Types::scrollWheel).size(), i);
        m.runTo(std::chrono::milliseconds(offsets[i]));
        ASSERT_EQ(m.deliveredOfType(Types::scrollWheel).size(), i + 1) << "the step at " << offsets[i] << " ms";
    }

    const auto steps = m.deliveredOfType(Types::scrollWheel);
    std::int64_t total = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& step = steps[i];
        EXPECT_TRUE(isTagged(step));
        EXPECT_EQ(step.integerValueField(Fields::scrollWheelEventIsContinuous), 1);
        EXPECT_EQ(step.integerValueField(Fields::scrollWheelEventDeltaAxis1), 0);
        EXPECT_EQ(step.timestamp(), startNanos + static_cast<std::uint64_t>(offsets[i]) * 1'000'000);
        EXPECT_EQ(phaseOf(step), i == 0 ? 1 : (i + 1 == steps.size() ? 4 : 2)) << "step " << i;
        total += pixelsOf(step);
    }
    EXPECT_EQ(pixelsOf(steps.front()), 5);
    EXPECT_EQ(total, 50);

    const auto r = m.router->snapshotMetrics();
    EXPECT_EQ(r.scrollHandled, 1);
    EXPECT_EQ(r.suppressed, 1);
    EXPECT_EQ(r.selfEmittedSeen, 23);
}

TEST(EndToEnd, ASecondDetentMidGlideSupersedesTheFirstWithoutLosingOrDoublingPixels) {
    Machine m;
    ASSERT_TRUE(m.tap->start());
    m.inject(m.mouse, SimulatedEventSystem::wheelEvent(1));
    m.runTo(39ms);
    m.inject(m.mouse, SimulatedEventSystem::wheelEvent(1));
    m.runFor(1s);

    const auto steps = m.deliveredOfType(Types::scrollWheel);
    const auto total = std::accumulate(steps.begin(), steps.end(), std::int64_t{0},
                                       [](std::int64_t sum, const Event& e) { return sum + pixelsOf(e); });
    EXPECT_EQ(total, 160) << "50, then 50 × 2.2 for the second detent of a streak";
    EXPECT_EQ(std::ranges::count_if(steps, [](const Event& e) { return phaseOf(e) == 1; }), 1);
    EXPECT_EQ(std::ranges::count_if(steps, [](const Event& e) { return phaseOf(e) == 4; }), 1);
    EXPECT_EQ(phaseOf(steps.back()), 4);
    EXPECT_TRUE(std::ranges::all_of(steps, isTagged));
    EXPECT_EQ(m.scroll->snapshotMetrics().plansSuperseded, 1);
    EXPECT_EQ(m.scroll->inFlightPlanCount(), 0u);
}

TEST(EndToEnd, ATrackpadsScrollAndAContinuousScrollOfTheMousePassUntouched) {
    Machine m;
    ASSERT_TRUE(m.tap->start());
    m.inject(m.trackpad, SimulatedEventSystem::continuousWheelEvent(30));
    m.inject(m.trackpad, SimulatedEventSystem::wheelEvent(2));
    m.inject(m.mouse, SimulatedEventSystem::continuousWheelEvent(-12));
    m.runFor(1s);

    const auto passed = m.deliveredOfType(Types::scrollWheel);
    ASSERT_EQ(passed.size(), 3u);
    EXPECT_EQ(pixelsOf(passed[0]), 30);
    EXPECT_EQ(passed[1].integerValueField(Fields::scrollWheelEventDeltaAxis1), 2);
    EXPECT_EQ(pixelsOf(passed[2]), -12);
    EXPECT_TRUE(std::ranges::none_of(passed, isTagged));
    EXPECT_TRUE(m.events->swallowed().empty());
    const auto r = m.router->snapshotMetrics();
    EXPECT_EQ(r.fromForeignDevice, 2);
    EXPECT_EQ(r.scrollHandled, 0);
    EXPECT_EQ(m.scroll->snapshotMetrics(), ScrollPipeline::Metrics{});
}

TEST(EndToEnd, ABoundButtonBecomesItsKeyStrokeAndNothingOfTheClickReachesTheSystem) {
    Machine m({bind(4, Action::keyStroke(0, ModifierFlags::command))});
    ASSERT_TRUE(m.tap->start());
    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseDown, 4));
    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseUp, 4));
    m.runFor(0ms);

    std::vector<std::pair<platform::EventType, std::int64_t>> seen;
    for (const auto& e : m.events->delivered()) {
        EXPECT_TRUE(isTagged(e));
        EXPECT_NE(e.type(), Types::otherMouseDown);
        EXPECT_NE(e.type(), Types::otherMouseUp);
        seen.emplace_back(e.type(), e.integerValueField(Fields::keyboardEventKeycode));
    }
    // Left command (55) goes down around the key and up after it.
    const std::vector<std::pair<platform::EventType, std::int64_t>> expected{
        {Types::flagsChanged, 55}, {Types::keyDown, 0}, {Types::keyUp, 0}, {Types::flagsChanged, 55}};
    EXPECT_EQ(seen, expected);
    const auto keys = m.deliveredOfType(Types::keyDown);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_NE(keys.front().flags() & platform::EventFlagBits::command, 0u);
    EXPECT_EQ(m.events->swallowed().size(), 2u);

    // An unbound button of the same mouse passes.
    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseDown, 3));
    EXPECT_EQ(m.deliveredOfType(Types::otherMouseDown).size(), 1u);
}

TEST(EndToEnd, ARepeatFiresUntilTheReleaseAndStopsOnAReset) {
    Machine m({bind(5, Action::repeatWhileHeld(MacroStep::key(125, {}), 10))});
    ASSERT_TRUE(m.tap->start());
    const auto repetitions = [&] {
        return std::ranges::count_if(m.deliveredOfType(Types::keyDown),
                                     [](const Event& e) { return e.integerValueField(Fields::keyboardEventKeycode) == 125; });
    };

    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseDown, 5));
    m.runFor(0ms);
    EXPECT_EQ(repetitions(), 1) << "once at the press";
    m.runFor(35ms);
    EXPECT_EQ(repetitions(), 4) << "then at 10, 20 and 30 ms";
    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseUp, 5));
    m.runFor(100ms);
    EXPECT_EQ(repetitions(), 4);

    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseDown, 5));
    m.runFor(25ms);
    EXPECT_EQ(repetitions(), 7);
    m.router->resetAll();
    m.runFor(100ms);
    EXPECT_EQ(repetitions(), 7);
    EXPECT_EQ(m.executor->activeRepeatCount(), 0u);
    EXPECT_EQ(m.deliveredOfType(Types::keyUp).size(), 7u) << "every key that went down came up";
    EXPECT_TRUE(m.deliveredOfType(Types::otherMouseDown).empty());
}

TEST(EndToEnd, DpiShiftPressesAndReleasesReachTheDpiSinkInTheRoutersOrder) {
    Machine m({bind(6, Action::dpiShift(400)), bind(7, Action::dpiShift(800))});
    ASSERT_TRUE(m.tap->start());
    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseDown, 6));
    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseDown, 7));
    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseUp, 6));
    m.inject(m.mouse, SimulatedEventSystem::buttonEvent(Types::otherMouseUp, 7));
    m.runFor(0ms);
    EXPECT_EQ(m.dpiSink->log.lines(), (std::vector<std::string>{"requestDPI(400)", "requestDPI(800)", "requestDPI(1600)"}));
    EXPECT_TRUE(m.events->delivered().empty());
}

TEST(EndToEnd, MotionOfTheTargetMouseIsReshapedAndMotionOfOthersIsNot) {
    Machine m;
    ASSERT_TRUE(m.tap->start());
    m.inject(m.mouse, SimulatedEventSystem::motionEvent(3, 4));
    m.inject(m.otherMouse, SimulatedEventSystem::motionEvent(3, 4));
    m.inject(m.mouse, SimulatedEventSystem::motionEvent(-1, 0, Types::leftMouseDragged));

    const auto moved = m.events->delivered();
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved[0].integerValueField(Fields::mouseEventDeltaX), 6);
    EXPECT_EQ(moved[0].integerValueField(Fields::mouseEventDeltaY), 8);
    EXPECT_EQ(moved[1].integerValueField(Fields::mouseEventDeltaX), 3);
    EXPECT_EQ(moved[1].integerValueField(Fields::mouseEventDeltaY), 4);
    EXPECT_EQ(moved[2].integerValueField(Fields::mouseEventDeltaX), -2);
    EXPECT_TRUE(m.events->swallowed().empty());
    EXPECT_EQ(m.router->snapshotMetrics().pointerHandled, 2);
    EXPECT_EQ(m.pointer->snapshotMetrics().samplesTransformed, 2);
}

} // namespace
} // namespace ravolet

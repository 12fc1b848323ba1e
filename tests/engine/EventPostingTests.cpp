#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "RavoletEngine/EventPath/CGEventPoster.hpp"
#include "RavoletEngine/EventPath/EventFlagMapping.hpp"
#include "RavoletEngine/EventPath/RavoletEventTag.hpp"
#include "RavoletEngine/EventPath/RecordingEventPoster.hpp"

using namespace ravolet;
using namespace ravolet::platform;
namespace E = ravolet::platform::EventTypes;
namespace F = ravolet::platform::EventFields;

namespace {

// type, key code and flags of one posted keyboard event.
struct Key {
    EventType type;
    std::int64_t code;
    EventFlags flags;
    friend bool operator==(const Key&, const Key&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Key& k) {
        return os << "{" << k.type << ", " << k.code << ", 0x" << std::hex << k.flags << std::dec << "}";
    }
};

struct EventPostingTest : ::testing::Test {
    std::shared_ptr<SimulatedEventSystem> system = std::make_shared<SimulatedEventSystem>();
    CGEventPoster poster{system, EventTapLocation::session};

    std::vector<Key> postedKeys() {
        std::vector<Key> keys;
        for (const auto& e : system->posted()) {
            EXPECT_TRUE(isRavoletEmitted(e)) << e;
            keys.push_back({e.type(), e.integerValueField(F::keyboardEventKeycode), e.flags()});
        }
        return keys;
    }
};

constexpr EventFlags leftCommand = 0x100000 | 0x8;

} // namespace

TEST(RavoletEventTagTest, TheTagIsRavoletInASCIIAndMarksEventsAndSources) {
    EXPECT_EQ(RavoletEventTag::value, 23152787043665236);
    std::string text;
    for (int shift = 48; shift >= 0; shift -= 8) text += static_cast<char>((RavoletEventTag::value >> shift) & 0xFF);
    EXPECT_EQ(text, "RAVOLET");

    Event event(E::scrollWheel);
    EXPECT_FALSE(isRavoletEmitted(event));
    tagAsRavoletEmitted(event);
    EXPECT_TRUE(isRavoletEmitted(event));
    EXPECT_EQ(event.integerValueField(42), RavoletEventTag::value);

    SimulatedEventSystem system;
    const auto source = RavoletEventTag::makeSource(system);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->stateID(), EventSourceStateID::privateState);
    EXPECT_EQ(source->userData(), RavoletEventTag::value);
    EXPECT_EQ(source->localEventsFilterDuringSuppressionState(EventSuppressionState::suppressionInterval), 7u);
    const EventSource untouched(EventSourceStateID::privateState);
    EXPECT_EQ(source->localEventsFilterDuringSuppressionState(EventSuppressionState::remoteMouseDrag),
              untouched.localEventsFilterDuringSuppressionState(EventSuppressionState::remoteMouseDrag));
    EXPECT_EQ(source->localEventsSuppressionInterval(), untouched.localEventsSuppressionInterval());
    system.setSourcesAllowed(false);
    EXPECT_EQ(RavoletEventTag::makeSource(system), nullptr);
}

TEST(EventFlagMappingTest, ModifierFlagsMapToEventFlagsBothWays) {
    const auto all = ModifierFlags(63);
    EXPECT_EQ(eventFlags(all), 0x10000u | 0x20000 | 0x40000 | 0x80000 | 0x100000 | 0x800000);
    EXPECT_EQ(modifierFlags(eventFlags(all)), all);
    EXPECT_EQ(eventFlags(ModifierFlags(64 | 16)), 0x100000u);         // unnamed bits are ignored
    EXPECT_EQ(modifierFlags(0x100000 | 0x8 | 0x200000), ModifierFlags::command); // device and keypad bits too
}

TEST_F(EventPostingTest, AKeyStrokeWithCommandPressesAndReleasesLeftCommandAroundIt) {
    poster.postKey(0, true, ModifierFlags::command);
    poster.postKey(0, false, ModifierFlags::command);
    EXPECT_EQ(postedKeys(), (std::vector<Key>{{E::flagsChanged, 55, leftCommand},
                                              {E::keyDown, 0, leftCommand},
                                              {E::keyUp, 0, leftCommand},
                                              {E::flagsChanged, 55, 0}}));
    EXPECT_TRUE(poster.keyboard()->heldKeys().empty());
    EXPECT_TRUE(poster.keyboard()->heldModifiers().empty());
    EXPECT_TRUE(poster.keyboard()->synthesizedModifiers().empty());
}

TEST_F(EventPostingTest, SeveralModifiersArePressedInTableOrderAndReleasedInReverse) {
    poster.postKey(1, true, ModifierFlags::of({ModifierFlags::shift, ModifierFlags::control, ModifierFlags::function}));
    poster.postKey(1, false, ModifierFlags::none); // the up carries the modifiers given at the down
    const EventFlags ctrl = 0x40000 | 0x1, shift = 0x20000 | 0x2, fn = 0x800000;
    EXPECT_EQ(postedKeys(), (std::vector<Key>{{E::flagsChanged, 59, ctrl},
                                              {E::flagsChanged, 56, ctrl | shift},
                                              {E::flagsChanged, 63, ctrl | shift | fn},
                                              {E::keyDown, 1, ctrl | shift | fn},
                                              {E::keyUp, 1, ctrl | shift | fn},
                                              {E::flagsChanged, 63, ctrl | shift},
                                              {E::flagsChanged, 56, ctrl},
                                              {E::flagsChanged, 59, 0}}));
}

TEST_F(EventPostingTest, ModifierKeysTheUserHoldsAreNeverPressedOrReleased) {
    system->setKeyDown(55, true); // the user holds left command
    poster.postKey(0, true, ModifierFlags::command);
    poster.postKey(0, false, ModifierFlags::command);
    EXPECT_EQ(postedKeys(), (std::vector<Key>{{E::keyDown, 0, leftCommand}, {E::keyUp, 0, leftCommand}}));
    EXPECT_TRUE(poster.keyboard()->synthesizedModifiers().empty());
}

TEST_F(EventPostingTest, AHeldModifierKeyPressesOnlyItself) {
    poster.postKey(60, true, ModifierFlags::shift); // right shift
    EXPECT_EQ(poster.keyboard()->heldModifiers(), std::set<std::uint16_t>{60});
    poster.postKey(60, false, ModifierFlags::shift);
    EXPECT_EQ(postedKeys(), (std::vector<Key>{{E::flagsChanged, 60, 0x20000 | 0x4}, {E::flagsChanged, 60, 0}}));
}

TEST_F(EventPostingTest, CapsLockComesFromTheModifiersOrTheSystemState) {
    poster.postKey(2, true, ModifierFlags::capsLock);
    system->setFlagsState(0x10000);
    poster.postKey(3, true, ModifierFlags::none);
    poster.postKey(3, false, ModifierFlags::option);
    system->setFlagsState(0);
    poster.postKey(2, false, ModifierFlags::none);
    EXPECT_EQ(postedKeys(), (std::vector<Key>{{E::keyDown, 2, 0x10000},
                                              {E::keyDown, 3, 0x10000},
                                              {E::keyUp, 3, 0x10000},
                                              {E::keyUp, 2, 0x10000}}));
}

TEST_F(EventPostingTest, AtTheHIDTapPointTheKeysThePosterPressedAreNotTakenForTheUsers) {
    KeyboardEventPoster keyboard(system);
    keyboard.post(0, true, ModifierFlags::command, EventTapLocation::hid);
    system->setKeyDown(55, true); // the HID state now shows the poster's own press
    keyboard.post(0, false, ModifierFlags::command, EventTapLocation::hid);
    EXPECT_EQ(postedKeys(), (std::vector<Key>{{E::flagsChanged, 55, leftCommand},
                                              {E::keyDown, 0, leftCommand},
                                              {E::keyUp, 0, leftCommand},
                                              {E::flagsChanged, 55, 0}})); // released, not left to the "user"
    EXPECT_TRUE(keyboard.heldModifiers().empty());
}

TEST_F(EventPostingTest, ConcurrentKeyStrokesKeepTheBookkeepingConsistent) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const auto code = static_cast<std::uint16_t>(t + 1);
                poster.postKey(code, true, t % 2 ? ModifierFlags::command : ModifierFlags::shift);
                poster.postKey(code, false, ModifierFlags::none);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_TRUE(poster.keyboard()->heldKeys().empty());
    EXPECT_TRUE(poster.keyboard()->heldModifiers().empty());
    int downs = 0, ups = 0;
    for (const auto& k : postedKeys()) {
        if (k.type != E::flagsChanged) continue;
        // A press carries the key's own device flag, a release no longer does.
        const bool down = (k.flags & (k.code == 55 ? 0x8 : 0x2)) != 0;
        ++(down ? downs : ups);
    }
    EXPECT_EQ(downs, ups);
}

TEST_F(EventPostingTest, ScrollStepsArePixelContinuousPhasedAndTagged) {
    poster.postScrollStep(ScrollAxis::vertical, -12, ScrollPhase::began,
                          ModifierFlags::of({ModifierFlags::shift, ModifierFlags::capsLock}), -50);
    poster.postScrollStep(ScrollAxis::horizontal, 7, ScrollPhase::changed, ModifierFlags::none, 7);
    poster.postScrollStep(ScrollAxis::vertical, 0, ScrollPhase::ended, ModifierFlags::none, 0);
    poster.postScrollStep(ScrollAxis::vertical, 3'000'000'000, ScrollPhase::changed, ModifierFlags::none, 3'000'000'000);
    const auto posted = system->posted();
    ASSERT_EQ(posted.size(), 4u);
    for (const auto& e : posted) {
        EXPECT_EQ(e.type(), E::scrollWheel);
        EXPECT_TRUE(isRavoletEmitted(e));
        EXPECT_EQ(e.integerValueField(F::scrollWheelEventIsContinuous), 1);
        EXPECT_EQ(e.integerValueField(F::scrollWheelEventDeltaAxis1), 0);
        EXPECT_EQ(e.integerValueField(F::scrollWheelEventDeltaAxis2), 0);
        EXPECT_EQ(e.integerValueField(F::scrollWheelEventMomentumPhase), 0);
    }
    const auto& v = posted[0];
    EXPECT_EQ(v.integerValueField(F::scrollWheelEventPointDeltaAxis1), -12);
    EXPECT_EQ(v.integerValueField(F::scrollWheelEventPointDeltaAxis2), 0);
    EXPECT_EQ(v.doubleValueField(F::scrollWheelEventFixedPtDeltaAxis1), -12.0);
    EXPECT_EQ(v.doubleValueField(F::scrollWheelEventFixedPtDeltaAxis2), 0.0);
    EXPECT_EQ(v.integerValueField(F::scrollWheelEventScrollPhase), 1);
    EXPECT_EQ(v.integerValueField(F::ravoletGlideRemainingPixels), -50);
    EXPECT_EQ(v.flags(), 0x30000u);
    const auto& h = posted[1];
    EXPECT_EQ(h.integerValueField(F::scrollWheelEventPointDeltaAxis1), 0);
    EXPECT_EQ(h.integerValueField(F::scrollWheelEventPointDeltaAxis2), 7);
    EXPECT_EQ(h.doubleValueField(F::scrollWheelEventFixedPtDeltaAxis2), 7.0);
    EXPECT_EQ(h.integerValueField(F::scrollWheelEventScrollPhase), 2);
    EXPECT_EQ(posted[2].integerValueField(F::scrollWheelEventScrollPhase), 4); // a 0-pixel step still goes
    // The point delta carries the count unclamped.
    EXPECT_EQ(posted[3].integerValueField(F::scrollWheelEventPointDeltaAxis1), 3'000'000'000);
    EXPECT_EQ(posted[3].doubleValueField(F::scrollWheelEventFixedPtDeltaAxis1), 3e9);
}

TEST_F(EventPostingTest, MouseButtonsMapToTheirEventTypesAtTheCursor) {
    system->setCursorPosition({640, 400});
    poster.postMouseButton(0, true);
    poster.postMouseButton(1, false);
    poster.postMouseButton(4, true);
    poster.postMouseButton(2, false);
    const auto posted = system->posted();
    ASSERT_EQ(posted.size(), 4u);
    const std::vector<std::pair<EventType, std::int64_t>> expected{
        {E::leftMouseDown, 0}, {E::rightMouseUp, 1}, {E::otherMouseDown, 4}, {E::otherMouseUp, 2}};
    for (std::size_t i = 0; i < posted.size(); ++i) {
        EXPECT_EQ(posted[i].type(), expected[i].first);
        EXPECT_EQ(posted[i].integerValueField(F::mouseEventButtonNumber), expected[i].second);
        EXPECT_EQ(posted[i].location(), (Point{640, 400}));
        EXPECT_TRUE(isRavoletEmitted(posted[i]));
    }
}

TEST_F(EventPostingTest, NothingIsPostedWhenTheSystemRefusesSourcesOrEvents) {
    system->setSourcesAllowed(false);
    poster.postScrollStep(ScrollAxis::vertical, 5, ScrollPhase::began, ModifierFlags::none, 5);
    poster.postMouseButton(0, true);
    poster.postKey(0, true, ModifierFlags::command);
    system->setSourcesAllowed(true);
    system->setEventsAllowed(false);
    poster.postScrollStep(ScrollAxis::vertical, 5, ScrollPhase::began, ModifierFlags::none, 5);
    poster.postMouseButton(0, true);
    EXPECT_TRUE(system->posted().empty());
}

TEST(RecordingEventPosterTest, RecordsEverythingDescribesItAndForwardsScrollSteps) {
    auto forward = std::make_shared<RecordingEventPoster>();
    RecordingEventPoster recorder(forward);
    recorder.postScrollStep(ScrollAxis::vertical, -12, ScrollPhase::began, ModifierFlags::none, -12);
    recorder.postKey(0, false, ModifierFlags::command);
    recorder.postMouseButton(3, true);
    recorder.postScrollStep(ScrollAxis::horizontal, 4, ScrollPhase::ended, ModifierFlags(18), 4);

    std::vector<std::string> texts;
    for (const auto& e : recorder.emissions()) texts.push_back(e.description());
    EXPECT_EQ(texts, (std::vector<std::string>{"scroll(vertical -12px began mods=0)", "key(0 up mods=16)",
                                               "mouseButton(3 down)", "scroll(horizontal 4px ended mods=18)"}));
    EXPECT_EQ(forward->emissions(),
              (std::vector<RecordingEventPoster::Emission>{
                  RecordingEventPoster::Emission::scroll(ScrollAxis::vertical, -12, ScrollPhase::began, ModifierFlags::none),
                  RecordingEventPoster::Emission::scroll(ScrollAxis::horizontal, 4, ScrollPhase::ended, ModifierFlags(18))}));
    EXPECT_NE(RecordingEventPoster::Emission::key(0, true, ModifierFlags::none),
              RecordingEventPoster::Emission::key(0, false, ModifierFlags::none));
    recorder.reset();
    EXPECT_TRUE(recorder.emissions().empty());
}

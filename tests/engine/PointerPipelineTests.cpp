#include <gtest/gtest.h>

#include <memory>

#include "Core/PointerSettings.hpp"
#include "Platform/Simulated/SimulatedDisplays.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "RavoletEngine/EventPath/CGPointerCursor.hpp"
#include "RavoletEngine/EventPath/PointerPipeline.hpp"

namespace ravolet {
namespace {

const DeviceID mouse{0xC0990001};
const DeviceID otherMouse{0x1234};

// Gain = speed / 100 above 100 counts per second: (30, 40) over i ms has a
// speed of 50000 / i, so the outcome tells which interval was used.
const PointerCurve speedProbe{1.0, PointerAcceleration::curve(1.0, 100, 1e9)};

PointerSettings enabled(PointerCurve curve) { return PointerSettings{true, 1600, curve}; }

PointerOutcome transformed(std::int64_t dx, std::int64_t dy) { return {PointerDisposition::transformed, dx, dy}; }

PointerMotion sample(double dx, double dy, double atMillis, DeviceID device = mouse) {
    return PointerMotion{PointerDelta{dx, dy}, atMillis, device};
}

TEST(PointerPipeline, TimesEachSampleAgainstThePreviousOneOfTheSameDevice) {
    PointerPipeline pipeline(enabled(speedProbe), false);
    EXPECT_FALSE(pipeline.repositionsCursor());
    EXPECT_TRUE(pipeline.isEnabled());

    // The first sample cannot be timed: the curve's sensitivity alone.
    EXPECT_EQ(pipeline.handle(sample(30, 40, 1000)), transformed(30, 40));
    auto m = pipeline.snapshotMetrics();
    EXPECT_EQ(m.accumulatorResets, 1);
    EXPECT_EQ(m.deviceChanges, 0);

    EXPECT_EQ(pipeline.handle(sample(30, 40, 1250)), transformed(60, 80)) << "250 ms is still a speed";
    EXPECT_EQ(pipeline.handle(sample(30, 40, 1500.5)), transformed(30, 40)) << "250.5 ms is a pause";
    EXPECT_EQ(pipeline.handle(sample(30, 40, 1500.6)), transformed(60000, 80000)) << "0.1 ms counts as 0.25 ms";
    EXPECT_EQ(pipeline.handle(sample(30, 40, 1500.6)), transformed(30, 40)) << "a time stamp that does not move";
    EXPECT_EQ(pipeline.handle(sample(30, 40, 1400)), transformed(30, 40)) << "a time stamp going backwards";
    // ... which still becomes the previous time stamp.
    EXPECT_EQ(pipeline.handle(sample(30, 40, 1650)), transformed(60, 80));

    m = pipeline.snapshotMetrics();
    EXPECT_EQ(m.samplesSeen, 7);
    EXPECT_EQ(m.samplesTransformed, 7);
    EXPECT_EQ(m.accumulatorResets, 1);
    EXPECT_EQ(m.pixelsIn, 7 * 70);
    EXPECT_EQ(m.pixelsOut, 4 * 70 + 2 * 140 + 140000);

    // A previous time stamp of 0 cannot time the next sample.
    pipeline.reset();
    EXPECT_EQ(pipeline.handle(sample(30, 40, 0)), transformed(30, 40));
    EXPECT_EQ(pipeline.handle(sample(30, 40, 100)), transformed(30, 40));
}

TEST(PointerPipeline, CarriesSubPixelRestsUntilTheStreamIsInterrupted) {
    PointerPipeline pipeline(enabled(PointerCurve::linear), true);
    EXPECT_TRUE(pipeline.repositionsCursor());

    // 0.4 is no pixel of input; 0.6 is one that the carry holds back.
    EXPECT_EQ(pipeline.handle(sample(0.4, 0, 10)), transformed(0, 0));
    EXPECT_EQ(pipeline.snapshotMetrics().subPixelHolds, 0);
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 20)), transformed(1, 0));
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 30)), transformed(0, 0));
    EXPECT_EQ(pipeline.snapshotMetrics().subPixelHolds, 1);

    // Another device drops the carry of the first.
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 40, otherMouse)), transformed(0, 0));
    EXPECT_EQ(pipeline.handle(sample(-0.7, 0, 50, otherMouse)), transformed(0, 0));
    auto m = pipeline.snapshotMetrics();
    EXPECT_EQ(m.deviceChanges, 1);
    EXPECT_EQ(m.accumulatorResets, 2);

    // Back on the first device: a change again, and no carry from before.
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 60)), transformed(0, 0));
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 70)), transformed(1, 0));
    m = pipeline.snapshotMetrics();
    EXPECT_EQ(m.deviceChanges, 2);
    EXPECT_EQ(m.accumulatorResets, 3);

    // A reset and new settings each drop the carry and the history.
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 80)), transformed(0, 0));
    pipeline.reset();
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 90)), transformed(0, 0));
    pipeline.setSettings(enabled(PointerCurve::desktop));
    EXPECT_EQ(pipeline.settings(), enabled(PointerCurve::desktop));
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 100)), transformed(0, 0));
    m = pipeline.snapshotMetrics();
    // Each of reset() and new settings counts one, and so does the first sample after each.
    EXPECT_EQ(m.accumulatorResets, 7);
    EXPECT_EQ(m.deviceChanges, 2) << "a sample after a reset is no device change";

    pipeline.resetMetrics();
    EXPECT_EQ(pipeline.snapshotMetrics(), PointerPipeline::Metrics{});
}

TEST(PointerPipeline, SwitchedOffItPassesEverySampleAndKeepsItsState) {
    PointerPipeline pipeline(enabled(PointerCurve::linear), false);
    EXPECT_EQ(pipeline.handle(sample(0.6, 0, 10)), transformed(0, 0));

    auto off = enabled(PointerCurve::linear);
    off.isEnabled = false;
    pipeline.setSettings(off);
    EXPECT_FALSE(pipeline.isEnabled());
    pipeline.resetMetrics();
    EXPECT_EQ(pipeline.handle(sample(5, 5, 20)), PointerOutcome::passThrough);
    PointerPipeline::Metrics expected;
    expected.samplesSeen = 1;
    expected.samplesPassedThrough = 1;
    EXPECT_EQ(pipeline.snapshotMetrics(), expected);
}

TEST(PointerPipeline, HugeDeltasSaturateTheCountersInsteadOfOverflowing) {
    PointerPipeline pipeline(enabled(PointerCurve::linear), false);
    pipeline.handle(sample(1e300, -1e300, 10));
    pipeline.handle(sample(1e300, 0, 20));
    EXPECT_EQ(pipeline.snapshotMetrics().pixelsIn, std::numeric_limits<std::int64_t>::max());
}

// --- The cursor mover ---------------------------------------------------------

struct CursorMoverTest : ::testing::Test {
    std::shared_ptr<platform::SimulatedEventSystem> events = std::make_shared<platform::SimulatedEventSystem>();
    std::shared_ptr<platform::SimulatedDisplays> displays = std::make_shared<platform::SimulatedDisplays>();

    void SetUp() override {
        // The left display is 1280 wide, the main one 1920 wide and lower.
        displays->addDisplay(2, platform::Rect{-1280, 0, 1280, 1024});
        displays->addDisplay(1, platform::Rect{0, 100, 1920, 1080});
        // As on the host, a warp moves the cursor that events are located at.
        displays->setWarpObserver([weak = std::weak_ptr(events)](platform::Point p) {
            if (auto e = weak.lock()) e->setCursorPosition(p);
        });
    }
};

TEST_F(CursorMoverTest, MovesTheCursorByWholePixelsAndKeepsItOnTheDisplays) {
    CGPointerCursor cursor(events, displays);
    events->setCursorPosition({100, 500});
    EXPECT_EQ(cursor.move(5, -3), (platform::Point{105, 497}));
    EXPECT_EQ(cursor.move(-200, 0), (platform::Point{-95, 497})) << "onto the neighbouring display";
    EXPECT_EQ(events->cursorPosition(), (platform::Point{-95, 497}));

    // Past the far left edge: onto that display's left edge, at the same height.
    events->setCursorPosition({-1275, 600});
    EXPECT_EQ(cursor.move(-50, 0), (platform::Point{-1280, 600}));
    // Past the right edge: the last column, maxX - 1.
    events->setCursorPosition({1900, 600});
    EXPECT_EQ(cursor.move(100, 0), (platform::Point{1919, 600}));
    // Off both displays, nearer to the left one's last column than to the
    // main one's top row.
    events->setCursorPosition({10, 110});
    EXPECT_EQ(cursor.move(0, -50), (platform::Point{-1, 60}));
    EXPECT_EQ(displays->warps().size(), 5u);
}

TEST_F(CursorMoverTest, ATieBetweenDisplaysGoesToTheOneListedFirst) {
    platform::SimulatedDisplays pair;
    pair.addDisplay(7, platform::Rect{0, 0, 100, 100});
    pair.addDisplay(8, platform::Rect{201, 0, 100, 100});
    // 50.5 from the last column of the first (99) and the first of the second (201).
    EXPECT_EQ(CGPointerCursor::placeOnDisplay(pair, {150, 50}), (platform::Point{99, 50}));

    platform::SimulatedDisplays reversed;
    reversed.addDisplay(8, platform::Rect{201, 0, 100, 100});
    reversed.addDisplay(7, platform::Rect{0, 0, 100, 100});
    EXPECT_EQ(CGPointerCursor::placeOnDisplay(reversed, {150, 50}), (platform::Point{201, 50}));

    // Displays with empty bounds and inactive ones are never chosen.
    platform::SimulatedDisplays odd;
    odd.addDisplay(1, platform::Rect{140, 40, 0, 20});
    odd.addDisplay(2, platform::Rect{150, 50, 10, 10}, false);
    odd.addDisplay(3, platform::Rect{0, 0, 100, 100});
    EXPECT_EQ(CGPointerCursor::placeOnDisplay(odd, {150, 50}), (platform::Point{99, 50}));
    EXPECT_EQ(CGPointerCursor::placeOnDisplay(platform::SimulatedDisplays{}, {0, 0}), std::nullopt);
}

TEST_F(CursorMoverTest, AnswersNoneWhenTheSystemCannotHelp) {
    events->setCursorPosition({100, 500});
    {
        events->setSourcesAllowed(false);
        CGPointerCursor withoutSource(events, displays);
        events->setSourcesAllowed(true);
        EXPECT_EQ(withoutSource.move(1, 1), std::nullopt);
    }
    CGPointerCursor cursor(events, displays);

    events->setEventsAllowed(false);
    EXPECT_EQ(cursor.move(1, 1), std::nullopt) << "the cursor position cannot be read";
    events->setEventsAllowed(true);

    displays->failWarp(platform::CGError::cannotComplete);
    EXPECT_EQ(cursor.move(1, 1), std::nullopt);
    displays->failWarp(std::nullopt);

    // Finding the display under the point fails: the display list still places it.
    displays->failDisplaysWithPoint(platform::CGError::failure);
    EXPECT_EQ(cursor.move(1, 1), (platform::Point{101, 501}));
    displays->failActiveDisplays(platform::CGError::illegalArgument);
    EXPECT_EQ(cursor.move(1, 1), std::nullopt);
    EXPECT_EQ(displays->warps().size(), 1u);
}

} // namespace
} // namespace ravolet

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>
#include <unordered_set>

#include "Core/ScrollTransformer.hpp"

using namespace ravolet;

namespace {

const ScrollSettings factory{.isEnabled = true};
constexpr double T = 1000;

ScrollInput detent(std::int64_t lineDelta, double at, ScrollAxis axis = ScrollAxis::vertical,
                   ModifierFlags modifiers = ModifierFlags::none) {
    return ScrollInput{lineDelta, axis, modifiers, at, DeviceID(9)};
}

// What the caller says has gone out of the running glide by `at`.
GlideDelivery gone(std::int64_t pixels, double at) { return GlideDelivery{pixels, at}; }

const ScrollPlan& planOf(const ScrollOutcome& outcome) {
    const ScrollPlan* plan = outcome.plan();
    if (!plan) throw std::runtime_error("expected a plan");
    return *plan;
}

std::int64_t sumOf(const ScrollPlan& plan) {
    std::int64_t sum = 0;
    for (const ScrollStep& s : plan.steps) sum += s.pixelDelta;
    return sum;
}

// Every step but the closing one, and any step closing the previous gesture.
std::vector<ScrollStep> timedSteps(const ScrollPlan& plan) {
    std::vector<ScrollStep> steps;
    for (const ScrollStep& s : plan.steps) {
        if (s.pixelDelta != 0) steps.push_back(s);
    }
    return steps;
}

} // namespace

TEST(ScrollTransformer, FirstDetentIsTheFactoryGlide) {
    ScrollTransformer transformer(factory);
    const ScrollPlan plan = planOf(transformer.transform(detent(1, T)));

    EXPECT_EQ(plan.id, 1u);
    EXPECT_EQ(plan.supersedes, std::nullopt);
    EXPECT_EQ(plan.gestureTransition, GestureTransition::begin);
    EXPECT_EQ(plan.axis, ScrollAxis::vertical);
    EXPECT_EQ(plan.deviceID, DeviceID(9));
    EXPECT_EQ(plan.startTimestampMillis, T);
    EXPECT_EQ(plan.durationMillis, 250);
    EXPECT_EQ(plan.endTimestampMillis(), T + 250);
    EXPECT_EQ(plan.totalPixelDelta, 50);
    EXPECT_EQ(plan.easingStartProgress, 0);
    EXPECT_EQ(plan.frameIntervalMillis, 8);
    EXPECT_EQ(plan.firstFrameOffsetMillis, 8);

    const std::vector<std::pair<double, std::int64_t>> expected{
        {8, 5},   {16, 4},  {24, 4},  {32, 4},  {40, 3},  {48, 4},  {56, 3},  {64, 2},
        {72, 3},  {80, 2},  {88, 2},  {96, 2},  {104, 2}, {112, 2}, {120, 1}, {128, 1},
        {136, 1}, {144, 1}, {152, 1}, {160, 1}, {176, 1}, {200, 1}, {250, 0}};
    ASSERT_EQ(plan.steps.size(), expected.size()) << plan;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ScrollStep step = plan.steps.all()[i];
        EXPECT_EQ(step.offsetMillis, expected[i].first) << i;
        EXPECT_EQ(step.pixelDelta, expected[i].second) << i;
        EXPECT_TRUE(step.isContinuous);
        EXPECT_EQ(step.modifiers, std::nullopt);
        const ScrollPhase phase = i == 0 ? ScrollPhase::began
                                  : i + 1 == expected.size() ? ScrollPhase::ended
                                                             : ScrollPhase::changed;
        EXPECT_EQ(step.phase, phase) << i;
    }
    ASSERT_NE(transformer.inFlightPlan(ScrollAxis::vertical), nullptr);
    EXPECT_EQ(*transformer.inFlightPlan(ScrollAxis::vertical), plan);
    EXPECT_EQ(transformer.inFlightPlan(ScrollAxis::horizontal), nullptr);
}

TEST(ScrollTransformer, SecondDetentFoldsTheRestIntoAnAcceleratedGlide) {
    ScrollTransformer transformer(factory);
    transformer.transform(detent(1, T));
    const ScrollPlan plan = planOf(transformer.transform(detent(1, T + 40)));

    EXPECT_EQ(plan.id, 2u);
    EXPECT_EQ(plan.supersedes, 1u);
    EXPECT_EQ(plan.gestureTransition, GestureTransition::continuePrevious);
    EXPECT_DOUBLE_EQ(plan.easingStartProgress, 0.16);
    EXPECT_EQ(plan.firstFrameOffsetMillis, 8);
    EXPECT_EQ(plan.totalPixelDelta, 140);  // 50 × 2.2 + the 30 pixels not yet due
    EXPECT_EQ(sumOf(plan), 140);
    ASSERT_EQ(plan.steps.size(), 27u) << plan;
    EXPECT_EQ(plan.steps.all()[0], (ScrollStep{8, 13, true, ScrollPhase::changed, std::nullopt}));
    EXPECT_EQ(plan.steps.all()[25].offsetMillis, 216);
    EXPECT_EQ(plan.steps.all()[26], (ScrollStep{250, 0, true, ScrollPhase::ended, std::nullopt}));
    for (std::size_t i = 1; i < 26; ++i) {
        EXPECT_EQ(plan.steps.all()[i].phase, ScrollPhase::changed) << i;
        EXPECT_NE(plan.steps.all()[i].pixelDelta, 0) << i;
        EXPECT_GT(plan.steps.all()[i].offsetMillis, plan.steps.all()[i - 1].offsetMillis) << i;
    }
}

TEST(ScrollTransformer, DeliveredPixelsCountStepsDueByATime) {
    ScrollTransformer transformer(factory);
    const ScrollPlan plan = planOf(transformer.transform(detent(1, T)));
    EXPECT_EQ(ScrollTransformer::deliveredPixels(plan, T - 5), 0);
    EXPECT_EQ(ScrollTransformer::deliveredPixels(plan, T), 0);
    EXPECT_EQ(ScrollTransformer::deliveredPixels(plan, T + 7.9), 0);
    EXPECT_EQ(ScrollTransformer::deliveredPixels(plan, T + 8), 5);
    EXPECT_EQ(ScrollTransformer::deliveredPixels(plan, T + 40), 20);
    EXPECT_EQ(ScrollTransformer::deliveredPixels(plan, T + 249), 50);
    EXPECT_EQ(ScrollTransformer::deliveredPixels(plan, T + 250), 50);
}

TEST(ScrollTransformer, TheCallersDeliveredCountDecidesCarryAndGesture) {
    // The caller posted nothing yet: the gesture is not open, the whole first
    // glide is carried.
    ScrollTransformer transformer(factory);
    transformer.transform(detent(1, T));
    const ScrollPlan fresh = planOf(transformer.transform(detent(1, T + 40), gone(0, T + 40)));
    EXPECT_EQ(fresh.gestureTransition, GestureTransition::begin);
    EXPECT_EQ(fresh.supersedes, 1u);
    EXPECT_EQ(fresh.totalPixelDelta, 160);
    EXPECT_EQ(fresh.steps.all().front().phase, ScrollPhase::began);

    // A plan that itself continued a gesture keeps it open even with nothing
    // delivered of it.
    const ScrollPlan third = planOf(transformer.transform(detent(1, T + 41), gone(7, T + 41)));
    EXPECT_EQ(third.gestureTransition, GestureTransition::continuePrevious);
    const ScrollPlan fourth = planOf(transformer.transform(detent(1, T + 42), gone(0, T + 42)));
    EXPECT_EQ(fourth.gestureTransition, GestureTransition::continuePrevious);

    // A count far outside what the plan holds stays arithmetic, bounded by
    // the in-flight limit.
    const ScrollPlan wild =
        planOf(transformer.transform(detent(1, T + 43), gone(std::numeric_limits<std::int64_t>::min(), T + 43)));
    EXPECT_EQ(wild.totalPixelDelta, 4000);
    EXPECT_EQ(sumOf(wild), 4000);
}

TEST(ScrollTransformer, GatesPassTheInputThroughUntouched) {
    ScrollSettings horizontalOnly = factory;
    horizontalOnly.enabledAxes = ScrollAxes::horizontal;
    ScrollTransformer transformer(horizontalOnly);
    const ScrollInput vertical = detent(1, T);
    EXPECT_EQ(transformer.transform(vertical), ScrollOutcome::passThrough(vertical));
    EXPECT_EQ(transformer.transform(detent(0, T, ScrollAxis::horizontal)),
              ScrollOutcome::passThrough(detent(0, T, ScrollAxis::horizontal)));
    transformer.settings = ScrollSettings::passThrough;
    EXPECT_TRUE(transformer.transform(detent(1, T, ScrollAxis::horizontal)).isPassThrough());
    EXPECT_EQ(transformer.inFlightPlan(ScrollAxis::vertical), nullptr);
    EXPECT_EQ(transformer.inFlightPlan(ScrollAxis::horizontal), nullptr);

    // No state was touched: the next plan is the first.
    transformer.settings = factory;
    EXPECT_EQ(planOf(transformer.transform(detent(1, T))).id, 1u);
}

TEST(ScrollTransformer, ActivationModifiersMustAllBeHeld) {
    ScrollSettings s = factory;
    s.activationModifiers = ModifierFlags::command | ModifierFlags::capsLock;
    ScrollTransformer transformer(s);
    EXPECT_TRUE(transformer.transform(detent(1, T)).isPassThrough());
    EXPECT_TRUE(transformer.transform(detent(1, T, ScrollAxis::vertical, ModifierFlags::shift)).isPassThrough());
    const auto held = ModifierFlags::command | ModifierFlags::shift;
    const ScrollOutcome glide = transformer.transform(detent(1, T, ScrollAxis::vertical, held));
    ASSERT_NE(glide.plan(), nullptr);
    EXPECT_EQ(glide.plan()->modifiers, held);

    // Caps lock alone, or an empty set, never blocks.
    for (ModifierFlags activation : {ModifierFlags::capsLock, ModifierFlags::none}) {
        s.activationModifiers = activation;
        transformer.settings = s;
        EXPECT_NE(transformer.transform(detent(1, T + 1000)).plan(), nullptr) << activation.rawValue;
    }
}

TEST(ScrollTransformer, ZeroTravelIsIgnoredButRecordsTheDetent) {
    ScrollTransformer transformer(factory);
    const ScrollPlan first = planOf(transformer.transform(detent(1, T)));
    transformer.settings.pixelsPerDetent = 0;
    transformer.settings.maxInFlightPixels = 0;
    EXPECT_TRUE(transformer.transform(detent(1, T + 100)).isIgnore());
    ASSERT_NE(transformer.inFlightPlan(ScrollAxis::vertical), nullptr);
    EXPECT_EQ(*transformer.inFlightPlan(ScrollAxis::vertical), first) << "the stored plan is kept";

    // The ignored detent extended the streak: the next one has factor 3.4
    // (the first glide fully posted, so nothing is carried).
    transformer.settings = factory;
    const ScrollPlan next = planOf(transformer.transform(detent(1, T + 200), gone(50, T + 200)));
    EXPECT_EQ(next.id, 2u);
    EXPECT_EQ(next.totalPixelDelta, 170);
    transformer.reset();
    transformer.transform(detent(1, T));
    transformer.settings.pixelsPerDetent = 0.4;
    EXPECT_TRUE(transformer.transform(detent(-1, T + 300)).isIgnore());
    transformer.settings = factory;
    // Ignored detent went down: this up detent is a reversal with no streak.
    EXPECT_EQ(planOf(transformer.transform(detent(1, T + 400))).totalPixelDelta, 50);
}

TEST(ScrollTransformer, AccelerationStreakAndItsWindow) {
    auto secondTotal = [](double gap, int secondDirection, bool accelerate = true) {
        ScrollSettings s = factory;
        s.accelerationEnabled = accelerate;
        ScrollTransformer t(s);
        t.transform(detent(1, T));
        // Everything of the first glide was posted: nothing is carried.
        return std::abs(planOf(t.transform(detent(secondDirection, T + gap), gone(50, T + gap))).totalPixelDelta);
    };
    EXPECT_EQ(secondTotal(140, 1), 110);
    EXPECT_EQ(secondTotal(140.5, 1), 50);
    EXPECT_EQ(secondTotal(-1, 1), 50) << "a clock going backwards starts over";
    EXPECT_EQ(secondTotal(100, -1), 50) << "a direction change starts over";
    EXPECT_EQ(secondTotal(100, 1, false), 50);
}

TEST(ScrollTransformer, AccelerationFactorsOfAFinishedGlideStreak) {
    // Short glides so that no carry mixes in: the totals are the factors.
    ScrollSettings s = factory;
    s.durationMillis = 50;
    ScrollTransformer transformer(s);
    const std::int64_t expected[] = {50, 110, 170, 230, 290, 300, 300};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(planOf(transformer.transform(detent(1, T + 100.0 * i))).totalPixelDelta, expected[i]) << i;
    }
}

TEST(ScrollTransformer, InversionAndBounding) {
    ScrollSettings s = factory;
    s.isInverted = true;
    ScrollTransformer inverted(s);
    const ScrollPlan plan = planOf(inverted.transform(detent(-3, T)));
    EXPECT_EQ(plan.totalPixelDelta, 150);
    EXPECT_EQ(sumOf(plan), 150);

    ScrollTransformer bounded(factory);
    EXPECT_EQ(planOf(bounded.transform(detent(200, T))).totalPixelDelta, 4000);
    EXPECT_EQ(planOf(bounded.transform(detent(-200, T + 1000))).totalPixelDelta, -4000);
    const ScrollPlan huge = planOf(bounded.transform(detent(std::numeric_limits<std::int64_t>::max(), T + 2000)));
    EXPECT_EQ(huge.totalPixelDelta, 4000);
    EXPECT_EQ(sumOf(huge), 4000);
    EXPECT_LE(huge.steps.size(), 35u);

    // Halves round away from zero.
    s = factory;
    s.pixelsPerDetent = 2.5;
    ScrollTransformer halves(s);
    EXPECT_EQ(planOf(halves.transform(detent(1, T))).totalPixelDelta, 3);
    EXPECT_EQ(planOf(halves.transform(detent(-1, T + 1000))).totalPixelDelta, -3);
}

TEST(ScrollTransformer, ReversalEndsAnOpenGestureFirst) {
    ScrollTransformer transformer(factory);
    const auto cmd = ModifierFlags::command;
    transformer.transform(detent(1, T, ScrollAxis::vertical, cmd));
    const ScrollPlan plan = planOf(transformer.transform(detent(-1, T + 40, ScrollAxis::vertical, cmd)));
    EXPECT_EQ(plan.gestureTransition, GestureTransition::endPreviousThenBegin);
    EXPECT_EQ(plan.supersedes, 1u);
    EXPECT_EQ(plan.totalPixelDelta, -50) << "no carry, no streak";
    EXPECT_EQ(plan.easingStartProgress, 0);
    EXPECT_EQ(plan.firstFrameOffsetMillis, 8);
    ASSERT_GE(plan.steps.size(), 3u);
    EXPECT_EQ(plan.steps.all()[0], (ScrollStep{0, 0, true, ScrollPhase::ended, cmd}));
    EXPECT_EQ(plan.steps.all()[1].phase, ScrollPhase::began);
    EXPECT_EQ(plan.steps.all()[1].offsetMillis, 8);
    EXPECT_EQ(sumOf(plan), -50);
}

TEST(ScrollTransformer, ModifierChangeBreaksTheGestureToo) {
    ScrollTransformer transformer(factory);
    transformer.transform(detent(1, T));
    const ScrollPlan plan =
        planOf(transformer.transform(detent(1, T + 40, ScrollAxis::vertical, ModifierFlags::capsLock)));
    EXPECT_EQ(plan.gestureTransition, GestureTransition::endPreviousThenBegin);
    EXPECT_EQ(plan.steps.all()[0].modifiers, ModifierFlags::none);
    EXPECT_EQ(plan.totalPixelDelta, 110) << "the streak goes on, the carry does not";
}

TEST(ScrollTransformer, ReversalBeforeAnythingWasDeliveredJustBegins) {
    ScrollTransformer transformer(factory);
    transformer.transform(detent(1, T));
    const ScrollPlan plan = planOf(transformer.transform(detent(-1, T + 5)));
    EXPECT_EQ(plan.gestureTransition, GestureTransition::begin);
    EXPECT_EQ(plan.supersedes, 1u);
    EXPECT_EQ(plan.totalPixelDelta, -50);
    EXPECT_EQ(plan.steps.all().front().phase, ScrollPhase::began);
    EXPECT_EQ(plan.steps.all().front().offsetMillis, 8);
}

TEST(ScrollTransformer, APlanEndsExactlyAtItsDuration) {
    ScrollTransformer transformer(factory);
    transformer.transform(detent(1, T));
    const ScrollPlan plan = planOf(transformer.transform(detent(1, T + 250)));
    EXPECT_EQ(plan.gestureTransition, GestureTransition::begin);
    EXPECT_EQ(plan.supersedes, std::nullopt);
    EXPECT_EQ(plan.totalPixelDelta, 50) << "no carry, and 250 ms is outside the streak window";
    EXPECT_EQ(plan.firstFrameOffsetMillis, 8);
    ASSERT_NE(transformer.inFlightPlan(ScrollAxis::vertical), nullptr);
    EXPECT_EQ(transformer.inFlightPlan(ScrollAxis::vertical)->id, 2u);
}

TEST(ScrollTransformer, SameTimestampCarriesTheWholePreviousGlide) {
    ScrollTransformer transformer(factory);
    transformer.transform(detent(1, T));
    const ScrollPlan plan = planOf(transformer.transform(detent(1, T)));
    EXPECT_EQ(plan.gestureTransition, GestureTransition::begin);
    EXPECT_EQ(plan.supersedes, 1u);
    EXPECT_EQ(plan.totalPixelDelta, 160);  // 50 × 2.2 + 50
    EXPECT_EQ(plan.easingStartProgress, 0);
    EXPECT_EQ(plan.firstFrameOffsetMillis, 8) << "the previous plan's first frame";
    EXPECT_EQ(plan.steps.all().front().phase, ScrollPhase::began);
}

// A detent while a glide is still going out goes on from that glide's last
// frame due by then whose pixels have all gone out (its start when none
// has; a frame still owed at most), at any pace of the wheel; its first step comes a frame later and
// carries a whole frame of the curve (with `easeOut` the same share of its
// total wherever on the curve it starts). Without a count from the caller,
// what has gone out is what is due; with one, the glide runs as long as the
// caller still posts it, past its end too.
TEST(ScrollTransformer, ADetentGoesOnFromTheLastFrameOfTheGlideThatHasGoneOut) {
    struct Row {
        const char* name;
        std::vector<double> before; // earlier detents, ms after T
        double at;
        std::optional<std::int64_t> goneOut; // what the caller says has gone out by then
        double start;                        // the new glide's time, ms after T
    };
    const std::vector<Row> rows{
        {"before the glide's first frame", {0}, 2, std::nullopt, 0},
        {"after a frame, in a streak faster than the frames", {0, 2, 4, 6}, 10, std::nullopt, 8},
        {"a frame and a bit after the last detent", {0}, 10, std::nullopt, 8},
        {"slower than a frame", {0}, 42, std::nullopt, 40},
        {"after a glide that itself went on from a frame", {0, 43}, 45, std::nullopt, 40},
        {"on a frame", {0, 6}, 8, std::nullopt, 8},
        {"with the clock gone back", {0, 10}, 9, std::nullopt, 8},
        {"with the frame due still owed by the caller", {0}, 17, 5, 8},
        {"with the caller more than a frame behind", {0}, 40, 5, 32},
        {"with the caller still posting the glide past its end", {0}, 251, 49, 248},
    };
    ScrollSettings s = factory;
    s.accelerationEnabled = false;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScrollTransformer transformer(s);
        for (double at : row.before) transformer.transform(detent(1, T + at));
        const auto delivery = row.goneOut ? std::optional(gone(*row.goneOut, T + row.at)) : std::nullopt;
        const ScrollPlan plan = planOf(transformer.transform(detent(1, T + row.at), delivery));
        EXPECT_TRUE(plan.supersedes.has_value());
        EXPECT_NE(plan.gestureTransition, GestureTransition::endPreviousThenBegin);
        EXPECT_EQ(plan.startTimestampMillis, T + row.start);
        EXPECT_EQ(plan.firstFrameOffsetMillis, 8);
        EXPECT_EQ(plan.endTimestampMillis(), T + row.start + 250);
        EXPECT_EQ(sumOf(plan), plan.totalPixelDelta);
        const ScrollStep first = plan.steps.all().front();
        EXPECT_EQ(first.offsetMillis, 8);
        const double share = 1 - std::pow(1 - 8.0 / 250, 3);
        EXPECT_EQ(first.pixelDelta, std::llround(share * static_cast<double>(plan.totalPixelDelta))) << plan;
    }
}

// The glides' time is the delivery's clock: the detents' time stamps, on a
// clock of their own, measure only the streak.
TEST(ScrollTransformer, GlidesRunOnTheClockOfTheDelivery) {
    ScrollTransformer transformer(factory);
    const double queue = 90'000;
    const ScrollPlan first = planOf(transformer.transform(detent(1, T), gone(0, queue)));
    EXPECT_EQ(first.startTimestampMillis, queue);
    EXPECT_EQ(first.supersedes, std::nullopt);
    // 40 ms later on both clocks: 20 pixels gone out, a streak of two.
    const ScrollPlan second = planOf(transformer.transform(detent(1, T + 40), gone(20, queue + 40)));
    EXPECT_EQ(second.supersedes, first.id);
    EXPECT_EQ(second.startTimestampMillis, queue + 40);
    EXPECT_EQ(second.totalPixelDelta, 140);
    // Past the second glide's end on the queue's clock, though not on the
    // detents': it has run out, and the streak goes on.
    const ScrollPlan third = planOf(transformer.transform(detent(1, T + 100), GlideDelivery{std::nullopt, queue + 300}));
    EXPECT_EQ(third.supersedes, std::nullopt);
    EXPECT_EQ(third.startTimestampMillis, queue + 300);
    EXPECT_EQ(third.totalPixelDelta, 170);
}

TEST(ScrollTransformer, AxesKeepSeparateState) {
    ScrollTransformer transformer(factory);
    transformer.transform(detent(1, T));
    const ScrollPlan horizontal = planOf(transformer.transform(detent(1, T + 40, ScrollAxis::horizontal)));
    EXPECT_EQ(horizontal.id, 2u);
    EXPECT_EQ(horizontal.supersedes, std::nullopt);
    EXPECT_EQ(horizontal.totalPixelDelta, 50);
    EXPECT_EQ(transformer.inFlightPlan(ScrollAxis::vertical)->id, 1u);
}

TEST(ScrollTransformer, PlanIdsGoOnCountingAfterReset) {
    ScrollTransformer transformer(factory);
    EXPECT_EQ(planOf(transformer.transform(detent(1, T))).id, 1u);
    EXPECT_EQ(planOf(transformer.transform(detent(1, T + 40))).id, 2u);
    transformer.reset();
    EXPECT_EQ(transformer.inFlightPlan(ScrollAxis::vertical), nullptr);
    const ScrollPlan plan = planOf(transformer.transform(detent(1, T + 50)));
    EXPECT_EQ(plan.id, 3u);
    EXPECT_EQ(plan.supersedes, std::nullopt);
    EXPECT_EQ(plan.totalPixelDelta, 50) << "the streak was forgotten";
}

TEST(ScrollTransformer, LinearEasingSpreadsEvenly) {
    ScrollSettings s = factory;
    s.easing = Easing::linear;
    ScrollTransformer transformer(s);
    const ScrollPlan plan = planOf(transformer.transform(detent(1, T)));
    ASSERT_EQ(plan.steps.size(), 32u);
    for (std::size_t i = 0; i + 1 < plan.steps.size(); ++i) {
        EXPECT_GE(plan.steps.all()[i].pixelDelta, 1);
        EXPECT_LE(plan.steps.all()[i].pixelDelta, 2);
    }
    EXPECT_EQ(sumOf(plan), 50);
    EXPECT_EQ(timedSteps(plan).size(), 31u);
}

TEST(ScrollTransformer, EaseInOutAndStoredSettingsOutOfRange) {
    ScrollSettings s = factory;
    s.easing = Easing::easeInOut;
    s.durationMillis = 9000;
    s.frameIntervalMillis = 0.1;
    ScrollTransformer transformer(s);
    const ScrollPlan plan = planOf(transformer.transform(detent(1, T)));
    EXPECT_EQ(plan.durationMillis, 5000);
    EXPECT_EQ(plan.frameIntervalMillis, 1);
    EXPECT_EQ(sumOf(plan), 50);
    EXPECT_EQ(transformer.settings.durationMillis, 9000) << "the transformer keeps the settings as given";
    // The slow start and end of the curve: the middle carries most pixels.
    const auto steps = timedSteps(plan);
    EXPECT_GT(steps.front().offsetMillis, 500);
    EXPECT_LT(steps.back().offsetMillis, 4500);
}

TEST(ScrollTransformer, InputsItCannotWorkWithPassThrough) {
    ScrollTransformer transformer(factory);
    const ScrollInput smallest = detent(std::numeric_limits<std::int64_t>::min(), T);
    EXPECT_EQ(transformer.transform(smallest), ScrollOutcome::passThrough(smallest));
    EXPECT_TRUE(transformer.transform(detent(1, std::numeric_limits<double>::quiet_NaN())).isPassThrough());
    EXPECT_TRUE(transformer.transform(detent(1, std::numeric_limits<double>::infinity())).isPassThrough());
    transformer.settings.accelerationGain = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(transformer.transform(detent(1, T)).isPassThrough());
    transformer.settings = factory;
    transformer.settings.pixelsPerDetent = std::numeric_limits<double>::infinity();
    EXPECT_EQ(planOf(transformer.transform(detent(1, T))).totalPixelDelta, 4000);
}

TEST(ScrollTransformer, OutcomesCompareAndHashByValue) {
    ScrollTransformer a(factory);
    ScrollTransformer b(factory);
    const ScrollOutcome first = a.transform(detent(1, T));
    EXPECT_EQ(first, b.transform(detent(1, T)));
    std::unordered_set<ScrollOutcome> set{first, ScrollOutcome::ignore(), ScrollOutcome::passThrough(detent(1, T))};
    EXPECT_EQ(set.size(), 3u);
    EXPECT_TRUE(set.contains(b.transform(detent(-1, T + 1000))) == false);
    EXPECT_NE(first, a.transform(detent(1, T + 1000)));
    EXPECT_EQ(toString(GestureTransition::endPreviousThenBegin), "endPreviousThenBegin");
    EXPECT_EQ(gestureTransitionFromString("continuePrevious"), GestureTransition::continuePrevious);
    EXPECT_EQ(scrollPhaseFromString("Began"), std::nullopt);
    EXPECT_EQ(toJson(ScrollPhase::ended), "ended");
}

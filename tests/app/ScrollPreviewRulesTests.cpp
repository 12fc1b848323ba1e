#include <gtest/gtest.h>

#include "RavoletApp/ViewModels/ScrollPreviewRules.hpp"

namespace ravolet {
namespace {

constexpr std::string_view offCaption =
    "Smooth scrolling is off for this profile, so a wheel click is passed to your desktop exactly as your mouse "
    "sent it.";

ScrollSettings factory() {
    ScrollSettings settings;
    settings.isEnabled = true;
    return settings;
}

TEST(ScrollPreviewRules, OneClickIsPlannedOnAFreshTransformerOrNotAtAll) {
    struct Row {
        const char* name;
        void (*change)(ScrollSettings&);
        std::string caption; // empty: the sentence for no plan
    };
    const Row rows[] = {
        {"factory", [](ScrollSettings&) {},
         "One wheel click travels 50 points over 250 ms, in 23 steps. The line above is that movement — flat means "
         "still, steep means fast."},
        {"ease in and out", [](ScrollSettings& s) { s.easing = Easing::easeInOut; },
         "One wheel click travels 50 points over 250 ms, in 22 steps. The line above is that movement — flat means "
         "still, steep means fast."},
        {"inverted", [](ScrollSettings& s) { s.isInverted = true; },
         "One wheel click travels 50 points over 250 ms, in 23 steps. The line above is that movement — flat means "
         "still, steep means fast."},
        {"odd duration", [](ScrollSettings& s) { s.durationMillis = 120.9; },
         "One wheel click travels 50 points over 120 ms, in 13 steps. The line above is that movement — flat means "
         "still, steep means fast."},
        {"smoothing off", [](ScrollSettings& s) { s.isEnabled = false; }, ""},
        {"vertical off", [](ScrollSettings& s) { s.enabledAxes = ScrollAxes::horizontal; }, ""},
        {"needs a key", [](ScrollSettings& s) { s.activationModifiers = ModifierFlags::command; }, ""},
        {"empty key set", [](ScrollSettings& s) { s.activationModifiers = ModifierFlags::none; },
         "One wheel click travels 50 points over 250 ms, in 23 steps. The line above is that movement — flat means "
         "still, steep means fast."},
        {"rounds to nothing", [](ScrollSettings& s) { s.pixelsPerDetent = 0.4; }, ""},
    };
    for (const Row& row : rows) {
        ScrollSettings settings = factory();
        row.change(settings);
        const std::optional<ScrollPlan> plan = previewPlan(settings);
        EXPECT_EQ(plan.has_value(), !row.caption.empty()) << row.name;
        EXPECT_EQ(previewCaption(plan), row.caption.empty() ? std::string(offCaption) : row.caption) << row.name;
    }
    ScrollSettings inverted = factory();
    inverted.isInverted = true;
    EXPECT_EQ(previewPlan(inverted)->totalPixelDelta, -50);
}

TEST(ScrollPreviewRules, TheLiveStatusTakesTheFirstCaseThatHolds) {
    using Level = LiveScrollStatus::Level;
    EngineStatus attached;
    attached.targetDeviceAttached = true;
    attached.scroll.inputsTransformed = 12;
    attached.scroll.stepsPosted = 3456;
    const PermissionState granted{.accessibility = true, .inputMonitoring = true};
    const std::string missing = "Ravolet is not allowed to touch your input yet, so the panel above scrolls the way "
                                "your desktop does. Finish the permission setup and it will change under your hand.";
    const std::string paused = "Ravolet is paused, so this scrolls the way your desktop does.";
    struct Row {
        PermissionState permissions;
        bool paused;
        bool attached;
        LiveScrollStatus expected;
    };
    const Row rows[] = {
        {{.accessibility = false, .inputMonitoring = true}, true, true, {Level::bad, missing}},
        {{.accessibility = true, .inputMonitoring = false}, false, true, {Level::bad, missing}},
        {granted, true, false, {Level::off, paused}},
        {granted, false, false,
         {Level::waiting, "Your Logitech mouse is not plugged in. Ravolet only reshapes scrolling from a mouse it "
                          "recognises, so this panel is untouched."}},
        {granted, false, true, {Level::good, "Live — Ravolet has reshaped 12 wheel clicks into 3456 smooth steps."}},
    };
    for (const Row& row : rows) {
        EngineStatus status = attached;
        status.targetDeviceAttached = row.attached;
        EXPECT_EQ(liveScrollStatus(row.permissions, row.paused, status), row.expected) << row.expected.text;
    }
}

TEST(ScrollPreviewRules, TheChartPlotsTheShareOfTravelAgainstTheShareOfTime) {
    const std::optional<ScrollPlan> factoryPlan = previewPlan(factory());
    ASSERT_TRUE(factoryPlan);
    const GlideChartGeometry chart = glideChartGeometry(&*factoryPlan, 216, 90);
    EXPECT_EQ(chart.baselineStart, (ChartPoint{8, 82}));
    EXPECT_EQ(chart.baselineEnd, (ChartPoint{208, 82}));
    ASSERT_EQ(chart.curve.size(), 24U);
    EXPECT_EQ(chart.curve.front(), (ChartPoint{8, 82}));
    EXPECT_EQ(chart.curve[1], (ChartPoint{8 + 200 * 8.0 / 250, 82 - 74 * 5.0 / 50})); // 5 px at 8 ms
    EXPECT_EQ(chart.curve.back(), (ChartPoint{208, 8}));
    EXPECT_EQ(chart.curve[chart.curve.size() - 2], (ChartPoint{8 + 200 * 200.0 / 250, 8})); // complete before the end

    // Made-up steps that overshoot both ways are held at the right and top edges,
    // and sign plays no part; areas of 17 or less still get one point of plot.
    const std::vector<ScrollStep> odd{{.offsetMillis = 50, .pixelDelta = -6}, {.offsetMillis = 400, .pixelDelta = -9}};
    EXPECT_EQ(glideChartGeometry(100, -10, odd, 100, 40).curve,
              (std::vector<ChartPoint>{{8, 32}, {8 + 84 * 0.5, 32 - 24 * 0.6}, {92, 8}}));
    EXPECT_EQ(glideChartGeometry(100, -10, odd, 17, 3).curve, (std::vector<ChartPoint>{{8, -5}, {8.5, -5.6}, {9, -6}}));

    struct Empty {
        const char* name;
        double duration;
        std::int64_t total;
        std::span<const ScrollStep> steps;
    };
    const Empty empties[] = {
        {"no time", 0, -10, odd},
        {"NaN time", std::nan(""), -10, odd},
        {"no travel", 100, 0, odd},
        {"no steps", 100, -10, {}},
    };
    for (const Empty& empty : empties) {
        const GlideChartGeometry geometry = glideChartGeometry(empty.duration, empty.total, empty.steps, 100, 40);
        EXPECT_TRUE(geometry.curve.empty()) << empty.name;
        EXPECT_EQ(geometry.baselineEnd, (ChartPoint{92, 32})) << empty.name;
    }
    EXPECT_TRUE(glideChartGeometry(nullptr, 100, 40).curve.empty());
}

} // namespace
} // namespace ravolet

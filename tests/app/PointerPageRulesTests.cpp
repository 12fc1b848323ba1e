#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "RavoletApp/ViewModels/PointerPageRules.hpp"

namespace ravolet {
namespace {

constexpr std::int64_t fixed(double value) { return static_cast<std::int64_t>(value * 65536); }

PointerTuningCapture reading(std::optional<std::int64_t> resolution, std::optional<std::int64_t> acceleration) {
    PointerTuningCapture capture;
    capture.accelerationKey = "HIDMouseAcceleration";
    capture.resolution = resolution;
    capture.acceleration = acceleration;
    return capture;
}

TEST(PointerPageRules, TheSliderCutsTheDPIAndTheMouseSaysWhatItTakes) {
    struct Row {
        double slider;
        std::int64_t stored;
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (const Row& row : std::vector<Row>{{2049.9, 2049}, {100, 100}, {-0.5, 0}, {std::nan(""), 0},
                                           {inf, std::numeric_limits<std::int64_t>::max()}})
        EXPECT_EQ(dpiFromSlider(row.slider), row.stored) << row.slider;

    EXPECT_EQ(dpiAcceptance(std::nullopt, 2000).unknown,
              "Ravolet has not been able to ask your mouse what DPI values it accepts yet \u2014 see the Device page.");
    struct Accepts {
        HIDPPDPIRange range;
        std::int64_t dpi;
        std::string help;
    };
    const std::string exact = "The value above is one your mouse will take exactly.";
    for (const Accepts& row : std::vector<Accepts>{
             {HIDPPDPIRange::range(100, 25600, 100), 2050,
              "Your mouse cannot do exactly 2050, so Ravolet will set the nearest value it accepts: 2100."},
             {HIDPPDPIRange::range(100, 25600, 100), 2000, exact},
             {HIDPPDPIRange::range(100, 25600, 50), 30000,
              "Your mouse cannot do exactly 30000, so Ravolet will set the nearest value it accepts: 25600."},
             {HIDPPDPIRange::list({400, 800, 1600}), 800, exact},
             {HIDPPDPIRange::list({400, 800, 1600}), 600,
              "Your mouse cannot do exactly 600, so Ravolet will set the nearest value it accepts: 400."},
         }) {
        const DPIAcceptance acceptance = dpiAcceptance(row.range, row.dpi);
        ASSERT_TRUE(acceptance.fact);
        EXPECT_EQ(acceptance.fact->label, "Your mouse accepts");
        EXPECT_EQ(acceptance.fact->value, row.range.description());
        EXPECT_EQ(acceptance.fact->help, row.help) << row.dpi;
    }
}

TEST(PointerPageRules, TheMousesReportRateAndWheelFactsAppearOnlyOnceRead) {
    EXPECT_EQ(runningAtFact(std::nullopt), std::nullopt);
    EXPECT_EQ(wheelStepsFact(std::nullopt), std::nullopt);
    EXPECT_EQ(wheelModeFact(std::nullopt), std::nullopt);
    struct Row {
        std::uint8_t bitmap;
        std::string help;
    };
    for (const Row& row : std::vector<Row>{{0x8B, "Supported by this mouse: 1000 Hz, 500 Hz, 250 Hz, 125 Hz."},
                                           {0x00, "Supported by this mouse: ."},
                                           {0x01, "Supported by this mouse: 1000 Hz."}}) {
        const auto fact = runningAtFact(HIDPPReportRateInfo{row.bitmap, HIDPPReportRate(2)});
        EXPECT_EQ(fact, (PageFact{"Running at", "500 Hz (2 ms)", row.help}));
    }
    EXPECT_EQ(wheelStepsFact(HIDPPWheelCapability(8, 0x0C)),
              (PageFact{"Steps per click in high resolution", "8", "What your mouse reports it can do."}));
    EXPECT_EQ(wheelModeFact(HIDPPWheelMode(false, true, false)),
              (PageFact{"Wheel is currently", "target=plain HID wheel hiRes=true inverted=false", std::nullopt}));
}

TEST(PointerPageRules, WhatMacOSBelievesIsComparedWithWhatTheMouseReports) {
    const HIDPPDPIState read{0, 1600, 1000};
    struct Row {
        const char* name;
        std::optional<PointerTuningCapture> reading;
        bool supported;
        std::optional<HIDPPDPIState> read;
        std::vector<std::string> values; // of the facts, in order
        std::optional<std::string> explanation;
    };
    const std::vector<Row> rows = {
        {"read", reading(fixed(400), fixed(0.6875)), true, read,
         {"400.0 counts per inch", "1600 DPI", "4\u00D7", "HIDMouseAcceleration = 0.69"}, std::nullopt},
        {"profile's DPI", reading(fixed(400), std::nullopt), true, std::nullopt,
         {"400.0 counts per inch", "1200 DPI (this profile's setting)", "3\u00D7", "HIDMouseAcceleration"}, std::nullopt},
        {"no figure", reading(std::nullopt, -65536), true, read,
         {"no figure on file", "1600 DPI", "HIDMouseAcceleration = -1.00"}, std::nullopt},
        {"zero figure", reading(0, 0), true, read, {"0.0 counts per inch", "1600 DPI", "HIDMouseAcceleration = 0.00"}, std::nullopt},
        {"not found", std::nullopt, true, read, {},
         "Ravolet has not found your mouse's pointer collection yet \u2014 see the Device page."},
        {"unsupported", std::nullopt, false, read, {},
         "Your desktop does not expose the setting Ravolet would need to change, so this section can only "
         "describe the problem, not fix it."},
    };
    for (const Row& row : rows) {
        PointerTuningStatus status;
        status.isSupported = row.supported;
        status.currentReading = row.reading;
        const HardwareBeliefs beliefs = hardwareBeliefs(status, row.read, 1200);
        std::vector<std::string> values;
        for (const PageFact& fact : beliefs.facts) values.push_back(fact.value);
        EXPECT_EQ(values, row.values) << row.name;
        EXPECT_EQ(beliefs.explanation, row.explanation) << row.name;
    }
}

TEST(PointerPageRules, TheCorrectionInForceAndTheSavedValuesReadBack) {
    struct Row {
        const char* name;
        std::optional<std::int64_t> readBackResolution, readBackAcceleration;
        std::optional<PointerTuningCapture> capture;
        std::string applied, saved;
        bool meaningful;
    };
    const std::vector<Row> rows = {
        {"off", fixed(1600), -65536, reading(fixed(400), -65536), "1600.0 counts per inch, acceleration off (-65536)",
         "400.0 counts per inch, acceleration -1.00", true},
        {"positive", fixed(800.25), fixed(0.5), reading(std::nullopt, std::nullopt),
         "800.2 counts per inch, acceleration 0.50", "none set, acceleration none set", false},
        {"nothing", std::nullopt, std::nullopt, std::nullopt, "unchanged, acceleration unchanged", "\u2014", false},
    };
    for (const Row& row : rows) {
        PointerTuningStatus status;
        status.isApplied = true;
        status.lastReadBackResolution = row.readBackResolution;
        status.lastReadBackAcceleration = row.readBackAcceleration;
        status.capture = row.capture;
        EXPECT_EQ(appliedText(status), row.applied) << row.name;
        EXPECT_EQ(savedText(status), row.saved) << row.name;
        EXPECT_EQ(curveNumbersAreMeaningful(status), row.meaningful) << row.name;
        const auto facts = appliedCorrectionFacts(status);
        ASSERT_EQ(facts.size(), 3u);
        EXPECT_EQ(facts[2].value, "\u2014");
        status.isApplied = false;
        EXPECT_FALSE(curveNumbersAreMeaningful(status));
        EXPECT_TRUE(appliedCorrectionFacts(status).empty());
    }
}

TEST(PointerPageRules, AtMostOneFailureBannerByTheFirstCaseThatHolds) {
    using enum PageNoticeKind;
    struct Row {
        const char* name;
        bool restoreFailed, applied, enabled;
        std::optional<PointerPropertyWrite> acceleration;
        std::optional<std::string> error;
        std::optional<PageNoticeKind> kind;
        std::string messageStart;
    };
    const std::vector<Row> rows = {
        {"restore, no text", true, true, false, std::nullopt, std::nullopt, problem,
         "The restore was refused. Ravolet has kept the saved originals"},
        {"restore", true, false, true, PointerPropertyWrite::skipped, "No.", problem, "No. Ravolet has kept"},
        {"skipped", false, true, true, PointerPropertyWrite::skipped, "Left alone.", warning, "Left alone."},
        {"skipped, not applied", false, false, true, PointerPropertyWrite::skipped, "Refused.", problem, "Refused."},
        {"refused", false, true, true, PointerPropertyWrite::refused, "Refused.", problem, "Refused."},
        {"switched off", false, true, false, PointerPropertyWrite::skipped, "Refused.", std::nullopt, ""},
        {"no error", false, true, true, PointerPropertyWrite::skipped, std::nullopt, std::nullopt, ""},
    };
    for (const Row& row : rows) {
        PointerTuningStatus status;
        status.restoreFailed = row.restoreFailed;
        status.isApplied = row.applied;
        status.isEnabled = row.enabled;
        status.accelerationWrite = row.acceleration;
        status.lastError = row.error;
        const auto notice = correctionFailure(status);
        ASSERT_EQ(notice.has_value(), row.kind.has_value()) << row.name;
        if (!notice) continue;
        EXPECT_EQ(notice->kind, *row.kind) << row.name;
        EXPECT_TRUE(notice->message.starts_with(row.messageStart)) << row.name << ": " << notice->message;
    }
}

TEST(PointerPageRules, TheAccelerationSwitchAndTheCurveSliders) {
    const CurveParameters starting{1.0, 800, 6.0};
    EXPECT_EQ(CurveParameters::starting(), starting);

    PointerSettings pointer;
    pointer.isEnabled = false;
    EXPECT_FALSE(accelerationIsOn(pointer));
    setCurveParameter(pointer, CurveField::maxGain, 2.5); // off: ignored
    EXPECT_TRUE(pointer.curve.acceleration.isOff());
    EXPECT_EQ(curveParameters(pointer.curve.acceleration), starting);

    setAcceleration(pointer, true); // also turns processing on, from the starting curve
    EXPECT_TRUE(pointer.isEnabled);
    EXPECT_EQ(pointer.curve.acceleration, PointerAcceleration::curve(1.0, 800, 6.0));
    setCurveParameter(pointer, CurveField::maxGain, 9.0); // unclamped
    setCurveParameter(pointer, CurveField::thresholdCountsPerSecond, 1200);
    setCurveParameter(pointer, CurveField::exponent, 0.5);
    EXPECT_EQ(pointer.curve.acceleration, PointerAcceleration::curve(0.5, 1200, 9.0));
    setAcceleration(pointer, true); // a curve already set is kept
    EXPECT_EQ(pointer.curve.acceleration, PointerAcceleration::curve(0.5, 1200, 9.0));

    pointer.isEnabled = false;
    EXPECT_FALSE(accelerationIsOn(pointer));
    setAcceleration(pointer, false); // off keeps nothing and leaves processing as it was
    EXPECT_FALSE(pointer.isEnabled);
    setAcceleration(pointer, true);
    EXPECT_EQ(pointer.curve.acceleration, PointerAcceleration::curve(1.0, 800, 6.0));
}

TEST(PointerPageRules, ThePointerStatusLineTakesTheFirstRuleThatHolds) {
    using enum PageStatusLevel;
    struct Row {
        const char* name;
        bool enabled, curve, otherProfile, paused, granted, attached, linearised;
        PageStatusLine expected;
    };
    const std::string pausedText = "Saved, but pointer processing is paused or unavailable. See the notice above the tabs.";
    const std::vector<Row> rows = {
        {"off, linearised", false, true, true, true, false, false, true,
         {off, "Pointer processing is off and your desktop's acceleration is disabled. Enable acceleration above to add a "
              "curve."}},
        {"off", false, true, true, true, false, false, false, {off, "Pointer processing is off. Your desktop controls movement."}},
        {"other profile", true, true, true, true, false, false, false,
         {waiting, "Saved for Canvas. The active profile is Default."}},
        {"paused", true, true, false, true, true, true, false, {waiting, pausedText}},
        {"no grants", true, true, false, false, false, true, false, {waiting, pausedText}},
        {"no mouse", true, true, false, false, true, false, false, {waiting, "Waiting for your Logitech mouse."}},
        {"curve", true, true, false, false, true, true, false,
         {good, "Acceleration enabled for Canvas. 42 movement samples processed."}},
        {"constant", true, false, false, false, true, true, false,
         {good, "Constant pointer speed for Canvas. Acceleration from Ravolet is off."}},
    };
    for (const Row& row : rows) {
        Profile profile = Profile::defaultProfile();
        profile.id = "canvas";
        profile.name = "Canvas";
        profile.pointer.isEnabled = row.enabled;
        profile.pointer.curve.acceleration = row.curve ? PointerAcceleration::curve(1, 800, 6) : PointerAcceleration::off();
        EngineStatus status;
        status.activeProfileID = row.otherProfile ? "default" : "canvas";
        status.targetDeviceAttached = row.attached;
        status.pointer.samplesTransformed = 42;
        PermissionState permissions;
        permissions.accessibility = row.granted;
        permissions.inputMonitoring = row.granted;
        PointerTuningStatus tuning;
        tuning.isApplied = row.linearised;
        tuning.lastReadBackAcceleration = -65536;
        EXPECT_EQ(pointerStatus({profile, status, permissions, row.paused, tuning}), row.expected) << row.name;
    }
}

TEST(PointerPageRules, AnyOtherLoginItemStatusIsUndetermined) {
    EXPECT_EQ(loginItemSentence(static_cast<platform::LoginItemStatus>(7)),
              "Ravolet could not determine whether it starts at login.");
    EXPECT_EQ(loginItemRefusal(std::nullopt), std::nullopt);
    EXPECT_EQ(loginItemRefusal("denied"), "Your desktop refused: denied");
}

} // namespace
} // namespace ravolet

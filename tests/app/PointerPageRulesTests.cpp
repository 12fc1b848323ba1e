#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"
#include "RavoletApp/ViewModels/PointerPageRules.hpp"

namespace ravolet {
namespace {

constexpr std::int64_t fixed(double value) { return static_cast<std::int64_t>(value * 65536); }

PointerTuningCapture reading(std::optional<std::int64_t> resolution, std::optional<std::int64_t> acceleration) {
    PointerTuningCapture capture;
    capture.accelerationKey = "libinput Accel Profile Enabled";
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
              (PageFact{"Wheel is currently", "Plain HID wheel, high resolution", std::nullopt}));
    EXPECT_EQ(wheelModeText(HIDPPWheelMode(true, false, true)), "HID++ path, normal resolution, reversed");
}

TEST(PointerPageRules, WhatLibinputBelievesIsComparedWithWhatTheMouseReports) {
    const HIDPPDPIState read{0, 1600, 1000};
    const auto adaptive = platform::PointerAccelSetting::adaptive(0.25).code();
    struct Row {
        const char* name;
        std::optional<PointerTuningCapture> reading;
        bool supported;
        PointerDesktop desktop;
        std::optional<HIDPPDPIState> read;
        std::vector<std::string> values; // of the facts, in order
        std::optional<std::string> explanationStart;
    };
    const std::vector<Row> rows = {
        {"read", reading(fixed(1000), adaptive), true, PointerDesktop::xServer, read,
         {"1000 counts per inch", "1600 DPI", "1.6\u00D7", "adaptive, speed 0.25"}, std::nullopt},
        {"profile's DPI", reading(fixed(800), std::nullopt), true, PointerDesktop::sway, std::nullopt,
         {"800 counts per inch", "1200 DPI (this profile's setting)", "1.5\u00D7", "none"}, std::nullopt},
        {"no overestimate", reading(fixed(1600), -65536), true, PointerDesktop::gnome, read,
         {"1600 counts per inch", "1600 DPI", "flat, speed 0.00"}, std::nullopt},
        {"not listed", std::nullopt, true, PointerDesktop::kwin, read, {},
         "Your desktop has not listed the pointer Ravolet moves"},
        {"no way in", reading(fixed(1000), std::nullopt), false, PointerDesktop::none, read,
         {"1000 counts per inch", "1600 DPI", "1.6\u00D7", "none"},
         "Ravolet cannot reach this desktop's mouse settings. To have the pointer move exactly as Ravolet's curve "
         "says, set the acceleration profile for \u201CLogitech G502 X\u201D to flat"},
    };
    for (const Row& row : rows) {
        PointerTuningStatus status;
        status.isSupported = row.supported;
        status.currentReading = row.reading;
        const HardwareBeliefs beliefs = hardwareBeliefs(status, row.read, 1200, row.desktop);
        std::vector<std::string> values;
        for (const PageFact& fact : beliefs.facts) values.push_back(fact.value);
        EXPECT_EQ(values, row.values) << row.name;
        ASSERT_EQ(beliefs.explanation.has_value(), row.explanationStart.has_value()) << row.name;
        if (row.explanationStart) {
            EXPECT_TRUE(beliefs.explanation->starts_with(*row.explanationStart)) << row.name;
        }
    }
}

TEST(PointerPageRules, TheSwitchShowsOnlyWhereRavoletCanWriteAndSaysWhatItChangesOnEachDesktop) {
    using enum PointerDesktop;
    for (const PointerDesktop desktop : {xServer, sway, kwin, gnome, system, none}) {
        for (const bool enabled : {false, true}) {
            PointerTuningStatus status;
            status.isSupported = desktop != none;
            status.isEnabled = enabled;
            const TuningSwitch shown = tuningSwitch(status, desktop);
            EXPECT_EQ(shown.visible, desktop != none);
            EXPECT_EQ(shown.checked, enabled && desktop != none) << "never checked where it cannot be used";
            const auto explanations = tuningExplanations(desktop);
            EXPECT_EQ(explanations.size(), desktop == none ? 0u : 2u);
            std::string all = shown.title;
            for (const auto& text : explanations) all += " " + text;
            // GNOME's one setting reaches every mouse, and the page says so; elsewhere only this one.
            EXPECT_EQ(all.find("every other mouse on this computer moves without") != std::string::npos, desktop == gnome);
            EXPECT_EQ(all.find("every other mouse are left alone") != std::string::npos, desktop != gnome && desktop != none);
            if (desktop != none) {
                EXPECT_NE(all.find("on the next launch if Ravolet was killed"), std::string::npos);
            }
        }
    }
}

TEST(PointerPageRules, TheSettingInForceAndTheSavedOneReadBackInTheDesktopsTerms) {
    const auto adaptive = platform::PointerAccelSetting::adaptive(-0.5).code();
    struct Row {
        const char* name;
        std::optional<std::int64_t> readBack;
        std::optional<PointerTuningCapture> capture;
        std::string applied, saved;
        bool meaningful;
    };
    const std::vector<Row> rows = {
        {"flat", -65536, reading(fixed(1000), adaptive), "flat, speed 0.00", "adaptive, speed -0.50", true},
        {"still adaptive", adaptive, reading(std::nullopt, std::nullopt), "adaptive, speed -0.50", "none set", false},
        {"nothing", std::nullopt, std::nullopt, "unchanged", "\u2014", false},
    };
    for (const Row& row : rows) {
        PointerTuningStatus status;
        status.isApplied = true;
        status.lastReadBackAcceleration = row.readBack;
        status.capture = row.capture;
        status.target = PointerServiceIdentity{0x100000009, 0x046D, 0xC099, "Logitech G502 X", 1, 2};
        EXPECT_EQ(appliedText(status), row.applied) << row.name;
        EXPECT_EQ(savedText(status), row.saved) << row.name;
        EXPECT_EQ(curveNumbersAreMeaningful(status), row.meaningful) << row.name;
        EXPECT_EQ(curveFooter(status, PointerDesktop::xServer).find("off for this mouse") != std::string::npos, row.meaningful);
        const auto facts = appliedCorrectionFacts(status, PointerDesktop::xServer);
        ASSERT_EQ(facts.size(), 3u);
        EXPECT_EQ(facts[2].value, "Logitech G502 X \u2014 the pointer Ravolet moves for your mouse");
        EXPECT_EQ(appliedCorrectionFacts(status, PointerDesktop::gnome)[2].value, "Every mouse");
        status.isApplied = false;
        EXPECT_FALSE(curveNumbersAreMeaningful(status));
        EXPECT_TRUE(appliedCorrectionFacts(status, PointerDesktop::xServer).empty());
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

    // Tuning not in force for want of the mouse, or set aside for the user's
    // own setting, is said so, never as the desktop's refusal.
    struct State {
        const char* name;
        std::function<void(PointerTuningStatus&)> set;
        std::optional<PageNoticeKind> kind;
        std::string title;
    };
    const std::vector<State> states = {
        {"changed outside", [](auto& s) { s.changedOutside = true; }, warning,
         "Your desktop's acceleration is on again for this mouse"},
        {"changed outside, a refused restore before", [](auto& s) { s.changedOutside = s.restoreFailed = true; }, problem,
         "Your desktop would not put your original values back"},
        {"originals waiting", [](auto& s) { s.restorePending = true; s.isEnabled = false; }, informational,
         "Your original values go back when the mouse is there"},
        {"no mouse", [](auto& s) { s.isWaitingForDevice = true; }, informational, "Tuning waits for the mouse"},
        {"no mouse, not asked for", [](auto& s) { s.isWaitingForDevice = true; s.isPermitted = false; }, std::nullopt, ""},
        // Whatever else the status says is from before the desktop went quiet.
        {"the desktop slow to answer", [](auto& s) { s.isWaitingForDesktop = s.restoreFailed = true; }, informational,
         "Waiting for your desktop to answer"},
    };
    for (const State& state : states) {
        PointerTuningStatus status;
        status.isEnabled = status.isPermitted = true;
        state.set(status);
        const auto notice = correctionFailure(status);
        ASSERT_EQ(notice.has_value(), state.kind.has_value()) << state.name;
        if (!notice) continue;
        EXPECT_EQ(notice->kind, *state.kind) << state.name;
        EXPECT_EQ(notice->title, state.title) << state.name;
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

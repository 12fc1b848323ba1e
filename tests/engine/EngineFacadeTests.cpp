#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "EngineTestSupport.hpp"

namespace ravolet {
namespace {

using namespace testing;
using platform::SimulatedEventSystem;
namespace Types = platform::EventTypes;

constexpr std::uint16_t heldKey = 49;

Config plainDocument(bool enabled = true) { return makeDocument({makeProfile("default", 1600, true, false)}, enabled); }

Config holdingDocument() {
    return makeDocument({makeProfile("default", 1600, true, true, {bindButton(4, Action::hold(heldKey, {}))})});
}

void grant(EngineMachine& m, bool granted) {
    m.probe->setAccessibilityTrusted(granted);
    m.probe->setCanListenToEvents(granted);
    m.probe->setHIDListenAccess(granted ? platform::HIDAccessType::granted : platform::HIDAccessType{7});
    m.events->setTapsAllowed(granted);
}

TEST(EngineFacade, StartFollowsTheDocumentAndTheGrantsAndASuccessfulStartClearsWhatEarlierOnesLeft) {
    EngineMachine m;
    grant(m, false);
    auto engine = m.makeEngine(plainDocument(false));
    ASSERT_TRUE(engine->start());
    EXPECT_EQ(engine->status().lastError, "configuration is disabled");
    EXPECT_EQ(engine->status().permissions, (PermissionState{false, false, HIDPPInputMonitoringAccess::unknown}));
    EXPECT_EQ(m.events->tapCount() + m.workspace->subscriberCount(), 0u) << "neither tap nor watcher";

    engine->update(plainDocument()); // starts, and the refused tap is not an error here
    m.settle();
    EXPECT_FALSE(engine->status().isRunning);
    EXPECT_EQ(m.workspace->subscriberCount(), 1u) << "the watcher made before the tap stays";
    EXPECT_EQ(engine->start().error(), EventTapController::StartError::tapCreationFailed) << "passed on unchanged";

    grant(m, true);
    ASSERT_TRUE(engine->start());
    m.settle();
    EXPECT_TRUE(engine->status().isRunning);
    EXPECT_TRUE(engine->status().isTapEnabled);
    EXPECT_EQ(engine->status().lastError, std::nullopt);
    EXPECT_EQ(engine->status().permissions, (PermissionState{true, true, HIDPPInputMonitoringAccess::granted}));
    EXPECT_EQ(m.workspace->subscriberCount(), 1u) << "the earlier watcher has gone";
    ASSERT_TRUE(engine->start());
    EXPECT_EQ(m.events->tapCount(), 1u) << "a second start does nothing";
}

TEST(EngineFacade, TheTapMaskFollowsThePointerCurveAndAnExplicitMaskIsKept) {
    constexpr std::uint64_t scrollAndButtons = EventTapController::scrollAndButtonEventMask;
    constexpr std::uint64_t everything = EventTapController::defaultEventMask;
    constexpr std::uint64_t explicitMask = scrollAndButtons | (1u << 10);
    struct Case {
        std::uint64_t configured;
        bool curveBefore, curveAfter;
        std::uint64_t maskBefore, maskAfter;
    };
    for (const Case& c : std::vector<Case>{{everything, false, true, scrollAndButtons, everything},
                                           {everything, true, false, everything, scrollAndButtons},
                                           {everything, false, false, scrollAndButtons, scrollAndButtons},
                                           {explicitMask, false, true, explicitMask, explicitMask}}) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.configured << " curve " << c.curveAfter);
        EngineMachine m;
        RavoletEngine::Options options = m.options();
        options.tap.eventsOfInterest = c.configured;
        // Only the second profile's curve changes.
        auto document = [](bool curve, std::int64_t dpi) {
            return makeDocument({makeProfile("default", 1600, true, false), makeProfile("canvas", dpi, true, curve)});
        };
        auto engine = m.makeEngine(document(c.curveBefore, 1600), options);
        EXPECT_EQ(engine->requiredTapMask(), c.maskBefore);
        ASSERT_TRUE(engine->start());
        const std::weak_ptr<platform::EventTap> tapBefore = m.events->taps().at(0);

        engine->update(document(c.curveAfter, 1200));
        m.settle();
        EXPECT_EQ(engine->installedTapMask(), c.maskAfter);
        EXPECT_EQ(tapBefore.expired(), c.maskBefore != c.maskAfter) << "restarted";
        EXPECT_TRUE(engine->status().isRunning);
    }
}

TEST(EngineFacade, TheFrontmostApplicationsProfileReachesTheTapThreadBeforeTheNextDetent) {
    EngineMachine m;
    auto engine = m.makeEngine(makeDocument(
        {makeProfile("default", 1600, true, false), makeProfile("com.example.reader", 1200, false, false)}));
    ASSERT_TRUE(engine->start());
    // An application that keeps the profile: the watcher does not call back,
    // and the next refresh still names it.
    m.workspace->activate(platform::RunningApplication{"com.example.notes", "Notes"});
    m.settle();
    engine->refreshMetrics();
    EXPECT_EQ(engine->status().frontmostBundleID, "com.example.notes");
    m.inject(SimulatedEventSystem::wheelEvent(1));
    EXPECT_EQ(m.events->swallowed().size(), 1u) << "glides under the default profile";

    m.workspace->activate(platform::RunningApplication{"com.example.reader", "Reader"});
    m.settle();
    EXPECT_EQ(engine->status().activeProfileID, "com.example.reader");
    EXPECT_EQ(engine->status().activeProfileName, "Profile com.example.reader");
    EXPECT_EQ(engine->status().frontmostBundleID, "com.example.reader");
    m.events->clearLogs();
    m.inject(SimulatedEventSystem::wheelEvent(1));
    EXPECT_TRUE(m.events->swallowed().empty()) << "the reader's profile lets the wheel through";
    EXPECT_EQ(m.events->delivered().size(), 1u);
    EXPECT_EQ(engine->buttonPipeline()->baseDPI(), 1200);
}

TEST(EngineFacade, EveryRealChangeIsPublishedOnceInOrderAndEachSubscriberStartsWithTheCurrentValue) {
    EngineMachine m;
    auto engine = m.makeEngine(plainDocument());
    std::vector<EngineStatus> changes, first, second;
    engine->setOnStatusChange([&](const EngineStatus& s) { changes.push_back(s); });
    auto subscription = engine->subscribe(m.main, [&](const EngineStatus& s) { first.push_back(s); });
    m.settle();
    EXPECT_EQ(first, std::vector{engine->status()}) << "the current value, with nothing changed";

    ASSERT_TRUE(engine->start());
    m.settle();
    engine->refreshMetrics();
    m.settle();
    const std::size_t published = changes.size();
    engine->refreshMetrics();
    engine->refreshPermissions();
    m.settle();
    EXPECT_EQ(changes.size(), published) << "nothing changed, nothing published";
    EXPECT_TRUE(std::adjacent_find(changes.begin(), changes.end()) == changes.end());
    ASSERT_EQ(first.size(), 1 + published);
    EXPECT_TRUE(std::equal(changes.begin(), changes.end(), first.begin() + 1)) << "in order";

    auto late = engine->subscribe(m.main, [&](const EngineStatus& s) { second.push_back(s); });
    subscription.cancel();
    m.probe->setAccessibilityTrusted(false);
    engine->refreshPermissions();
    m.settle();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], changes[published - 1]);
    EXPECT_FALSE(second[1].permissions.accessibility);
    EXPECT_EQ(first.size(), 1 + published) << "an ended subscription hears nothing more";
}

TEST(EngineFacade, ATapSwitchedOffIsResetOnTheTapThreadThenReportedWithItsReason) {
    for (const auto& [notice, reason] : {std::pair{Types::tapDisabledByTimeout, TapDisableReason::timeout},
                                         std::pair{Types::tapDisabledByUserInput, TapDisableReason::userInput}}) {
        SCOPED_TRACE(toString(reason));
        EngineMachine m;
        auto engine = m.makeEngine(holdingDocument());
        ASSERT_TRUE(engine->start());
        m.inject(Types::otherMouseDown, 4);
        std::optional<std::int64_t> resetsWhenHeard;
        engine->setOnStatusChange([&](const EngineStatus& s) {
            if (s.lastTapDisableReason && !resetsWhenHeard) resetsWhenHeard = engine->buttonPipeline()->snapshotMetrics().resets;
        });
        m.events->disableTap(*m.events->taps().at(0), notice);
        m.settle();
        EXPECT_EQ(resetsWhenHeard, 1) << "reset on the tap thread before the UI executor hears of it";
        EXPECT_EQ(m.postedKeys(Types::keyUp), std::vector<std::int64_t>{heldKey});
        EXPECT_EQ(engine->status().lastTapDisableReason, reason);
        EXPECT_TRUE(engine->status().isTapEnabled) << "switched back on";
    }
}

TEST(EngineFacade, StopPutsThePointerPropertiesBackFirstAndHasEverythingReleasedWhenItReturns) {
    EngineMachine m;
    auto engine = m.makeEngine(holdingDocument());
    ASSERT_TRUE(engine->start());
    m.inject(Types::otherMouseDown, 4);
    ASSERT_TRUE(engine->status().pointerTuning.isApplied);
    std::vector<std::string> seenAtRestore;
    auto watch = m.tuning->observeStatus([&](const PointerTuningStatus& s) {
        if (!s.isApplied && seenAtRestore.empty())
            seenAtRestore.push_back(fmt::format("taps {} watchers {} held {}", m.events->tapCount(),
                                                m.workspace->subscriberCount(), engine->macroExecutor()->heldKeyCount()));
    });

    engine->stop();
    // Checked before anything else has run.
    EXPECT_EQ(seenAtRestore, std::vector<std::string>{"taps 1 watchers 1 held 1"}) << "restored first";
    EXPECT_EQ(m.pointerBackend->readNumber("HIDPointerResolution", pointerServiceID), originalResolution);
    EXPECT_EQ(m.events->tapCount() + m.workspace->subscriberCount(), 0u);
    EXPECT_EQ(m.postedKeys(Types::keyUp), std::vector<std::int64_t>{heldKey}) << "posted before stop() returned";
    EXPECT_FALSE(engine->status().isRunning);
    EXPECT_FALSE(engine->status().isTapEnabled);
    EXPECT_EQ(engine->status().pointerTuning.lastRestoreReason, PointerTuningRestoreReason::engineStopped);
}

TEST(EngineFacade, PauseOnlyWithdrawsPointerTuningAndARefreshRetriesTuningUntilItTakes) {
    EngineMachine m;
    auto engine = m.makeEngine(plainDocument());
    ASSERT_TRUE(engine->start());
    ASSERT_TRUE(engine->status().pointerTuning.isApplied);
    engine->setPausedByUser(true);
    EXPECT_FALSE(engine->status().pointerTuning.isApplied);
    EXPECT_TRUE(engine->status().isRunning) << "nothing else pauses";

    m.pointerBackend->setServices({});
    engine->setPausedByUser(false);
    EXPECT_FALSE(engine->status().pointerTuning.isApplied) << "no service to tune";
    m.pointerBackend->setServices({PointerServiceIdentity{pointerServiceID, 0x046D, 0xC099, "G502 X", 1, 2}});
    engine->refreshMetrics();
    EXPECT_TRUE(engine->status().pointerTuning.isApplied);
}

} // namespace
} // namespace ravolet

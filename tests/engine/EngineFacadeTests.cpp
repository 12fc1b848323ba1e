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

TEST(EngineFacade, StartRecordsThePermissionsAndTheDocumentStateAndPassesTheTapErrorOn) {
    struct Case {
        const char* name;
        bool enabled;
        bool granted;
        std::optional<EventTapController::StartError> error;
        std::optional<std::string> lastError;
        bool running;
        std::size_t taps;
        std::size_t watchers;
    };
    const std::vector<Case> cases = {
        {"disabled document", false, true, std::nullopt, "configuration is disabled", false, 0, 0},
        // The watcher made just before the tap stays installed.
        {"no grants", true, false, EventTapController::StartError::tapCreationFailed, std::nullopt, false, 0, 1},
        {"granted", true, true, std::nullopt, std::nullopt, true, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineMachine m;
        m.probe->setAccessibilityTrusted(c.granted);
        m.probe->setCanListenToEvents(c.granted);
        m.probe->setHIDListenAccess(c.granted ? platform::HIDAccessType::granted : platform::HIDAccessType{7});
        m.events->setTapsAllowed(c.granted);
        auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false)}, c.enabled));

        const auto started = engine->start();
        m.settle();
        ASSERT_EQ(started.has_value(), !c.error);
        if (c.error) {
            EXPECT_EQ(started.error(), *c.error);
            EXPECT_EQ(EventTapController::description(started.error()),
                      "CGEvent.tapCreate returned nil \u2014 Accessibility (and Input Monitoring) must be granted");
        }
        const EngineStatus& status = engine->status();
        EXPECT_EQ(status.lastError, c.lastError);
        EXPECT_EQ(status.isRunning, c.running);
        EXPECT_EQ(status.isTapEnabled, c.running);
        EXPECT_EQ(status.permissions, (PermissionState{c.granted, c.granted,
                                                       c.granted ? HIDPPInputMonitoringAccess::granted
                                                                 : HIDPPInputMonitoringAccess::unknown}));
        EXPECT_EQ(m.events->tapCount(), c.taps);
        EXPECT_EQ(m.workspace->subscriberCount(), c.watchers);

        // A second start while the tap runs does nothing.
        EXPECT_TRUE(engine->start() || c.error);
        m.settle();
        EXPECT_EQ(m.events->tapCount(), c.taps);
        engine->stop();
    }
}

TEST(EngineFacade, ASuccessfulStartClearsWhatAnEarlierStartLeftAndKeepsOneWatcher) {
    EngineMachine m;
    const Config enabled = makeDocument({makeProfile("default", 1600, true, false)});
    Config disabled = enabled;
    disabled.isEnabled = false;
    auto engine = m.makeEngine(disabled);
    ASSERT_TRUE(engine->start());
    EXPECT_EQ(engine->status().lastError, "configuration is disabled");

    // Re-enabled while taps are refused: the start fails quietly.
    m.events->setTapsAllowed(false);
    engine->update(enabled);
    m.settle();
    EXPECT_FALSE(engine->status().isRunning);
    EXPECT_EQ(m.workspace->subscriberCount(), 1u);

    // The next document starts it; the failed start's watcher is gone.
    m.events->setTapsAllowed(true);
    engine->update(enabled);
    m.settle();
    EXPECT_TRUE(engine->status().isRunning);
    EXPECT_EQ(engine->status().lastError, std::nullopt);
    EXPECT_EQ(m.workspace->subscriberCount(), 1u);
    engine->stop();
}

TEST(EngineFacade, TheTapMaskFollowsThePointerCurveAndAnExplicitMaskIsKept) {
    constexpr std::uint64_t explicitMask = EventTapController::scrollAndButtonEventMask | (1u << 10);
    struct Case {
        const char* name;
        std::uint64_t configured;
        bool curveBefore;
        bool curveAfter;
        std::uint64_t maskBefore;
        std::uint64_t maskAfter;
    };
    const std::vector<Case> cases = {
        {"curve turned on", EventTapController::defaultEventMask, false, true,
         EventTapController::scrollAndButtonEventMask, EventTapController::defaultEventMask},
        {"curve turned off", EventTapController::defaultEventMask, true, false, EventTapController::defaultEventMask,
         EventTapController::scrollAndButtonEventMask},
        {"same switches", EventTapController::defaultEventMask, false, false,
         EventTapController::scrollAndButtonEventMask, EventTapController::scrollAndButtonEventMask},
        {"explicit mask", explicitMask, false, true, explicitMask, explicitMask},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineMachine m;
        RavoletEngine::Options options = m.options();
        options.tap.eventsOfInterest = c.configured;
        // Only the second profile's curve changes.
        auto document = [&](bool curve, std::int64_t dpi) {
            return makeDocument({makeProfile("default", 1600, true, false), makeProfile("canvas", dpi, true, curve)});
        };
        auto engine = m.makeEngine(document(c.curveBefore, 1600), options);
        EXPECT_EQ(engine->requiredTapMask(), c.maskBefore);
        ASSERT_TRUE(engine->start());
        m.settle();
        const std::weak_ptr<platform::EventTap> tapBefore = m.events->taps().at(0);

        engine->update(document(c.curveAfter, 1200));
        m.settle();
        EXPECT_EQ(engine->requiredTapMask(), c.maskAfter);
        EXPECT_EQ(engine->installedTapMask(), c.maskAfter);
        EXPECT_EQ(tapBefore.expired(), c.maskBefore != c.maskAfter) << "restarted";
        EXPECT_TRUE(engine->status().isRunning);
        EXPECT_EQ(m.events->tapCount(), 1u);
        engine->stop();
    }
}

TEST(EngineFacade, AProfileChosenByTheFrontmostApplicationReachesTheTapThreadBeforeTheNextDetent) {
    EngineMachine m;
    auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false),
                                             makeProfile("com.example.reader", 1200, false, false)}));
    ASSERT_TRUE(engine->start());
    m.settle();
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
    ASSERT_EQ(m.events->delivered().size(), 1u);
    EXPECT_EQ(engine->buttonPipeline()->baseDPI(), 1200);

    // A new document with the same switches swaps in place: the same tap.
    const std::weak_ptr<platform::EventTap> tap = m.events->taps().at(0);
    engine->update(makeDocument({makeProfile("default", 1600, true, false),
                                 makeProfile("com.example.reader", 1200, true, false)}));
    m.settle();
    m.events->clearLogs();
    m.inject(SimulatedEventSystem::wheelEvent(1));
    EXPECT_EQ(m.events->swallowed().size(), 1u);
    EXPECT_EQ(m.events->taps().at(0), tap.lock());
    engine->stop();
}

TEST(EngineFacade, EveryRealChangeIsPublishedOnceInOrderAndEachSubscriberStartsWithTheCurrentValue) {
    EngineMachine m;
    auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false)}));
    std::vector<EngineStatus> changes;
    std::vector<EngineStatus> first;
    engine->setOnStatusChange([&](const EngineStatus& s) {
        EXPECT_NE(s, changes.empty() ? EngineStatus{} : changes.back()) << "published without a change";
        changes.push_back(s);
    });
    auto subscription = engine->subscribe(m.main, [&](const EngineStatus& s) { first.push_back(s); });
    m.settle();
    ASSERT_EQ(first.size(), 1u) << "the current value, with nothing changed";
    EXPECT_EQ(first[0], engine->status());
    EXPECT_TRUE(changes.empty());

    ASSERT_TRUE(engine->start());
    m.settle();
    engine->refreshMetrics();
    m.settle();
    const std::size_t published = changes.size();
    EXPECT_GT(published, 1u) << "one start assigns field by field";
    engine->refreshMetrics();
    engine->refreshPermissions();
    m.settle();
    EXPECT_EQ(changes.size(), published) << "nothing changed, nothing published";
    ASSERT_EQ(first.size(), 1 + published);
    EXPECT_TRUE(std::equal(changes.begin(), changes.end(), first.begin() + 1)) << "in order, after onStatusChange";

    std::vector<EngineStatus> second;
    auto late = engine->subscribe(m.main, [&](const EngineStatus& s) { second.push_back(s); });
    subscription.cancel();
    m.probe->setAccessibilityTrusted(false);
    engine->refreshPermissions();
    m.settle();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], changes[published - 1]);
    EXPECT_FALSE(second[1].permissions.accessibility);
    EXPECT_EQ(first.size(), 1 + published) << "an ended subscription hears nothing more";
    engine->stop();
}

TEST(EngineFacade, ATapSwitchedOffIsResetOnTheTapThreadThenReportedWithItsReason) {
    const std::vector<std::pair<platform::EventType, TapDisableReason>> cases = {
        {Types::tapDisabledByTimeout, TapDisableReason::timeout},
        {Types::tapDisabledByUserInput, TapDisableReason::userInput},
    };
    for (const auto& [notice, reason] : cases) {
        SCOPED_TRACE(toString(reason));
        EngineMachine m;
        auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false,
                                                             {bindButton(4, Action::hold(heldKey, {}))})}));
        ASSERT_TRUE(engine->start());
        m.inject(Types::otherMouseDown, 4);
        ASSERT_EQ(m.postedKeys(Types::keyDown), std::vector<std::int64_t>{heldKey});

        std::optional<std::int64_t> resetsWhenHeard;
        engine->setOnStatusChange([&](const EngineStatus& s) {
            if (s.lastTapDisableReason && !resetsWhenHeard) resetsWhenHeard = engine->buttonPipeline()->snapshotMetrics().resets;
        });
        m.events->disableTap(*m.events->taps().at(0), notice);
        m.settle();
        EXPECT_EQ(resetsWhenHeard, 1) << "reset on the tap thread before the UI hears of it";
        EXPECT_EQ(m.postedKeys(Types::keyUp), std::vector<std::int64_t>{heldKey});
        EXPECT_EQ(engine->status().lastTapDisableReason, reason);
        EXPECT_TRUE(engine->status().isTapEnabled) << "switched back on";
        EXPECT_EQ(engine->status().tap.reEnables, 1);
        engine->stop();
    }
}

// Notes, for every write of a pointer property, what else was still running.
class WatchedBackend final : public PointerPropertyBackend {
public:
    WatchedBackend(std::shared_ptr<PointerPropertyBackend> inner, std::function<std::string()> look)
        : inner_(std::move(inner)), look_(std::move(look)) {}
    bool canWrite() const override { return inner_->canWrite(); }
    std::vector<PointerServiceIdentity> services() override {
        ++listings;
        return inner_->services();
    }
    std::optional<std::int64_t> readNumber(std::string_view k, std::uint64_t id) override { return inner_->readNumber(k, id); }
    std::optional<std::string> readString(std::string_view k, std::uint64_t id) override { return inner_->readString(k, id); }
    PointerPropertyWrite writeNumber(std::string_view k, std::int64_t v, std::uint64_t id) override {
        seenAtWrites.push_back(look_());
        return inner_->writeNumber(k, v, id);
    }
    bool serviceExists(std::uint64_t id) override { return inner_->serviceExists(id); }

    int listings = 0;
    std::vector<std::string> seenAtWrites;

private:
    std::shared_ptr<PointerPropertyBackend> inner_;
    std::function<std::string()> look_;
};

TEST(EngineFacade, StopPutsThePointerPropertiesBackFirstAndHasEverythingReleasedWhenItReturns) {
    EngineMachine m;
    std::shared_ptr<RavoletEngine> engine;
    auto watched = std::make_shared<WatchedBackend>(m.pointerBackend, [&] {
        return fmt::format("taps {} watchers {} held {}", m.events->tapCount(), m.workspace->subscriberCount(),
                           engine ? engine->macroExecutor()->heldKeyCount() : 0);
    });
    m.tuningBackend = watched;
    engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, true, {bindButton(4, Action::hold(heldKey, {}))})}));
    ASSERT_TRUE(engine->start());
    m.inject(Types::otherMouseDown, 4);
    ASSERT_TRUE(engine->status().pointerTuning.isApplied);
    watched->seenAtWrites.clear();

    engine->stop();
    // Checked before anything else runs.
    EXPECT_EQ(watched->seenAtWrites, (std::vector<std::string>(2, "taps 1 watchers 1 held 1"))) << "restored first";
    EXPECT_EQ(m.pointerBackend->readNumber("HIDPointerResolution", pointerServiceID), originalResolution);
    EXPECT_EQ(m.events->tapCount(), 0u);
    EXPECT_EQ(m.workspace->subscriberCount(), 0u);
    EXPECT_EQ(m.postedKeys(Types::keyUp), std::vector<std::int64_t>{heldKey}) << "posted before stop() returned";
    EXPECT_EQ(engine->macroExecutor()->heldKeyCount(), 0u);
    EXPECT_FALSE(engine->status().isRunning);
    EXPECT_FALSE(engine->status().isTapEnabled);
    EXPECT_EQ(engine->status().pointerTuning.lastRestoreReason, PointerTuningRestoreReason::engineStopped);

    // Again: it completes, and only the second reset's counters change.
    const EngineStatus stopped = engine->status();
    std::vector<EngineStatus> again;
    engine->setOnStatusChange([&](const EngineStatus& s) { again.push_back(s); });
    engine->stop();
    m.settle();
    for (EngineStatus s : again) {
        s.pointer = stopped.pointer;
        s.buttons = stopped.buttons;
        EXPECT_EQ(s, stopped);
    }
}

TEST(EngineFacade, TheStatusNamesTheApplicationInFrontAlsoWhenItKeepsTheProfile) {
    EngineMachine m;
    auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false)}));
    ASSERT_TRUE(engine->start());
    for (const std::string app : {"com.example.one", "com.example.two"}) {
        m.workspace->activate(platform::RunningApplication{app, app});
        m.settle();
        engine->refreshMetrics();
        EXPECT_EQ(engine->status().frontmostBundleID, app);
        EXPECT_EQ(engine->status().activeProfileID, "default");
    }
    engine->stop();
}

TEST(EngineFacade, PauseOnlyChangesWhatPointerTuningIsAskedForAndRetriesStopWhilePausedOrStopped) {
    EngineMachine m;
    auto watched = std::make_shared<WatchedBackend>(m.pointerBackend, [] { return std::string(); });
    m.tuningBackend = watched;
    auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false)}));
    ASSERT_TRUE(engine->start());
    m.settle();
    ASSERT_TRUE(engine->status().pointerTuning.isApplied);

    const std::size_t writes = watched->seenAtWrites.size();
    engine->setPausedByUser(false); // the value it has: nothing asked
    EXPECT_EQ(watched->seenAtWrites.size(), writes);
    engine->setPausedByUser(true);
    EXPECT_FALSE(engine->status().pointerTuning.isApplied);
    EXPECT_FALSE(engine->status().pointerTuning.isPermitted);
    EXPECT_TRUE(engine->status().isRunning) << "nothing else pauses";

    // Tuning that cannot take is retried by every refresh, and only while it should be in force.
    m.pointerBackend->setServices({});
    const auto retries = [&](auto&& between) {
        between();
        const int before = watched->listings;
        engine->refreshMetrics();
        return watched->listings - before;
    };
    EXPECT_EQ(retries([] {}), 0) << "paused";
    EXPECT_GT(retries([&] { engine->setPausedByUser(false); }), 0);
    EXPECT_EQ(retries([&] { engine->stop(); }), 0) << "stopped";
}

} // namespace
} // namespace ravolet

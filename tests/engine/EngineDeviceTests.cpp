#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "EngineTestSupport.hpp"

namespace ravolet {
namespace {

using namespace testing;
using Calls = std::vector<std::string>;
namespace Types = platform::EventTypes;

constexpr std::uint16_t heldKey = 49;

TEST(DPIShiftPolicy, OnlyADPIOtherThanTheBaselineBecomesAnOverride) {
    EXPECT_EQ(DPIShiftPolicy::override(800, 1600), 800);
    EXPECT_EQ(DPIShiftPolicy::override(1600, 1600), std::nullopt);
    EXPECT_EQ(DPIShiftPolicy::override(3200, 1600), 3200);
}

// The arrangement the application uses: it owns the connected device and
// hands the engine a control over it and every event of it.
struct ApplicationDevice {
    explicit ApplicationDevice(EngineMachine& m)
        : device(m.makeDevice()),
          control(std::make_shared<LoggingControl>(std::make_shared<LiveHIDPPControl>(device))) {
        device->connect(nullptr, [](HIDPPResult<void>) {});
        m.settle();
    }
    void forwardEventsTo(EngineMachine& m, const std::shared_ptr<RavoletEngine>& engine) {
        events = device->subscribe(m.main, [weak = std::weak_ptr(engine)](const HIDPPEvent& e) {
            if (auto engine = weak.lock()) engine->handleDeviceEvent(e);
        });
    }
    std::shared_ptr<HIDPPDevice> device;
    std::shared_ptr<LoggingControl> control;
    HIDPPEventSubscription events;
};

TEST(EngineDevice, WithTheApplicationsControlTheProfileDPIIsWrittenAtStartAndOnReadyAndTheStatusFollowsTheApplier) {
    EngineMachine m;
    ApplicationDevice app(m);
    RavoletEngine::Options options = m.options();
    options.hidControl = app.control;
    auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false)}), options);
    app.forwardEventsTo(m, engine);
    std::vector<SettingsApplyState> states{SettingsApplyState::idle()};
    engine->setOnStatusChange([&](const EngineStatus& s) {
        if (states.back() != s.deviceSettings) states.push_back(s.deviceSettings);
    });
    EXPECT_EQ(engine->settingsApplier(), nullptr) << "made by start()";

    ASSERT_TRUE(engine->start());
    m.settle();
    EXPECT_EQ(app.control->calls(), (Calls{"setDPI(1600)", "readDPI()"}));
    EXPECT_EQ(m.mouse->currentDPI(), 1600);
    EXPECT_EQ(states, (std::vector{SettingsApplyState::idle(), SettingsApplyState::applying(),
                                   SettingsApplyState::applied(1600)}));
    EXPECT_EQ(engine->status().pointerTuning.appliedResolution, 1600 * 65536) << "tuning heard the DPI read back";

    // The mouse comes back: ready writes again.
    app.control->clear();
    m.mouse->unplug();
    m.settle();
    EXPECT_EQ(engine->status().deviceSettings, SettingsApplyState::idle());
    m.mouse->setCurrentDPI(800);
    m.mouse->plugIn();
    m.settle();
    m.clock->advance(std::chrono::seconds(1));
    m.settle();
    EXPECT_EQ(app.control->calls(), (Calls{"setDPI(1600)", "readDPI()"}));
    EXPECT_EQ(m.mouse->currentDPI(), 1600);
    EXPECT_EQ(engine->status().deviceSettings, SettingsApplyState::applied(1600));
    EXPECT_EQ(engine->status().hidConnection, HIDPPConnectionState::disconnected()) << "the application shows its own";
    engine->stop();
}

TEST(EngineDevice, ADPIShiftReachesTheMouseInOrderAndAProfileSwitchWhileHeldEndsIt) {
    EngineMachine m;
    ApplicationDevice app(m);
    RavoletEngine::Options options = m.options();
    options.hidControl = app.control;
    auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false, {bindButton(5, Action::dpiShift(800))}),
                                             makeProfile("com.example.paint", 1200, true, false)}),
                               options);
    ASSERT_TRUE(engine->start());
    m.settle();
    app.control->clear();

    m.inject(Types::otherMouseDown, 5);
    EXPECT_EQ(m.mouse->currentDPI(), 800);
    m.inject(Types::otherMouseUp, 5);
    EXPECT_EQ(app.control->calls(), (Calls{"setDPI(800)", "readDPI()", "setDPI(1600)", "readDPI()"}))
        << "the release clears the override instead of setting 1600 as one";
    EXPECT_EQ(m.mouse->currentDPI(), 1600);

    // Held while the profile changes: the reset's request meets the old base
    // DPI and clears the override; then the new profile's DPI is written.
    m.inject(Types::otherMouseDown, 5);
    app.control->clear();
    m.workspace->activate(platform::RunningApplication{"com.example.paint", "Paint"});
    m.settle();
    EXPECT_EQ(app.control->calls(), (Calls{"setDPI(1600)", "readDPI()", "setDPI(1200)", "readDPI()"}));
    EXPECT_EQ(m.mouse->currentDPI(), 1200);
    engine->stop();
}

TEST(EngineDevice, RemovalResetsThePathAndDrainsTheMacroQueueInEveryArrangement) {
    for (const bool withControl : {true, false}) {
        SCOPED_TRACE(withControl ? "application's control" : "no device side");
        EngineMachine m;
        std::optional<ApplicationDevice> app;
        RavoletEngine::Options options = m.options();
        if (withControl) options.hidControl = app.emplace(m).control;
        auto engine = m.makeEngine(
            makeDocument({makeProfile("default", 1600, true, false, {bindButton(4, Action::hold(heldKey, {}))})}), options);
        ASSERT_TRUE(engine->start());
        m.inject(Types::otherMouseDown, 4);
        ASSERT_EQ(engine->macroExecutor()->heldKeyCount(), 1u);
        const auto refreshes = [&] {
            m.settle();
            return engine->scope()->snapshotCounters().refreshes;
        };

        const std::int64_t before = refreshes();
        engine->handleDeviceEvent(HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected()));
        EXPECT_EQ(refreshes(), before) << "a state change does not refresh the scope";
        engine->handleDeviceEvent(HIDPPEvent::deviceRemoved());
        EXPECT_EQ(m.postedKeys(Types::keyUp), std::vector<std::int64_t>{heldKey}) << "released when it returns";
        EXPECT_EQ(refreshes(), before + 1);
        EXPECT_EQ(engine->buttonPipeline()->snapshotMetrics().resets, 1);
        EXPECT_EQ(engine->status().deviceSettings,
                  withControl ? SettingsApplyState::idle() : EngineStatus().deviceSettings);
        EXPECT_EQ(engine->settingsApplier() != nullptr, withControl);
        engine->stop();
    }
}

TEST(EngineDevice, TheEnginesOwnDeviceIsFollowedFromStartAndLetGoAtStop) {
    struct Case {
        const char* name;
        bool pluggedIn;
        platform::HIDAccess access;
        std::optional<std::string> lastError;
        SettingsApplyState settings;
    };
    const std::vector<Case> cases = {
        {"connected", true, platform::HIDAccess::granted, std::nullopt, SettingsApplyState::applied(1600)},
        {"not permitted", true, platform::HIDAccess::denied, std::nullopt, SettingsApplyState::notPermitted()},
        {"absent", false, platform::HIDAccess::granted, "no HID++ collection found for the requested device",
         SettingsApplyState::idle()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineMachine m;
        if (!c.pluggedIn) m.mouse->unplug();
        m.bus->setListenAccess(c.access);
        RavoletEngine::Options options = m.options();
        options.connectsToDevice = true;
        options.deviceMatches = {};
        auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false)}), options);
        ASSERT_TRUE(engine->start());
        m.settle();
        ASSERT_EQ(m.madeFor, std::vector{HIDPPDeviceMatch::g502X}) << "the G502 X when no match is given";
        const auto device = m.madeDevices.at(0);
        EXPECT_EQ(engine->status().lastError, c.lastError);
        EXPECT_EQ(engine->status().deviceSettings, c.settings);
        EXPECT_EQ(engine->status().hidConnection, device->state());

        if (!c.pluggedIn) {
            // Still followed after the failed connect: the mouse arrives later.
            m.mouse->plugIn();
            m.settle();
            m.clock->advance(std::chrono::seconds(1));
            m.settle();
            EXPECT_EQ(engine->status().deviceSettings, SettingsApplyState::applied(1600));
        }
        if (device->isConnected()) {
            EXPECT_EQ(m.mouse->currentDPI(), 1600);
            EXPECT_EQ(engine->status().hidConnection, device->state());
            m.mouse->unplug();
            m.settle();
            EXPECT_EQ(engine->status().hidConnection, HIDPPConnectionState::disconnected());
            EXPECT_EQ(engine->status().deviceSettings, SettingsApplyState::idle());
            m.mouse->plugIn();
            m.settle();
            m.clock->advance(std::chrono::seconds(1));
            m.settle();
            ASSERT_TRUE(device->isConnected());
        }
        engine->stop();
        m.settle();
        EXPECT_EQ(device->state(), HIDPPConnectionState::disconnected());
        EXPECT_FALSE(device->isConnecting());
    }
}

} // namespace
} // namespace ravolet

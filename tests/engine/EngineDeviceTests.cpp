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

TEST(DPIShiftPolicy, OnlyADPIOtherThanTheBaselineBecomesAnOverride) {
    EXPECT_EQ(DPIShiftPolicy::override(800, 1600), 800);
    EXPECT_EQ(DPIShiftPolicy::override(1600, 1600), std::nullopt);
}

// The arrangement the application uses: it owns the connected device, hands
// the engine a control over it and, when asked, every event of it.
struct ApplicationDevice {
    ApplicationDevice(EngineMachine& m, RavoletEngine::Options& options)
        : device(m.makeDevice()), control(std::make_shared<LoggingControl>(std::make_shared<LiveHIDPPControl>(device))) {
        device->connect(nullptr, [](HIDPPResult<void>) {});
        m.settle();
        options.hidControl = control;
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

// The mouse is unplugged and plugged in again, and has reconnected.
void replug(EngineMachine& m) {
    m.mouse->unplug();
    m.settle();
    m.mouse->plugIn();
    m.settle();
    m.clock->advance(std::chrono::seconds(1));
    m.settle();
}

TEST(EngineDevice, WithTheApplicationsControlTheProfileDPIIsWrittenAtStartAndOnReadyAndTheStatusFollowsTheApplier) {
    EngineMachine m;
    RavoletEngine::Options options = m.options();
    ApplicationDevice app(m, options);
    auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false)}), options);
    app.forwardEventsTo(m, engine);
    std::vector<SettingsApplyState> states{SettingsApplyState::idle()};
    engine->setOnStatusChange([&](const EngineStatus& s) {
        if (states.back() != s.deviceSettings) states.push_back(s.deviceSettings);
    });

    ASSERT_TRUE(engine->start());
    m.settle();
    EXPECT_EQ(app.control->take(), (Calls{"setDPI(1600)", "readDPI()"}));
    EXPECT_EQ(states, (std::vector{SettingsApplyState::idle(), SettingsApplyState::applying(),
                                   SettingsApplyState::applied(1600)}));
    EXPECT_EQ(engine->status().pointerTuning.appliedResolution, 1600 * 65536) << "tuning heard the DPI read back";

    m.mouse->setCurrentDPI(800);
    replug(m);
    EXPECT_EQ(app.control->take(), (Calls{"setDPI(1600)", "readDPI()"})) << "written again on ready";
    EXPECT_EQ(m.mouse->currentDPI(), 1600);
    EXPECT_EQ(states.back(), SettingsApplyState::applied(1600));
    EXPECT_EQ(engine->status().hidConnection, HIDPPConnectionState::disconnected()) << "the application shows its own";
}

TEST(EngineDevice, ADPIShiftReachesTheMouseInOrderAndAProfileSwitchWhileHeldEndsIt) {
    EngineMachine m;
    RavoletEngine::Options options = m.options();
    ApplicationDevice app(m, options);
    auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false, {bindButton(5, Action::dpiShift(800))}),
                                             makeProfile("com.example.paint", 1200, true, false)}),
                               options);
    ASSERT_TRUE(engine->start());
    m.settle();
    app.control->take();

    m.inject(Types::otherMouseDown, 5);
    EXPECT_EQ(m.mouse->currentDPI(), 800);
    m.inject(Types::otherMouseUp, 5);
    EXPECT_EQ(app.control->take(), (Calls{"setDPI(800)", "readDPI()", "setDPI(1600)", "readDPI()"}));
    EXPECT_EQ(m.mouse->currentDPI(), 1600);

    // Held while the profile changes: the reset's request meets the old base
    // DPI and clears the override; then the new profile's DPI is written.
    m.inject(Types::otherMouseDown, 5);
    app.control->take();
    m.workspace->activate(platform::RunningApplication{"com.example.paint", "Paint"});
    m.settle();
    EXPECT_EQ(app.control->take(), (Calls{"setDPI(1600)", "readDPI()", "setDPI(1200)", "readDPI()"}));
    EXPECT_EQ(m.mouse->currentDPI(), 1200);
}

TEST(EngineDevice, RemovalResetsThePathAndDrainsTheMacroQueueInEveryArrangement) {
    for (const bool withControl : {true, false}) {
        SCOPED_TRACE(withControl ? "application's control" : "no device side");
        EngineMachine m;
        RavoletEngine::Options options = m.options();
        std::optional<ApplicationDevice> app;
        if (withControl) app.emplace(m, options);
        auto engine = m.makeEngine(
            makeDocument({makeProfile("default", 1600, true, false, {bindButton(4, Action::hold(49, {}))})}), options);
        ASSERT_TRUE(engine->start());
        m.inject(Types::otherMouseDown, 4);
        const auto refreshes = [&] {
            m.settle();
            return engine->scope()->snapshotCounters().refreshes;
        };

        const std::int64_t before = refreshes();
        engine->handleDeviceEvent(HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected()));
        EXPECT_EQ(refreshes(), before) << "a state change does not refresh the scope";
        engine->handleDeviceEvent(HIDPPEvent::deviceRemoved());
        EXPECT_EQ(m.postedKeys(Types::keyUp), std::vector<std::int64_t>{49}) << "released when it returns";
        EXPECT_EQ(refreshes(), before + 1);
        EXPECT_EQ(engine->status().deviceSettings, SettingsApplyState::idle());
        EXPECT_EQ(engine->settingsApplier() != nullptr, withControl);
    }
}

TEST(EngineDevice, TheEnginesOwnDeviceIsFollowedFromStartAndLetGoAtStop) {
    struct Case {
        bool pluggedIn;
        platform::HIDAccess access;
        std::optional<std::string> lastError;
        SettingsApplyState settings;
    };
    for (const Case& c : std::vector<Case>{
             {true, platform::HIDAccess::granted, std::nullopt, SettingsApplyState::applied(1600)},
             {true, platform::HIDAccess::denied, std::nullopt, SettingsApplyState::notPermitted()},
             {false, platform::HIDAccess::granted, "no HID++ collection found for the requested device",
              SettingsApplyState::idle()}}) {
        SCOPED_TRACE(c.settings.description());
        EngineMachine m;
        if (!c.pluggedIn) m.mouse->unplug();
        m.bus->setListenAccess(c.access);
        RavoletEngine::Options options = m.options();
        options.connectsToDevice = true;
        options.deviceMatches = {};
        auto engine = m.makeEngine(makeDocument({makeProfile("default", 1600, true, false)}), options);
        ASSERT_TRUE(engine->start());
        m.settle();
        ASSERT_EQ(m.madeDevices.size(), 1u);
        const auto device = m.madeDevices[0];
        EXPECT_EQ(device->match(), HIDPPDeviceMatch::g502X) << "when no match is given";
        EXPECT_EQ(engine->status().lastError, c.lastError);
        EXPECT_EQ(engine->status().deviceSettings, c.settings);
        EXPECT_EQ(engine->status().hidConnection, device->state());

        // Followed also after a failed connect; removal shows in the status.
        if (c.access == platform::HIDAccess::granted) {
            m.mouse->unplug();
            m.settle();
            EXPECT_EQ(engine->status().hidConnection, HIDPPConnectionState::disconnected());
            EXPECT_EQ(engine->status().deviceSettings, SettingsApplyState::idle());
            replug(m);
            EXPECT_EQ(engine->status().deviceSettings, SettingsApplyState::applied(1600));
            EXPECT_EQ(engine->status().hidConnection, device->state());
            EXPECT_EQ(m.mouse->currentDPI(), 1600);
        }
        engine->stop();
        m.settle();
        EXPECT_EQ(device->state(), HIDPPConnectionState::disconnected());
        EXPECT_FALSE(device->isConnecting());
    }
}

} // namespace
} // namespace ravolet

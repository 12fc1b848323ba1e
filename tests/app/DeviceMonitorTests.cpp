#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DeviceTestSupport.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {
namespace {

using testing::MouseRig;
using Mouse = platform::SimulatedMouse;
using Snapshot = DeviceMonitor::Snapshot;
using Names = std::vector<std::string>;

std::string kind(const HIDPPEvent& event) {
    static const char* const names[] = {"attached", "ready", "state", "notification", "removed", "retrying"};
    return names[event.value.index()];
}

// A monitor wanting 500 Hz and the high-resolution wheel, recording every
// event its handler sees (with the snapshot at that moment) and every
// snapshot it publishes.
struct MonitorRig : MouseRig {
    explicit MonitorRig(bool plugged = true,
                        std::shared_ptr<platform::InMemoryFileSystem> files = std::make_shared<platform::InMemoryFileSystem>())
        : MouseRig(false, plugged), files(files) {
        monitor = DeviceMonitor::create(device, true, ui, clock, std::make_shared<WheelModeRecord>(files, recordFile));
        monitor->setDesiredReportRateHertz(500);
        monitor->setDesiredHighResolutionWheel(true);
        monitor->setOnDeviceEvent([this](const HIDPPEvent& event) {
            events.push_back(kind(event));
            snapshotsSeenByHandler.push_back(monitor->snapshot().value());
        });
        publishing = monitor->snapshot().observe([this](const Snapshot& s) { published.push_back(s); });
    }
    ~MonitorRig() {
        publishing.disconnect();
        monitor.reset();
    }

    // Starts and lets the connection and the first reads finish.
    void started() {
        monitor->start();
        settle();
        events.clear();
        snapshotsSeenByHandler.clear();
        published.clear();
        mouse->clearReceivedRequests();
    }
    const Snapshot& snapshot() const { return monitor->snapshot().value(); }

    std::shared_ptr<platform::InMemoryFileSystem> files;
    const std::filesystem::path recordFile = "/home/user/.config/ravolet/wheel-mode.json";
    std::shared_ptr<DeviceMonitor> monitor;
    Names events;
    std::vector<Snapshot> snapshotsSeenByHandler;
    std::vector<Snapshot> published;
    ObserverConnection publishing;
};

// Every field that the nine reads fill, as the default simulated mouse fills them.
void expectFullyRead(const Snapshot& s) {
    EXPECT_TRUE(s.connection.isConnected());
    EXPECT_TRUE(s.identity.has_value());
    EXPECT_EQ(s.deviceName, "G502 X");
    EXPECT_EQ(s.protocolVersion, (HIDPPProtocolVersion{4, 2}));
    EXPECT_TRUE(s.information && s.dpi && s.dpiRange && s.wheelCapability && s.ratchet) << s;
    ASSERT_TRUE(s.reportRate && s.wheelMode);
    EXPECT_EQ(s.reportRate->current.milliseconds, 2) << "read after the desired 500 Hz was written";
    EXPECT_TRUE(s.wheelMode->highResolution);
    EXPECT_EQ(s.lastError, std::nullopt);
}

TEST(DeviceMonitor, StartingConnectsOnceThenReadsTheMouseAndHandlesTheConnectionsEvents) {
    struct Case {
        bool plugged;
        std::function<void(MonitorRig&)> setUp;
        Names events;
        HIDPPConnectionState connection; // when the mouse is not reached
        std::optional<std::string> recorded; // the first snapshot's error, which the first read clears
        bool retrying = false;
    };
    const std::vector<Case> cases = {
        {true, [](MonitorRig&) {}, {"state", "ready"}, HIDPPConnectionState::disconnected(), std::nullopt},
        {false, [](MonitorRig&) {}, {}, HIDPPConnectionState::disconnected(), std::nullopt},
        {true, [](MonitorRig& rig) { rig.bus->setListenAccess(platform::HIDAccess::denied); }, {"state", "retrying"},
         HIDPPConnectionState::notPermitted(), std::nullopt, true},
        {true, [](MonitorRig& rig) { rig.mouse->refuseOpen(platform::kIOReturnExclusiveAccess); }, {"retrying"},
         HIDPPConnectionState::disconnected(), "0xE00002C5 (kIOReturnExclusiveAccess)", true},
        {true, [](MonitorRig& rig) { rig.mouse->setSilent(true); }, {"retrying"}, HIDPPConnectionState::disconnected(),
         "feature 0x00 fn 0x01 timed out", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.events));
        MonitorRig rig(c.plugged);
        c.setUp(rig);
        rig.monitor->start();
        rig.monitor->start();
        EXPECT_TRUE(rig.mouse->receivedRequests().empty()) << "the connection is posted";
        rig.settle();
        EXPECT_EQ(rig.events, c.events);
        EXPECT_EQ(rig.snapshot().lastRefresh, rig.clock->now());
        EXPECT_EQ(rig.snapshot().lastError, std::nullopt);
        EXPECT_FALSE(rig.monitor->isRefreshing().value());
        const bool notPermitted = c.connection == HIDPPConnectionState::notPermitted();
        EXPECT_EQ(rig.snapshot().isNotPermitted, notPermitted);
        EXPECT_EQ(rig.snapshot().isRetrying, c.retrying);
        EXPECT_EQ(rig.published.front().isNotPermitted, notPermitted) << "recorded from the failed connection too";
        if (c.recorded) {
            ASSERT_TRUE(rig.published.front().lastError.has_value());
            EXPECT_TRUE(rig.published.front().lastError->ends_with(*c.recorded)) << *rig.published.front().lastError;
        }
        if (c.events == Names{"state", "ready"}) {
            expectFullyRead(rig.snapshot());
            EXPECT_EQ(rig.mouse->requestCount(Mouse::rootFeature, 1), 1u) << "one connection";
            EXPECT_EQ(rig.mouse->requestCount(Mouse::adjustableDPIFeature, 1), 1u) << "the mouse read once";
            EXPECT_EQ(rig.writes(), (Names{"rate", "wheel"}));
        } else {
            EXPECT_EQ(rig.snapshot().connection, c.connection);
            EXPECT_FALSE(rig.snapshot().deviceName.has_value());
        }
    }

}

TEST(DeviceMonitor, EventsReachTheHandlerFirstAndAreHandledOneAtATime) {
    MonitorRig rig;
    rig.started();
    const Snapshot connected = rig.snapshot();

    rig.clock->advance(std::chrono::minutes(1));
    rig.mouse->sendRatchetSwitch(0);
    rig.settle();
    EXPECT_EQ(rig.events, Names{"notification"}) << "the handler sees notifications too";
    EXPECT_EQ(rig.snapshot(), connected) << "the monitor itself ignores them";

    rig.mouse->unplug();
    rig.settle();
    EXPECT_EQ(rig.events, (Names{"notification", "removed", "state"}));
    EXPECT_EQ(rig.snapshotsSeenByHandler.at(1), connected) << "the handler runs before the monitor empties the snapshot";
    ASSERT_EQ(rig.published.size(), 2u);
    EXPECT_EQ(rig.published[0], Snapshot{}) << "removal publishes the empty snapshot";
    Snapshot disconnected;
    disconnected.lastRefresh = rig.clock->now();
    EXPECT_EQ(rig.snapshot(), disconnected) << "then the change of state is read";

    // Back again: the desired settings written, then the mouse read once.
    rig.mouse->clearReceivedRequests();
    rig.mouse->plugIn(rig.bus);
    rig.settle();
    EXPECT_EQ(rig.mouse->requestCount(Mouse::adjustableDPIFeature, 1), 1u);
    EXPECT_EQ(rig.events, (Names{"notification", "removed", "state", "state", "ready", "attached"}));
    EXPECT_EQ(rig.snapshot().ratchet, HIDPPRatchetState::freeSpin);
    EXPECT_EQ(rig.writes(), Names{"rate"}) << "the wheel is already in high resolution";
    expectFullyRead(rig.snapshot());

    // Stopped, the monitor hears nothing and the device is closed; it can start again.
    rig.monitor->stop();
    rig.settle();
    EXPECT_EQ(rig.device->state(), HIDPPConnectionState::disconnected());
    rig.events.clear();
    rig.mouse->unplug();
    rig.mouse->plugIn(rig.bus);
    rig.settle();
    EXPECT_EQ(rig.events, Names{});
    rig.monitor->start();
    rig.settle();
    EXPECT_EQ(rig.events, (Names{"state", "ready"}));

    // Released with work under way: what is queued finds it gone.
    rig.monitor->refresh();
    rig.mouse->sendRatchetSwitch(1);
    rig.publishing.disconnect();
    rig.monitor.reset();
    rig.settle();
}

TEST(DeviceMonitor, AFailedReadLeavesOnlyItsOwnFieldEmpty) {
    struct Case {
        std::uint16_t feature;
        std::uint8_t function;
        std::function<void(Snapshot&)> empty;
    };
    const std::vector<Case> cases = {
        {Mouse::deviceNameFeature, 0, [](Snapshot& s) { s.deviceName.reset(); }},
        {Mouse::deviceInformationFeature, 0, [](Snapshot& s) { s.information.reset(); }},
        {Mouse::adjustableDPIFeature, 2, [](Snapshot& s) { s.dpi.reset(); }},
        {Mouse::adjustableDPIFeature, 1, [](Snapshot& s) { s.dpiRange.reset(); }},
        {Mouse::reportRateFeature, 1, [](Snapshot& s) { s.reportRate.reset(); }},
        {Mouse::hiResWheelFeature, 1, [](Snapshot& s) { s.wheelMode.reset(); }},
        {Mouse::hiResWheelFeature, 0, [](Snapshot& s) { s.wheelCapability.reset(); }},
        {Mouse::hiResWheelFeature, 3, [](Snapshot& s) { s.ratchet.reset(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.feature << " function " << int(c.function));
        MonitorRig rig;
        rig.started();
        Snapshot expected = rig.snapshot();
        rig.clock->advance(std::chrono::seconds(3));
        rig.mouse->failNext({c.feature, c.function}, Mouse::errorInvalidArgument);
        rig.monitor->refresh();
        rig.settle();
        c.empty(expected);
        expected.lastRefresh = rig.clock->now();
        EXPECT_EQ(rig.snapshot(), expected) << "the error is not recorded either";
    }
}

TEST(DeviceMonitor, AWheelDetentIsTheMultiplierOfReportsOnlyInHighResolutionToHID) {
    using Snapshot = DeviceMonitor::Snapshot;
    const HIDPPWheelCapability eight(8, 0x0C);
    struct Case {
        std::optional<HIDPPWheelMode> mode;
        std::optional<HIDPPWheelCapability> capability;
        int reports;
    };
    const std::vector<Case> cases = {
        {std::nullopt, eight, 1},                       // not read
        {HIDPPWheelMode(false, false, false), eight, 1}, // standard
        {HIDPPWheelMode(false, true, true), eight, 8},   // high resolution to HID
        {HIDPPWheelMode(true, true, false), eight, 1},   // to HID++: nothing on the HID wheel
        {HIDPPWheelMode(false, true, false), std::nullopt, 1},
        {HIDPPWheelMode(false, true, false), HIDPPWheelCapability(0, 0), 1},
    };
    for (const Case& c : cases) {
        Snapshot snapshot;
        snapshot.wheelMode = c.mode;
        snapshot.wheelCapability = c.capability;
        EXPECT_EQ(snapshot.wheelReportsPerDetent(), c.reports) << ::testing::PrintToString(c.mode);
    }

    // As read from the mouse.
    MonitorRig rig;
    rig.started();
    rig.mouse->setWheelMode(0x02);
    rig.monitor->refresh();
    rig.settle();
    EXPECT_EQ(rig.snapshot().wheelReportsPerDetent(), 8);
}

// The tap counts wheel ticks by this: it is read first when the mouse comes,
// before the rest of the mouse and before any write, and it is unknown from
// the mouse's arrival until then and while the wheel's mode is written.
TEST(DeviceMonitor, TheWheelsReportsPerDetentAreKnownBeforeTheMouseIsReadAndUnknownWhileTheModeChanges) {
    MonitorRig rig(false);
    Names seen;
    auto ticks = rig.monitor->wheelReportsPerDetent().observe(
        [&](const std::optional<int>& n) { seen.push_back(n ? "reports " + std::to_string(*n) : "unknown"); });
    auto snapshots = rig.monitor->snapshot().observe([&](const Snapshot& s) {
        if (s.connection.isConnected()) seen.push_back("snapshot");
    });
    rig.monitor->start();
    rig.settle();
    EXPECT_EQ(rig.monitor->wheelReportsPerDetent().value(), std::nullopt) << "no mouse, no mode";
    rig.mouse->plugIn(rig.bus);
    rig.settle();
    // Found in the standard mode; the desired high resolution is written, then the mouse is read.
    EXPECT_EQ(seen, (Names{"reports 1", "unknown", "reports 8", "snapshot"}));
    seen.clear();
    rig.mouse->unplug();
    rig.settle();
    EXPECT_EQ(seen, Names{"unknown"});
}

// Until the mouse says how its wheel reports, the tap counts by the mode it
// is taken to be in: the one it was last found in (this run, else as an
// earlier run kept it), else the one a G502 X powers up in; the snapshot of a
// mouse that is there says so meanwhile.
TEST(DeviceMonitor, AWheelNotReadYetIsTakenToBeInTheModeItWasLastFoundInElseItsPowerUpMode) {
    MonitorRig rig(false);
    const auto assumed = [&] { return rig.monitor->assumedWheelReportsPerDetent().value(); };
    EXPECT_EQ(assumed(), 8) << "as it powers up";
    rig.monitor->setDesiredHighResolutionWheel(std::nullopt);
    rig.mouse->setWheelMode(0x00);
    rig.mouse->plugIn(rig.bus);
    rig.started();
    EXPECT_EQ(assumed(), 1) << "found in the standard mode";
    EXPECT_FALSE(rig.snapshot().isWheelModeAssumed);
    rig.mouse->unplug();
    rig.settle();
    EXPECT_EQ(rig.monitor->wheelReportsPerDetent().value(), std::nullopt);
    EXPECT_FALSE(rig.snapshot().isWheelModeAssumed) << "no mouse";
    rig.mouse->setSilent(true);
    rig.mouse->plugIn(rig.bus);
    rig.settle();
    EXPECT_TRUE(rig.snapshot().isRetrying);
    EXPECT_TRUE(rig.snapshot().isWheelModeAssumed);
    EXPECT_EQ(assumed(), 1) << "still as found";

    // Kept by an earlier run that held the wheel in another mode.
    auto files = std::make_shared<platform::InMemoryFileSystem>();
    ASSERT_TRUE(files->createDirectories("/home/user/.config/ravolet"));
    ASSERT_TRUE(files->writeFileAtomically("/home/user/.config/ravolet/wheel-mode.json", "{\"highResolution\": false}"));
    MonitorRig kept(false, files);
    EXPECT_EQ(kept.monitor->assumedWheelReportsPerDetent().value(), 1);
}

// Ravolet changes the wheel's high-resolution switch only while it holds the
// mouse: whichever way it lets go, the wheel goes back into the mode it was
// found in, and while it is changed that mode is kept in the settings folder,
// where a start after a crash finds it.
TEST(DeviceMonitor, TheWheelGoesBackIntoTheModeItWasFoundInWhenRavoletLetsGoEvenAfterACrash) {
    enum class LetGo { stop, leaveItAlone, gateClosed, notCounted, crashThenLeaveItAlone, crashThenStop };
    for (const LetGo way : {LetGo::stop, LetGo::leaveItAlone, LetGo::gateClosed, LetGo::notCounted,
                            LetGo::crashThenLeaveItAlone, LetGo::crashThenStop}) {
        SCOPED_TRACE(static_cast<int>(way));
        auto files = std::make_shared<platform::InMemoryFileSystem>();
        auto rig = std::make_unique<MonitorRig>(true, files);
        rig->mouse->setWheelMode(0x00);
        rig->started();
        ASSERT_EQ(rig->mouse->wheelMode(), 0x02) << "the desired high resolution";
        EXPECT_EQ(files->readFile(rig->recordFile).value_or(""), "{\n  \"highResolution\": false\n}") << "kept";

        const bool crash = way == LetGo::crashThenLeaveItAlone || way == LetGo::crashThenStop;
        if (crash) {
            // Gone without letting go, and started again later with the mouse
            // as that run left it.
            const auto mouse = rig->mouse;
            rig->monitor.reset();
            rig = std::make_unique<MonitorRig>(false, files);
            rig->mouse = mouse;
            rig->mouse->unplug();
            rig->mouse->plugIn(rig->bus);
            EXPECT_EQ(rig->mouse->wheelMode(), 0x02) << "the crash left it changed";
            if (way == LetGo::crashThenLeaveItAlone) rig->monitor->setDesiredHighResolutionWheel(std::nullopt);
            rig->monitor->start();
            rig->settle();
        }
        switch (way) {
        case LetGo::stop:
        case LetGo::crashThenStop: {
            EXPECT_EQ(rig->mouse->wheelMode(), 0x02);
            bool letGo = false;
            rig->monitor->stop();
            rig->monitor->whenLetGo([&] { letGo = true; });
            rig->settle();
            EXPECT_TRUE(letGo);
            EXPECT_FALSE(rig->device->isConnected()) << "disconnected after the wheel went back";
            break;
        }
        case LetGo::leaveItAlone:
            rig->monitor->setDesiredHighResolutionWheel(std::nullopt);
            rig->monitor->applyDesiredSettings();
            rig->settle();
            break;
        case LetGo::gateClosed:
            rig->monitor->control()->setEnabled(false);
            rig->monitor->applyDesiredSettings();
            rig->settle();
            break;
        case LetGo::notCounted: // the engine's tap stopped
            rig->monitor->setWheelCounted(false);
            rig->settle();
            EXPECT_EQ(rig->snapshot().wheelMode, HIDPPWheelMode()) << "read again";
            break;
        case LetGo::crashThenLeaveItAlone: break;
        }
        EXPECT_EQ(rig->mouse->wheelMode(), 0x00) << "as found";
        EXPECT_FALSE(files->exists(rig->recordFile)) << "nothing left to put back";
    }

    // A record that cannot be read says so, and the mode found now is used.
    auto files = std::make_shared<platform::InMemoryFileSystem>();
    ASSERT_TRUE(files->createDirectories("/home/user/.config/ravolet"));
    ASSERT_TRUE(files->writeFileAtomically("/home/user/.config/ravolet/wheel-mode.json", "{\"highResolution\": 1"));
    MonitorRig rig(true, files);
    rig.started();
    ASSERT_TRUE(rig.monitor->lastWriteError().value());
    EXPECT_TRUE(rig.monitor->lastWriteError().value()->starts_with("cannot read /home/user/.config/ravolet/wheel-mode.json"))
        << *rig.monitor->lastWriteError().value();
    EXPECT_EQ(files->readFile("/home/user/.config/ravolet/wheel-mode.json").value_or(""), "{\"highResolution\": 1")
        << "left as it was";
    rig.monitor->stop();
    rig.settle();
    EXPECT_EQ(rig.mouse->wheelMode(), 0x00) << "put back all the same";
}

TEST(DeviceMonitor, WritesTheRateThenTheWheelBehindTheGateAndKeepsAFailedWriteVisible) {
    MonitorRig rig;
    rig.started();
    std::vector<std::optional<std::string>> writeErrors;
    auto watching = rig.monitor->lastWriteError().observe([&](const auto& error) { writeErrors.push_back(error); });
    int completions = 0;
    const auto apply = [&] {
        rig.monitor->applyDesiredSettings([&] { ++completions; });
        rig.settle();
    };

    rig.mouse->setWheelMode(0);
    apply();
    EXPECT_EQ(rig.writes(), (Names{"rate", "wheel"}));

    rig.mouse->clearReceivedRequests();
    rig.monitor->setDesiredReportRateHertz(300);
    apply();
    const std::string refused = "invalid argument: unsupported report rate 300 Hz";
    EXPECT_TRUE(rig.mouse->receivedRequests().empty()) << "refused before any traffic, and the wheel is skipped";
    EXPECT_EQ(rig.snapshot().lastError, refused);
    EXPECT_EQ(rig.monitor->lastWriteError().value(), refused);
    rig.monitor->refresh();
    rig.settle();
    EXPECT_EQ(rig.snapshot().lastError, std::nullopt) << "a refresh rebuilds the snapshot";
    EXPECT_EQ(rig.monitor->lastWriteError().value(), refused) << "the failed write stays visible";

    // With the gate closed only the wheel goes back into the mode it was
    // found in (the standard one), and the ready mouse is still read.
    rig.mouse->clearReceivedRequests();
    rig.monitor->control()->setEnabled(false);
    rig.monitor->setDesiredReportRateHertz(1000);
    apply();
    EXPECT_EQ(rig.writes(), Names{"wheel"});
    EXPECT_EQ(rig.mouse->wheelMode(), 0x00);
    EXPECT_EQ(rig.monitor->lastWriteError().value(), std::nullopt) << "cleared by the wheel's write";
    rig.mouse->unplug();
    rig.settle();
    rig.mouse->plugIn(rig.bus);
    rig.settle();
    EXPECT_EQ(rig.writes(), Names{"wheel"}) << "nothing more";
    EXPECT_TRUE(rig.snapshot().connection.isConnected());

    rig.mouse->clearReceivedRequests();
    rig.monitor->control()->setEnabled(true);
    apply();
    EXPECT_EQ(rig.writes(), (Names{"rate", "wheel"}));
    EXPECT_EQ(rig.mouse->reportIntervalMilliseconds(), 1);
    EXPECT_EQ(writeErrors, (std::vector<std::optional<std::string>>{refused, std::nullopt}));
    EXPECT_EQ(completions, 4);
}

TEST(DeviceMonitor, ARefreshAskedForWhileOneRunsReadsAgainAndPublishesOnlyTheFreshResult) {
    MonitorRig rig;
    rig.started();
    std::vector<bool> refreshing;
    auto watching = rig.monitor->isRefreshing().observe([&](bool on) { refreshing.push_back(on); });
    int first = 0, second = 0;
    rig.clock->advance(std::chrono::seconds(1));
    rig.monitor->refresh([&] { ++first; });
    rig.monitor->refresh([&] { ++second; });
    rig.settle();
    EXPECT_EQ(rig.mouse->requestCount(Mouse::adjustableDPIFeature, 2), 2u) << "read twice";
    EXPECT_EQ(rig.published.size(), 1u);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(refreshing, (std::vector<bool>{true, false}));

    // The mouse leaves while it is being read: the end is not "connected".
    rig.monitor->refresh();
    rig.mouse->unplug();
    rig.settle();
    Snapshot disconnected;
    disconnected.lastRefresh = rig.clock->now();
    EXPECT_EQ(rig.snapshot(), disconnected);
    EXPECT_FALSE(rig.monitor->isRefreshing().value());
}

// The monitor on its own serial queue, as on the user interface's, and the
// device on the real HID I/O thread; the test reads the monitor on its queue.
TEST(DeviceMonitorThreads, FollowsTheMouseThroughPlugCycles) {
    MouseRig rig(true);
    auto monitor = DeviceMonitor::create(rig.device, true, rig.ui, rig.clock);
    const auto onUI = [&](std::function<void()> body) { static_cast<platform::SerialQueue&>(*rig.ui).sync(std::move(body)); };
    const auto waitFor = [&](bool connected) {
        for (auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20); std::chrono::steady_clock::now() < limit;
             std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
            Snapshot s;
            onUI([&] { s = monitor->snapshot().value(); });
            // Connected: once the desired 250 Hz was written and read back.
            if (!connected ? !s.connection.isConnected() : s.reportRate && s.reportRate->current.milliseconds == 4) return true;
        }
        return false;
    };
    onUI([&] {
        monitor->setDesiredReportRateHertz(250);
        monitor->start();
    });
    EXPECT_TRUE(waitFor(true));
    for (int cycle = 0; cycle < 3; ++cycle) {
        rig.mouse->unplug();
        EXPECT_TRUE(waitFor(false));
        rig.mouse->plugIn(rig.bus); // back at its own rate
        EXPECT_TRUE(waitFor(true));
    }
    onUI([&] { monitor->stop(); });
    onUI([&] { monitor.reset(); });
}

} // namespace
} // namespace ravolet

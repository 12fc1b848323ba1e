// The device actor's connection life cycle against the simulated mouse on
// the simulated HID bus: connect, disconnect, hot-plug, removal, permission,
// shared attempts and events.

#include <gtest/gtest.h>

#include <atomic>

#include "HIDPPDeviceTestSupport.hpp"
#include "Platform/IOReturn.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"

using namespace ravolet;
using namespace ravolet::testing;
using platform::SimulatedMouse;

namespace {

const SimulatedMouse::RequestMatch pingRequest{.featureID = 0x0000, .function = 1};

class HIDPPDeviceConnectionTests : public ::testing::TestWithParam<RigMode> {
protected:
    HIDPPResult<void> connect() {
        return rig.await<void>([&](HIDPPCompletion<void> done) { device->connect(nullptr, std::move(done)); });
    }
    void disconnect() {
        rig.await<void>([&](HIDPPCompletion<void> done) {
            device->disconnect(nullptr, [done = std::move(done)]() mutable { done({}); });
        });
    }
    std::size_t pings() const { return mouse->requestCount(0x0000, 1); }

    DeviceRig rig{GetParam()};
    std::shared_ptr<SimulatedMouse>& mouse = rig.mouse;
    std::shared_ptr<HIDPPDevice>& device = rig.device;
};

// The events less the device's word that it is trying again, which a loaded
// machine adds when a first attempt times out.
std::vector<HIDPPEvent> withoutRetries(std::vector<HIDPPEvent> events) {
    std::erase_if(events, [](const HIDPPEvent& e) { return std::holds_alternative<HIDPPEvent::Retrying>(e.value); });
    return events;
}

HIDPPDeviceIdentity identityOf(const std::shared_ptr<HIDPPDevice>& device) {
    auto identity = device->identity();
    EXPECT_TRUE(identity.has_value());
    return identity.value_or(HIDPPDeviceIdentity{});
}

} // namespace

TEST_P(HIDPPDeviceConnectionTests, ANewDeviceIsDisconnectedWithItsDefaults) {
    EXPECT_EQ(device->state(), HIDPPConnectionState::disconnected());
    EXPECT_FALSE(device->isConnected());
    EXPECT_FALSE(device->isConnecting());
    EXPECT_FALSE(device->identity().has_value());
    EXPECT_EQ(device->deviceIndex(), 0xFF);
    EXPECT_EQ(device->defaultTimeout(), 1.0);
    EXPECT_TRUE(device->automaticallyReconnects());
    EXPECT_EQ(device->match(), HIDPPDeviceMatch::g502X);
    auto stats = rig.await<std::optional<HIDPPTransportStatistics>>([&](auto done) {
        device->transportStatistics(nullptr, [done = std::move(done)](auto s) mutable { done(s); });
    });
    ASSERT_TRUE(stats.has_value());
    EXPECT_FALSE(stats->has_value());
    EXPECT_TRUE(mouse->receivedRequests().empty());
}

TEST_P(HIDPPDeviceConnectionTests, ConnectDisconnectAndReconnect) {
    EventRecorder recorder(rig);
    ASSERT_TRUE(connect().has_value());
    const HIDPPDeviceIdentity identity = identityOf(device);
    EXPECT_EQ(identity.vendorID, 0x046D);
    EXPECT_EQ(identity.productID, 0xC099);
    EXPECT_TRUE(identity.carriesHIDPP());
    EXPECT_EQ(device->state(), HIDPPConnectionState::connected(identity));
    EXPECT_EQ(recorder.waitFor(2), (std::vector<HIDPPEvent>{HIDPPEvent::stateChanged(HIDPPConnectionState::connected(identity)),
                                                           HIDPPEvent::deviceReady(identity)}));
    // One ping, then the whole table: the cache answers from now on.
    EXPECT_EQ(pings(), 1u);
    EXPECT_EQ(device->features().size(), mouse->featureTable().size());
    auto version = rig.await<HIDPPProtocolVersion>([&](auto done) { device->protocolVersion(nullptr, std::move(done)); });
    EXPECT_EQ(version, (HIDPPProtocolVersion{4, 2}));

    // Connecting a connected device does nothing at all.
    const std::size_t before = mouse->receivedRequests().size();
    ASSERT_TRUE(connect().has_value());
    rig.settle();
    EXPECT_EQ(mouse->receivedRequests().size(), before);
    EXPECT_EQ(recorder.events().size(), 2u);

    disconnect();
    EXPECT_EQ(device->state(), HIDPPConnectionState::disconnected());
    EXPECT_FALSE(device->identity().has_value());
    EXPECT_TRUE(device->features().empty());
    EXPECT_EQ(recorder.waitFor(3).back(), HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected()));
    auto afterDisconnect = rig.await<HIDPPDPIState>([&](auto done) { device->dpi(0, nullptr, std::move(done)); });
    EXPECT_EQ(afterDisconnect, std::unexpected(HIDPPError::notConnected()));

    ASSERT_TRUE(connect().has_value());
    EXPECT_TRUE(device->isConnected());
    EXPECT_EQ(pings(), 2u);
    EXPECT_EQ(recorder.waitFor(5).back(), HIDPPEvent::deviceReady(identity));
    auto dpi = rig.await<HIDPPDPIState>([&](auto done) { device->dpi(0, nullptr, std::move(done)); });
    ASSERT_TRUE(dpi.has_value());
    EXPECT_EQ(dpi->current, 1600);
}

TEST_P(HIDPPDeviceConnectionTests, ConcurrentConnectCallersShareOneAttempt) {
    std::vector<Pending<void>> results(3);
    for (auto& result : results) device->connect(nullptr, result.completion());
    for (auto& result : results) EXPECT_TRUE(rig.wait(result).has_value());
    EXPECT_EQ(pings(), 1u);
    EXPECT_EQ(mouse->requestCount(0x0001, 0), 1u);
    EXPECT_FALSE(device->isConnecting());
}

TEST_P(HIDPPDeviceConnectionTests, ConcurrentCallersShareAFailureToo) {
    device->setDefaultTimeout(0.2);
    mouse->dropNext(pingRequest);
    std::vector<Pending<void>> results(2);
    for (auto& result : results) device->connect(nullptr, result.completion());
    for (auto& result : results) EXPECT_EQ(rig.wait(result), std::unexpected(HIDPPError::timeout("feature 0x00 fn 0x01")));
    EXPECT_EQ(pings(), 1u);
}

// A connection attempt that disconnect() cancelled must not clear the slot of
// the attempt that started after it: otherwise the next connect() starts a
// second attempt, which opens the device again and closes the first one's link.
TEST_P(HIDPPDeviceConnectionTests, ACancelledAttemptLeavesANewerAttemptInPlace) {
    device->setDefaultTimeout(1.5);
    mouse->dropNext(pingRequest, 2); // the cancelled attempt's ping and the newer one's

    Pending<void> first;
    device->connect(nullptr, first.completion());
    ASSERT_TRUE(rig.eventually([&] { return pings() == 1; }));

    // disconnect() and a fresh connect() line up together on the device's
    // queue, before the cancelled attempt can wind down.
    Pending<void> second;
    device->queue()->post([&] {
        device->disconnect(nullptr, nullptr);
        device->connect(nullptr, second.completion());
    });
    EXPECT_EQ(rig.wait(first), std::unexpected(HIDPPError::notConnected()));
    ASSERT_TRUE(rig.eventually([&] { return pings() == 2; }));

    // The newer attempt is still waiting for its ping: a third caller joins it.
    EXPECT_TRUE(device->isConnecting());
    auto third = rig.await<void>([&](HIDPPCompletion<void> done) { device->connect(nullptr, std::move(done)); });
    const auto timedOut = std::unexpected(HIDPPError::timeout("feature 0x00 fn 0x01"));
    EXPECT_EQ(rig.wait(second), timedOut);
    EXPECT_EQ(third, timedOut);
    EXPECT_EQ(pings(), 2u);
}

TEST_P(HIDPPDeviceConnectionTests, AnAbsentMouseConnectsByItselfWhenPluggedIn) {
    mouse->unplug();
    EventRecorder recorder(rig);
    EXPECT_EQ(connect(), std::unexpected(HIDPPError::deviceNotFound()));
    EXPECT_EQ(device->state(), HIDPPConnectionState::disconnected());
    rig.settle();
    EXPECT_TRUE(recorder.events().empty());

    mouse->plugIn();
    ASSERT_TRUE(rig.eventually([&] { return withoutRetries(recorder.events()).size() >= 3; }));
    const auto events = withoutRetries(recorder.events());
    const HIDPPDeviceIdentity identity = identityOf(device);
    EXPECT_EQ(events, (std::vector<HIDPPEvent>{HIDPPEvent::stateChanged(HIDPPConnectionState::connected(identity)),
                                               HIDPPEvent::deviceReady(identity), HIDPPEvent::deviceAttached(identity)}));
    EXPECT_TRUE(device->isConnected());
}

TEST_P(HIDPPDeviceConnectionTests, RemovalEmitsRemovedThenDisconnectedAndPlugInReconnects) {
    EventRecorder recorder(rig);
    ASSERT_TRUE(connect().has_value());
    const HIDPPDeviceIdentity identity = identityOf(device);
    recorder.waitFor(2);
    recorder.clear();

    mouse->unplug();
    EXPECT_EQ(recorder.waitFor(2), (std::vector<HIDPPEvent>{HIDPPEvent::deviceRemoved(),
                                                           HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected())}));
    EXPECT_FALSE(device->identity().has_value());
    EXPECT_TRUE(device->features().empty());
    recorder.clear();

    mouse->plugIn();
    ASSERT_TRUE(rig.eventually([&] { return withoutRetries(recorder.events()).size() >= 3; }));
    EXPECT_EQ(withoutRetries(recorder.events()).back(), HIDPPEvent::deviceAttached(identity));
    EXPECT_TRUE(device->isConnected());
}

// A mouse that is there but does not answer is tried again, after pauses that
// grow to half a minute, until it answers; its going away, a disconnect() or
// a fresh arrival ends the pauses. In virtual time, to see the pauses exactly.
TEST(HIDPPDeviceRetries, AMouseThatDoesNotAnswerIsTriedAgainAfterGrowingPausesUntilSomethingEndsIt) {
    using std::chrono::milliseconds;
    enum class End { answers, unplugged, disconnected, replugged, connectedByHand };
    struct Case {
        End end;
        std::vector<milliseconds> pauses; // between an attempt's time-out and the next ping
    };
    const std::vector<milliseconds> all{milliseconds(250),   milliseconds(1000),  milliseconds(2000),
                                        milliseconds(4000),  milliseconds(8000),  milliseconds(16000),
                                        milliseconds(30000), milliseconds(30000)};
    const std::vector<Case> cases{
        {End::answers, all},
        {End::unplugged, {all[0], all[1]}},
        {End::disconnected, {all[0]}},
        {End::replugged, {all[0], all[1]}},
        {End::connectedByHand, {all[0], all[1]}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.end));
        DeviceRig rig(RigMode::virtualTime);
        const milliseconds timeout(50);
        rig.device->setDefaultTimeout(0.05);
        rig.mouse->setSilent(true);
        EventRecorder recorder(rig);
        const auto pings = [&] { return rig.mouse->requestCount(0x0000, 1); };
        const auto now = [&] { return milliseconds(rig.loop->nowNanos() / 1'000'000); };

        ASSERT_EQ(rig.await<void>([&](auto done) { rig.device->connect(nullptr, std::move(done)); }),
                  std::unexpected(HIDPPError::timeout("feature 0x00 fn 0x01")));
        EXPECT_TRUE(rig.device->isRetrying());
        std::vector<milliseconds> pauses;
        for (milliseconds last = now(); pauses.size() < c.pauses.size();) {
            const std::size_t before = pings();
            ASSERT_TRUE(rig.eventually([&] { return pings() > before; }));
            pauses.push_back(now() - last - (pauses.empty() ? milliseconds(0) : timeout));
            last = now();
        }
        // The first pause counts from the time-out of connect() itself.
        EXPECT_EQ(pauses, c.pauses);
        ASSERT_TRUE(rig.eventually([&] { return !rig.device->isConnecting(); }));

        const HIDPPEvent started = HIDPPEvent::retrying(true), stopped = HIDPPEvent::retrying(false);
        switch (c.end) {
        case End::answers:
        case End::replugged: {
            rig.mouse->setSilent(false);
            if (c.end == End::replugged) {
                rig.mouse->unplug();
                rig.mouse->plugIn();
            }
            ASSERT_TRUE(rig.eventually([&] { return rig.device->isConnected(); }));
            rig.elapse(milliseconds(10));
            const HIDPPDeviceIdentity identity = identityOf(rig.device);
            const auto connected = HIDPPEvent::stateChanged(HIDPPConnectionState::connected(identity));
            const std::vector<HIDPPEvent> answered{connected, HIDPPEvent::deviceReady(identity),
                                                   HIDPPEvent::deviceAttached(identity)};
            // A retry that answers says so before it reports the mouse attached;
            // a re-plug ends the retries at once and then connects anew.
            const std::vector<HIDPPEvent> expected =
                c.end == End::answers ? std::vector<HIDPPEvent>{started, answered[0], answered[1], stopped, answered[2]}
                                      : std::vector<HIDPPEvent>{started, stopped, answered[0], answered[1], answered[2]};
            EXPECT_EQ(recorder.events(), expected);
            break;
        }
        case End::connectedByHand: {
            // Connected by hand during a pause: the retry after that pause
            // still reports the arrival, as a reconnection does.
            rig.mouse->setSilent(false);
            ASSERT_TRUE(rig.await<void>([&](auto done) { rig.device->connect(nullptr, std::move(done)); }).has_value());
            const HIDPPDeviceIdentity identity = identityOf(rig.device);
            const auto connected = HIDPPEvent::stateChanged(HIDPPConnectionState::connected(identity));
            std::vector<HIDPPEvent> expected{started, connected, HIDPPEvent::deviceReady(identity), stopped};
            EXPECT_EQ(recorder.events(), expected);
            const std::size_t before = pings();
            rig.elapse(all[2] + milliseconds(10));
            expected.push_back(HIDPPEvent::deviceAttached(identity));
            EXPECT_EQ(recorder.events(), expected);
            EXPECT_EQ(pings(), before) << "the mouse is not asked again";
            break;
        }
        case End::unplugged:
        case End::disconnected:
            if (c.end == End::unplugged) {
                rig.mouse->unplug();
            } else {
                rig.await<void>([&](HIDPPCompletion<void> done) {
                    rig.device->disconnect(nullptr, [done = std::move(done)]() mutable { done({}); });
                });
            }
            const std::size_t before = pings();
            rig.elapse(milliseconds(60'000));
            EXPECT_EQ(pings(), before) << "nothing more is tried";
            EXPECT_EQ(recorder.events(), (std::vector<HIDPPEvent>{started, stopped}));
            break;
        }
        EXPECT_FALSE(rig.device->isRetrying());
    }

    // A device its owner lets go while it waits to try again goes: its pause
    // neither keeps it alive nor tries again.
    DeviceRig rig(RigMode::virtualTime);
    rig.device->setDefaultTimeout(0.05);
    rig.mouse->setSilent(true);
    ASSERT_FALSE(rig.await<void>([&](auto done) { rig.device->connect(nullptr, std::move(done)); }).has_value());
    ASSERT_TRUE(rig.device->isRetrying());
    const std::weak_ptr<HIDPPDevice> watched = rig.device;
    const std::size_t before = rig.mouse->requestCount(0x0000, 1);
    rig.device.reset();
    rig.elapse(milliseconds(60'000));
    EXPECT_TRUE(watched.expired());
    EXPECT_EQ(rig.mouse->requestCount(0x0000, 1), before);
}

TEST_P(HIDPPDeviceConnectionTests, WithoutAutomaticReconnectionAnArrivalDoesNothing) {
    device->setAutomaticallyReconnects(false);
    ASSERT_TRUE(connect().has_value());
    mouse->unplug();
    ASSERT_TRUE(rig.eventually([&] { return !device->isConnected(); }));
    const std::size_t before = pings();
    mouse->plugIn();
    // A round trip through the HID thread and the device's queue twice over
    // lets any reconnection start; none does.
    rig.settle();
    auto stats = rig.await<std::optional<HIDPPTransportStatistics>>([&](auto done) {
        device->transportStatistics(nullptr, [done = std::move(done)](auto s) mutable { done(s); });
    });
    rig.settle();
    EXPECT_FALSE(device->isConnecting());
    EXPECT_FALSE(device->isConnected());
    EXPECT_EQ(pings(), before);
}

TEST_P(HIDPPDeviceConnectionTests, DisconnectStopsWatchingForArrivals) {
    mouse->unplug();
    EXPECT_EQ(connect(), std::unexpected(HIDPPError::deviceNotFound()));
    EventRecorder recorder(rig);
    disconnect();
    mouse->plugIn();
    rig.settle();
    rig.settle();
    EXPECT_FALSE(device->isConnected());
    EXPECT_TRUE(recorder.events().empty());
    EXPECT_EQ(pings(), 0u);
}

TEST_P(HIDPPDeviceConnectionTests, UnpluggingMidRequestFailsItPromptly) {
    device->setDefaultTimeout(60); // a hang would outlast the test's wait
    ASSERT_TRUE(connect().has_value());
    EventRecorder recorder(rig);
    mouse->unplugOnNext({.featureID = 0x2201, .function = 2});
    auto dpi = rig.await<HIDPPDPIState>([&](auto done) { device->dpi(0, nullptr, std::move(done)); });
    EXPECT_EQ(dpi, std::unexpected(HIDPPError::deviceRemoved()));
    EXPECT_EQ(recorder.waitFor(2), (std::vector<HIDPPEvent>{HIDPPEvent::deviceRemoved(),
                                                           HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected())}));
    auto after = rig.await<HIDPPDPIState>([&](auto done) { device->dpi(0, nullptr, std::move(done)); });
    EXPECT_EQ(after, std::unexpected(HIDPPError::notConnected()));
}

TEST_P(HIDPPDeviceConnectionTests, DisconnectFailsWaitingRequestsPromptly) {
    device->setDefaultTimeout(60);
    ASSERT_TRUE(connect().has_value());
    mouse->setSilent(true);
    Pending<HIDPPWheelMode> result;
    device->wheelMode(nullptr, result.completion());
    ASSERT_TRUE(rig.eventually([&] { return mouse->requestCount(0x2121, 1) == 1; }));
    disconnect();
    EXPECT_EQ(rig.wait(result), std::unexpected(HIDPPError::notConnected()));
}

TEST_P(HIDPPDeviceConnectionTests, RemovalDuringTheConnectionPingEndsTheAttempt) {
    EventRecorder recorder(rig);
    mouse->unplugOnNext(pingRequest);
    EXPECT_EQ(connect(), std::unexpected(HIDPPError::deviceRemoved()));
    EXPECT_EQ(recorder.waitFor(1).front(), HIDPPEvent::deviceRemoved());
    EXPECT_EQ(device->state(), HIDPPConnectionState::disconnected());
    // No state change: the state was disconnected all along.
    rig.settle();
    EXPECT_EQ(recorder.events().size(), 1u);
}

TEST_P(HIDPPDeviceConnectionTests, RemovalDuringDiscoveryEndsTheAttempt) {
    mouse->unplugOnNext({.featureID = 0x0001, .function = 1});
    EXPECT_EQ(connect(), std::unexpected(HIDPPError::deviceRemoved()));
    EXPECT_FALSE(device->isConnecting());
    EXPECT_TRUE(device->features().empty());
}

TEST_P(HIDPPDeviceConnectionTests, DisconnectDuringTheConnectionPingFailsTheAttempt) {
    device->setDefaultTimeout(60);
    mouse->dropNext(pingRequest);
    EventRecorder recorder(rig);
    Pending<void> result;
    device->connect(nullptr, result.completion());
    ASSERT_TRUE(rig.eventually([&] { return pings() == 1; }));
    disconnect();
    EXPECT_EQ(rig.wait(result), std::unexpected(HIDPPError::notConnected()));
    rig.settle();
    EXPECT_EQ(device->state(), HIDPPConnectionState::disconnected());
    EXPECT_FALSE(device->identity().has_value());
    EXPECT_TRUE(recorder.events().empty());
}

TEST_P(HIDPPDeviceConnectionTests, APingTimeoutClosesTheLink) {
    device->setAutomaticallyReconnects(false); // no retries, which are tested on their own
    device->setDefaultTimeout(0.1);
    mouse->dropNext(pingRequest);
    EventRecorder recorder(rig);
    EXPECT_EQ(connect(), std::unexpected(HIDPPError::timeout("feature 0x00 fn 0x01")));
    EXPECT_FALSE(device->identity().has_value());
    rig.settle();
    EXPECT_TRUE(recorder.events().empty()); // disconnected before and after
}

TEST_P(HIDPPDeviceConnectionTests, DeniedAccessGivesNotPermittedOnce) {
    device->setAutomaticallyReconnects(false); // no retries, which are tested on their own
    EventRecorder recorder(rig);
    mouse->refuseOpen(platform::kIOReturnNotPermitted);
    EXPECT_EQ(connect(), std::unexpected(HIDPPError::notPermitted()));
    EXPECT_EQ(device->state(), HIDPPConnectionState::notPermitted());
    EXPECT_EQ(recorder.waitFor(1), (std::vector<HIDPPEvent>{HIDPPEvent::stateChanged(HIDPPConnectionState::notPermitted())}));
    EXPECT_EQ(connect(), std::unexpected(HIDPPError::notPermitted()));
    rig.settle();
    EXPECT_EQ(recorder.events().size(), 1u);

    // Another open failure leaves the state as it was.
    mouse->refuseOpen(platform::kIOReturnExclusiveAccess);
    const auto busy = connect();
    ASSERT_FALSE(busy.has_value());
    EXPECT_EQ(busy.error().description(), "IOHIDDeviceOpen failed: 0xE00002C5 (kIOReturnExclusiveAccess)");
    EXPECT_EQ(device->state(), HIDPPConnectionState::notPermitted());

    mouse->allowOpen();
    ASSERT_TRUE(connect().has_value());
    disconnect();
    EXPECT_EQ(recorder.waitFor(4).back(), HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected()));
}

TEST_P(HIDPPDeviceConnectionTests, NotificationsReachEverySubscriberInOrder) {
    EventRecorder first(rig);
    EventRecorder second(rig, rig.makeExecutor("test.subscriber"));
    ASSERT_TRUE(connect().has_value());
    first.waitFor(2);
    const std::uint8_t wheel = mouse->featureIndex(0x2121).value();
    for (std::uint8_t state : {0, 1, 0, 1, 0}) mouse->sendRatchetSwitch(state);

    std::vector<HIDPPEvent> expected;
    for (std::uint8_t state : {0, 1, 0, 1, 0}) {
        HIDPPBytes payload(16, 0);
        payload[0] = state;
        expected.push_back(HIDPPEvent::notification(wheel, 0x10, payload));
    }
    for (EventRecorder* recorder : {&first, &second}) {
        auto events = recorder->waitFor(7);
        EXPECT_EQ(std::vector<HIDPPEvent>(events.begin() + 2, events.end()), expected);
    }

    // A subscriber that has gone receives nothing more; the other one still does.
    second.subscription().cancel();
    mouse->sendRatchetSwitch(1);
    EXPECT_EQ(first.waitFor(8).size(), 8u);
    rig.settle();
    EXPECT_EQ(second.events().size(), 7u);
}

TEST_P(HIDPPDeviceConnectionTests, ReleasingAConnectedDeviceClosesItsLink) {
    ASSERT_TRUE(connect().has_value());
    std::weak_ptr<HIDPPDevice> weak = device;
    device.reset();
    ASSERT_TRUE(rig.eventually([&] { return weak.expired(); }));
    // The mouse can be opened again by a new device.
    device = rig.makeDevice();
    EXPECT_TRUE(connect().has_value());
}

TEST_P(HIDPPDeviceConnectionTests, InputMonitoringAccessFollowsTheHIDLayer) {
    // The check asks the process's HID system, which is a simulated bus here.
    auto bus = std::dynamic_pointer_cast<platform::SimulatedHIDBus>(platform::HIDSystem::shared());
    ASSERT_TRUE(bus);
    rig.bus->setListenAccess(platform::HIDAccess::denied);
    bus->setListenAccess(platform::HIDAccess::granted);
    EXPECT_EQ(HIDPPDevice::inputMonitoringAccess(), HIDPPInputMonitoringAccess::granted);
    bus->setListenAccess(platform::HIDAccess::unknown);
    EXPECT_EQ(HIDPPDevice::inputMonitoringAccess(), HIDPPInputMonitoringAccess::unknown);
    bus->setListenAccess(platform::HIDAccess::denied);
    EXPECT_EQ(HIDPPDevice::inputMonitoringAccess(), HIDPPInputMonitoringAccess::denied);
    // Without the grant the host refuses the open (on the rig's own bus).
    EXPECT_EQ(connect(), std::unexpected(HIDPPError::notPermitted()));
    EXPECT_EQ(device->state(), HIDPPConnectionState::notPermitted());
}

INSTANTIATE_TEST_SUITE_P(, HIDPPDeviceConnectionTests, ::testing::Values(RigMode::virtualTime, RigMode::threads), rigModeName);

// A caller may name a queue that nothing else holds: the operation keeps it
// until the completion has run there, so no completion is lost with it.
TEST(HIDPPDeviceCompletionTest, ACompletionReachesAQueueOnlyTheOperationHolds) {
    DeviceRig rig(RigMode::threads);
    auto calls = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < 10; ++i) {
        rig.device->ping(makeSerialQueue("test.caller"), [calls](HIDPPResult<HIDPPProtocolVersion> result) {
            EXPECT_EQ(result, std::unexpected(HIDPPError::notConnected()));
            ++*calls;
        });
    }
    EXPECT_TRUE(rig.eventually([&] { return calls->load() == 10; })) << calls->load() << " of 10 completions";
}

// An idle device lets the caller's thread start the request itself, but a
// caller who names no executor still gets the answer on the device's queue,
// never inside its own call, whether it needed the mouse or not; requests
// keep the order of the calls.
TEST(HIDPPDeviceCompletionTest, WithNoExecutorNamedTheAnswerComesOnTheDevicesQueueNeverInsideTheCall) {
    DeviceRig rig(RigMode::threads);
    const auto caller = std::this_thread::get_id();
    struct Seen {
        std::mutex mutex;
        std::vector<int> order;
        int insideCall = 0, offQueue = 0;
    };
    auto seen = std::make_shared<Seen>();
    std::atomic<bool> inCall{false};
    const auto call = [&](int tag, auto operation) {
        inCall = true;
        operation([&, seen, tag](auto result) {
            std::lock_guard lock(seen->mutex);
            seen->order.push_back(result.has_value() ? tag : -tag);
            seen->insideCall += inCall && std::this_thread::get_id() == caller;
            seen->offQueue += !rig.device->queue()->isCurrent();
        });
        inCall = false;
    };
    const auto ping = [&](auto done) { rig.device->ping(nullptr, std::move(done)); };
    call(1, ping); // not connected: answered without the mouse
    ASSERT_TRUE(rig.await<void>([&](auto done) { rig.device->connect(nullptr, std::move(done)); }).has_value());
    for (int tag = 2; tag <= 7; ++tag) call(tag, ping);
    ASSERT_TRUE(rig.eventually([&] {
        std::lock_guard lock(seen->mutex);
        return seen->order.size() == 7;
    }));
    std::lock_guard lock(seen->mutex);
    EXPECT_EQ(seen->order, (std::vector<int>{-1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(seen->insideCall, 0);
    EXPECT_EQ(seen->offQueue, 0);
}

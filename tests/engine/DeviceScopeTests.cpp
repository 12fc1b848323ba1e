#include <gtest/gtest.h>

#include <atomic>

#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "RavoletEngine/EventPath/DeviceScope.hpp"
#include "RavoletEngine/EventPath/EngineSPIDiagnostics.hpp"
#include "RavoletEngine/EventPath/RavoletEventTag.hpp"

using namespace ravolet;
using namespace ravolet::platform;

namespace {

constexpr std::uint64_t ms = 1'000'000; // ticks are nanoseconds

struct DeviceScopeTest : ::testing::Test {
    std::shared_ptr<SimulatedPrivateHIDEventSystem> hid = std::make_shared<SimulatedPrivateHIDEventSystem>();
    std::shared_ptr<ManualScheduler> queue = std::make_shared<ManualScheduler>();
    std::shared_ptr<std::atomic<std::uint64_t>> now = std::make_shared<std::atomic<std::uint64_t>>(5000 * ms);
    SimulatedDevice target = SimulatedDevice::targetMouse();
    SimulatedDevice trackpad = SimulatedDevice::trackpad();
    SimulatedDevice other = SimulatedDevice::otherMouse();

    std::shared_ptr<DeviceScope> makeScope() {
        return DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(hid), queue,
                                   [clock = now] { return clock->load(); });
    }
    // A hardware event as the system hands it to the tap.
    static Event from(const SimulatedDevice& device, Event event) {
        if (device.providesHIDEvent) event.setHIDSenderID(device.registryID);
        return event;
    }
};

} // namespace

TEST_F(DeviceScopeTest, TargetServicesAreRecognisedBySenderAndOtherDevicesAreForeign) {
    hid->attach(other);
    hid->attach(target);
    hid->attach(trackpad);
    auto scope = makeScope();
    EXPECT_FALSE(scope->isTargetAttached()); // nothing until the first refresh has run
    queue->runUntilIdle();

    EXPECT_TRUE(scope->isTargetAttached());
    const auto known = scope->knownDevices();
    ASSERT_EQ(known.size(), 3u);
    EXPECT_EQ(known[0].registryID, target.registryID); // sorted by registry identifier
    EXPECT_EQ(known[2].registryID, other.registryID);
    ASSERT_EQ(scope->targetDevices().size(), 1u);
    EXPECT_EQ(scope->targetDevices()[0].label(), "G502 X [0x046D:0xC099] usage 1/2");

    EXPECT_EQ(scope->decide(from(target, SimulatedEventSystem::motionEvent(1, 0))),
              ScopeDecision::target(DeviceID(target.registryID)));
    EXPECT_EQ(scope->decide(from(trackpad, SimulatedEventSystem::wheelEvent(1))),
              ScopeDecision::foreign(DeviceID(trackpad.registryID)));
    EXPECT_EQ(scope->decide(from(other, SimulatedEventSystem::buttonEvent(EventTypes::leftMouseDown, 0))),
              ScopeDecision::foreign(DeviceID(other.registryID)));
    EXPECT_EQ(hid->outstandingHIDEvents(), 0); // every HID event copied was released

    const auto counters = scope->snapshotCounters();
    EXPECT_EQ(counters, (DeviceScope::Counters{1, 2, 0, 0, 0, 1}));
    EXPECT_EQ(counters.total(), 3); // refreshes are not decisions
    scope->resetCounters();
    EXPECT_EQ(scope->snapshotCounters(), DeviceScope::Counters{});
}

TEST_F(DeviceScopeTest, AMissingPrivateFunctionLeavesEveryEventUnidentifiedAndIsReported) {
    hid->attach(target);
    for (const char* symbol : {"CGEventCopyIOHIDEvent", "IOHIDEventGetSenderID", "IOHIDEventSystemClientCreateSimpleClient",
                               "IOHIDEventSystemClientCopyServices", "IOHIDServiceClientGetRegistryID"}) {
        SCOPED_TRACE(symbol);
        auto fresh = std::make_shared<SimulatedPrivateHIDEventSystem>();
        fresh->attach(target);
        fresh->dropFunction(symbol);
        auto spi = std::make_shared<PrivateSPI>(fresh);
        auto scope = DeviceScope::create({HIDPPDeviceMatch::g502X}, spi, queue, [c = now] { return c->load(); });
        queue->runUntilIdle();
        // Never a guess: not even field 87, nor the program's own tag without a synthetic tag set.
        auto button = from(target, SimulatedEventSystem::buttonEvent(EventTypes::otherMouseDown, 3));
        button.setIntegerValueField(EventFields::mouseEventSenderID, static_cast<std::int64_t>(target.registryID));
        Event tagged(EventTypes::scrollWheel);
        tagAsRavoletEmitted(tagged);
        for (const auto& event : {button, tagged})
            EXPECT_EQ(scope->decide(event), ScopeDecision::unidentified(UnidentifiedReason::spiUnavailable));
        EXPECT_EQ(scope->snapshotCounters().unidentifiedSPIUnavailable, 2);
        EXPECT_EQ(spi->missingSymbols(), std::vector<std::string>{symbol});
        EXPECT_EQ(EngineSPIDiagnostics::missingSymbols(*spi), std::vector<std::string>{symbol});
    }

    // Without IOKit every function of it is missing, in table order.
    auto noIOKit = std::make_shared<SimulatedPrivateHIDEventSystem>();
    noIOKit->failLibrary(std::string(iokitLibraryPath));
    PrivateSPI spi(noIOKit);
    EXPECT_EQ(spi.missingSymbols(),
              (std::vector<std::string>{"IOHIDEventGetSenderID", "IOHIDEventSystemClientCreateSimpleClient",
                                        "IOHIDEventSystemClientCopyServices", "IOHIDServiceClientGetRegistryID",
                                        "IOHIDServiceClientCopyProperty", "IOHIDServiceClientSetProperty"}));
    // Each library is opened and each symbol looked up once per table.
    const auto lookups = noIOKit->symbolLookups();
    spi.missingSymbols();
    EXPECT_EQ(noIOKit->symbolLookups(), lookups);
    EXPECT_EQ(noIOKit->libraryOpens(), 2u);
}

TEST_F(DeviceScopeTest, TheSyntheticTagMakesTheProgramsOwnEventsTheTargets) {
    hid->dropFunction("CGEventCopyIOHIDEvent");
    auto scope = makeScope();
    scope->setSyntheticSourceTag(RavoletEventTag::value);
    Event tagged(EventTypes::scrollWheel);
    tagAsRavoletEmitted(tagged);
    EXPECT_EQ(scope->decide(tagged), ScopeDecision::target(DeviceID(0xC099000000000001)));
    EXPECT_TRUE(scope->decide(tagged).isTarget());
    EXPECT_EQ(scope->decide(Event(EventTypes::scrollWheel)).deviceID(), DeviceID::unknown);
}

TEST_F(DeviceScopeTest, Field87StandsInForAMissingHIDEventOnButtonAndDragEventsOnly) {
    target.providesHIDEvent = false;
    hid->attach(target);
    auto scope = makeScope();
    queue->runUntilIdle();
    auto withField = [&](Event e) {
        e.setIntegerValueField(EventFields::mouseEventSenderID, static_cast<std::int64_t>(target.registryID));
        return e;
    };
    EXPECT_TRUE(scope->decide(withField(SimulatedEventSystem::buttonEvent(EventTypes::otherMouseUp, 5))).isTarget());
    EXPECT_TRUE(scope->decide(withField(SimulatedEventSystem::motionEvent(1, 1, EventTypes::leftMouseDragged))).isTarget());
    EXPECT_EQ(scope->decide(withField(SimulatedEventSystem::motionEvent(1, 1))),
              ScopeDecision::unidentified(UnidentifiedReason::noHIDEvent));
    EXPECT_EQ(scope->decide(withField(SimulatedEventSystem::wheelEvent(1))),
              ScopeDecision::unidentified(UnidentifiedReason::noHIDEvent));
    EXPECT_EQ(scope->snapshotCounters().unidentifiedNoHIDEvent, 2);
}

TEST_F(DeviceScopeTest, UnknownSendersAskForThrottledRefreshesAndForcedOnesQueueBehindARunningOne) {
    auto scope = makeScope();
    queue->runUntilIdle(); // the first refresh finds nothing and changes nothing
    EXPECT_EQ(scope->snapshotCounters().refreshes, 0);

    hid->attach(target);
    now->fetch_add(1000 * ms);
    const auto event = from(target, SimulatedEventSystem::motionEvent(1, 0));
    EXPECT_EQ(scope->decide(event), ScopeDecision::unidentified(UnidentifiedReason::unknownSender));
    now->fetch_add(200 * ms);
    EXPECT_EQ(scope->decide(event), ScopeDecision::unidentified(UnidentifiedReason::unknownSender));
    EXPECT_EQ(queue->runUntilIdle(), 1u); // one refresh for both
    EXPECT_EQ(scope->snapshotCounters().refreshes, 1);
    EXPECT_TRUE(scope->decide(event).isTarget());

    // Within the interval an unforced request does nothing, a forced one runs.
    scope->refresh(false);
    EXPECT_EQ(queue->runUntilIdle(), 0u);
    scope->refresh(true);
    scope->refresh(true); // in flight: marks one more
    scope->refresh(true);
    EXPECT_EQ(queue->runUntilIdle(), 2u);
    EXPECT_EQ(scope->snapshotCounters().refreshes, 3);

    // Past the interval an unforced request runs again.
    now->fetch_add(1000 * ms);
    scope->refresh(false);
    EXPECT_EQ(queue->runUntilIdle(), 1u);
}

TEST_F(DeviceScopeTest, ServicesAreDescribedOnlyByWhatTheyReliablyReport) {
    hid->addService({PropertyValue{std::uint64_t{0}}, {{"VendorID", std::int64_t{0x046D}}, {"ProductID", std::int64_t{0xC099}}}});
    hid->addService({PropertyValue{std::string("not a number")}, {}});
    hid->addService({std::nullopt, {}});
    hid->addService({PropertyValue{std::uint64_t{40}}, {{"VendorID", std::int64_t{0x046D}}, {"Product", std::int64_t{7}}}});
    hid->addService({PropertyValue{std::uint64_t{41}}, {{"VendorID", std::string("0x046D")}, {"ProductID", std::int64_t{0xC099}}}});
    auto scope = makeScope();
    queue->runUntilIdle();

    const auto known = scope->knownDevices();
    ASSERT_EQ(known.size(), 2u); // identifier 0, a text and none are never listed
    EXPECT_EQ(known[0].registryID, 40u);
    EXPECT_EQ(known[0].vendorID, 0x046D);
    EXPECT_EQ(known[0].productID, std::nullopt); // vendor alone is not the target
    EXPECT_EQ(known[0].product, std::nullopt);   // a number where a text belongs
    EXPECT_EQ(known[1].vendorID, std::nullopt);  // a text where a number belongs
    EXPECT_FALSE(scope->isTargetAttached());
    EXPECT_EQ(scope->decide(Event(EventTypes::mouseMoved)), ScopeDecision::unidentified(UnidentifiedReason::noHIDEvent));
    Event fromForty(EventTypes::mouseMoved);
    fromForty.setHIDSenderID(40);
    EXPECT_EQ(scope->decide(fromForty), ScopeDecision::foreign(DeviceID(40)));

    EXPECT_EQ(ScopedDevice{}.label(), "(unnamed) [?:?] usage -1/-1");

    // Without the property function a service is known by its identifier only.
    auto bare = std::make_shared<SimulatedPrivateHIDEventSystem>();
    bare->attach(target);
    bare->dropFunction("IOHIDServiceClientCopyProperty");
    auto bareScope = DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(bare), queue,
                                         [c = now] { return c->load(); });
    queue->runUntilIdle();
    ScopedDevice idOnly;
    idOnly.registryID = target.registryID;
    EXPECT_EQ(bareScope->knownDevices(), std::vector<ScopedDevice>{idOnly});
}

TEST_F(DeviceScopeTest, AnEmptyEnumerationKeepsTheTablesAndNewMatchesForceARefresh) {
    hid->attach(target);
    hid->attach(other);
    auto scope = makeScope();
    queue->runUntilIdle();
    ASSERT_TRUE(scope->isTargetAttached());

    hid->removeAllServices();
    scope->refresh(true);
    queue->runUntilIdle();
    EXPECT_TRUE(scope->isTargetAttached()); // unplugged, but nothing else was found either
    hid->failServiceCopy(true);
    scope->refreshNow();
    EXPECT_EQ(scope->knownDevices().size(), 2u);

    hid->failServiceCopy(false);
    hid->attach(other);
    scope->setMatches({HIDPPDeviceMatch{0x045E, 0x0823}});
    EXPECT_EQ(queue->runUntilIdle(), 1u);
    ASSERT_EQ(scope->targetDevices().size(), 1u);
    EXPECT_EQ(scope->targetDevices()[0].registryID, other.registryID);
    EXPECT_EQ(hid->outstandingClients(), 0) << "every refresh releases its client, also when listing failed";
}

TEST_F(DeviceScopeTest, AQueuedRefreshDoesNothingOnceTheScopeIsGone) {
    hid->attach(target);
    std::weak_ptr<DeviceScope> weak;
    {
        auto scope = makeScope();
        weak = scope;
    }
    EXPECT_TRUE(weak.expired());
    const auto copies = hid->serviceCopies();
    EXPECT_EQ(queue->runUntilIdle(), 1u);
    EXPECT_EQ(hid->serviceCopies(), copies);
}

TEST_F(DeviceScopeTest, DiagnosticsLookUpTheirSymbolsAnew) {
    hid->attach(target);
    PrivateSPI spi(hid);
    EXPECT_TRUE(EngineSPIDiagnostics::hasLegacyCGEventGetIOHIDEvent(spi));
    hid->dropFunction("CGEventGetIOHIDEvent");
    EXPECT_FALSE(EngineSPIDiagnostics::hasLegacyCGEventGetIOHIDEvent(spi));

    const auto services = EngineSPIDiagnostics::services(spi);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(hid->outstandingClients(), 0);
    EXPECT_EQ(EngineSPIDiagnostics::registryID(spi, services[0]), target.registryID);
    const auto misread = EngineSPIDiagnostics::registryIDMisreadAsUInt64(spi, services[0]);
    ASSERT_TRUE(misread);
    EXPECT_NE(*misread, target.registryID); // the object's address, not the number
    EXPECT_TRUE(EngineSPIDiagnostics::canSetServiceProperties(spi));

    hid->dropFunction("IOHIDServiceClientGetRegistryID");
    EXPECT_FALSE(EngineSPIDiagnostics::registryIDMisreadAsUInt64(spi, services[0])); // looked up anew
    EXPECT_EQ(EngineSPIDiagnostics::registryID(spi, services[0]), target.registryID); // the table kept its answer
}

#include <gtest/gtest.h>

#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "Platform/Simulated/SimulatedServiceRegistry.hpp"
#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/LivePointerPropertyBackend.hpp"

using namespace ravolet;
using namespace ravolet::platform;
using Write = PointerPropertyWrite;

namespace {

constexpr std::uint64_t mouseID = 0x100000A51;
constexpr auto setter = "IOHIDServiceClientSetProperty";

struct LiveBackendTest : ::testing::Test {
    std::shared_ptr<SimulatedPrivateHIDEventSystem> hid = std::make_shared<SimulatedPrivateHIDEventSystem>();
    std::shared_ptr<SimulatedServiceRegistry> registry = std::make_shared<SimulatedServiceRegistry>();

    LiveBackendTest() {
        hid->attach(SimulatedDevice::targetMouse(mouseID));
        hid->attach(SimulatedDevice::trackpad());
    }
    // Functions are looked up once per loader, so each configuration gets a fresh backend.
    std::unique_ptr<LivePointerPropertyBackend> make() {
        return std::make_unique<LivePointerPropertyBackend>(std::make_shared<PrivateSPI>(hid), registry);
    }
};

} // namespace

TEST(FakePointerPropertyBackendTest, SeedsMergeAndWritesAreRefusedAsConfigured) {
    FakePointerPropertyBackend fake({PointerServiceIdentity{1}});
    fake.seed(1, {{"A", 1}, {"B", 2}}, {{"T", "x"}});
    fake.seed(1, {{"B", 3}});
    EXPECT_EQ(fake.readNumber("A", 1), 1);
    EXPECT_EQ(fake.readNumber("B", 1), 3);
    EXPECT_EQ(fake.readString("T", 1), "x");
    EXPECT_EQ(fake.readNumber("T", 1), std::nullopt);
    EXPECT_EQ(fake.readNumber("A", 2), std::nullopt);

    fake.setKeysRefusedByEventSystem({"B"});
    fake.setKeysRefusedEverywhere({"C"});
    EXPECT_EQ(fake.writeNumber("A", 10, 1), Write::eventSystem);
    EXPECT_EQ(fake.writeNumber("B", 20, 1), Write::registryEntry);
    EXPECT_EQ(fake.writeNumber("C", 30, 1), Write::refused);
    EXPECT_EQ(fake.writeNumber("A", 40, 2), Write::eventSystem); // any identifier takes a write
    fake.setCanWrite(false);
    EXPECT_EQ(fake.writeNumber("A", 50, 1), Write::refused);
    EXPECT_EQ(fake.writeLog(), (std::vector<FakePointerPropertyBackend::WriteRecord>{{1, "A", 10}, {1, "B", 20}, {2, "A", 40}}));
    EXPECT_EQ(fake.values().at(1).at("A"), 10);
    EXPECT_FALSE(fake.values().at(1).contains("C"));
    EXPECT_TRUE(fake.serviceExists(1));
    EXPECT_FALSE(fake.serviceExists(2));
}

TEST_F(LiveBackendTest, ListsServicesWithTheirPropertiesSkippingUnreadableIdentifiers) {
    hid->addService({PropertyValue{std::uint64_t{0}}, {{"VendorID", std::int64_t{1}}}});
    hid->addService({PropertyValue{std::string("0x42")}, {}});
    hid->addService({PropertyValue{true}, {}});
    hid->addService({std::nullopt, {}});
    hid->addService({PropertyValue{std::int64_t{0x77}}, {{"VendorID", true}, {"Product", std::int64_t{5}}}});
    auto backend = make();
    const auto services = backend->services();
    ASSERT_EQ(services.size(), 3u);
    EXPECT_EQ(services[0].label(), "G502 X [0x046D:0xC099] usage 1/2 registry 0x100000A51");
    EXPECT_EQ(services[1].registryID, SimulatedDevice::trackpad().registryID);
    EXPECT_EQ(services[2], PointerServiceIdentity{0x77}); // values of the wrong kind count as absent
    EXPECT_TRUE(backend->canWrite());

    hid->dropFunction("IOHIDServiceClientCopyProperty");
    EXPECT_EQ(make()->services()[0].label(), "(unnamed) [?:?] usage -1/-1 registry 0x100000A51");
}

TEST_F(LiveBackendTest, ReadsAndWritesFallBackToTheRegistryEntry) {
    registry->addEntry(mouseID, {{"HIDMouseAcceleration", PropertyValue{std::int64_t{99}}}}); // top level: never read
    registry->setEventServiceProperty(mouseID, "HIDPointerResolution", std::int64_t{400 * 65536});
    registry->setEventServiceProperty(mouseID, "HIDPointerAccelerationType", std::string("HIDMouseAcceleration"));
    hid->attach([] {
        auto mouse = SimulatedDevice::targetMouse(mouseID);
        mouse.properties["HIDPointerResolution"] = std::string("not a number");
        mouse.properties["HIDMouseAcceleration"] = std::int64_t{45056};
        return mouse;
    }());

    auto backend = make();
    EXPECT_EQ(backend->readNumber("HIDMouseAcceleration", mouseID), 45056);      // event system
    EXPECT_EQ(backend->readNumber("HIDPointerResolution", mouseID), 400 * 65536); // wrong kind there: registry
    EXPECT_EQ(backend->readString("HIDPointerAccelerationType", mouseID), "HIDMouseAcceleration");
    EXPECT_EQ(backend->readString("HIDPointerResolution", mouseID), "not a number");
    EXPECT_EQ(backend->writeNumber("HIDMouseAcceleration", -65536, mouseID), Write::eventSystem);
    EXPECT_EQ(hid->property(mouseID, "HIDMouseAcceleration"), PropertyValue{std::int64_t{-65536}});

    hid->dropFunction(setter);
    hid->dropFunction("IOHIDEventSystemClientCreateSimpleClient");
    backend = make();
    EXPECT_FALSE(backend->canWrite());
    EXPECT_TRUE(backend->services().empty());
    EXPECT_EQ(backend->readNumber("HIDMouseAcceleration", mouseID), std::nullopt); // only the dictionary counts
    EXPECT_EQ(backend->readNumber("HIDPointerResolution", mouseID), 400 * 65536);
    EXPECT_EQ(backend->writeNumber("HIDMouseAcceleration", -65536, mouseID), Write::registryEntry);
    EXPECT_EQ(registry->eventServiceProperty(mouseID, "HIDMouseAcceleration"), PropertyValue{std::int64_t{-65536}});
    EXPECT_TRUE(backend->serviceExists(mouseID));

    registry->failWrites(kIOReturnNotPermitted);
    EXPECT_EQ(backend->writeNumber("HIDMouseAcceleration", 0, mouseID), Write::refused);
    EXPECT_EQ(backend->writeNumber("HIDMouseAcceleration", 0, 0x5555), Write::refused);
    EXPECT_EQ(backend->readNumber("HIDPointerResolution", 0x5555), std::nullopt);
    EXPECT_FALSE(backend->serviceExists(0x5555));
    EXPECT_EQ(registry->outstandingEntries(), 0);
}

TEST_F(LiveBackendTest, LookupsReuseTheSessionAndMakeANewOneForAnIdentifierItLacks) {
    auto backend = make();
    backend->services();
    const auto copies = hid->serviceCopies();
    EXPECT_EQ(backend->writeNumber("HIDMouseAcceleration", -65536, mouseID), Write::eventSystem);
    EXPECT_EQ(backend->readNumber("HIDMouseAcceleration", mouseID), -65536);
    EXPECT_EQ(hid->serviceCopies(), copies); // served from the last listing

    auto late = SimulatedDevice::otherMouse();
    late.properties["HIDMouseAcceleration"] = std::int64_t{7};
    hid->attach(late);
    EXPECT_EQ(backend->readNumber("HIDMouseAcceleration", late.registryID), 7);
    EXPECT_EQ(hid->serviceCopies(), copies + 1);

    hid->failServiceCopy(true); // a listing that fails keeps the session it had
    EXPECT_TRUE(backend->services().empty());
    EXPECT_EQ(backend->readNumber("HIDMouseAcceleration", late.registryID), 7);
    EXPECT_EQ(backend->writeNumber("HIDMouseAcceleration", 0, 0x5555), Write::refused);
    EXPECT_EQ(hid->outstandingClients(), 1); // one client, the session's
    backend.reset();
    EXPECT_EQ(hid->outstandingClients(), 0);
}

TEST(LivePointerPropertyBackendTest, OnThisMachineEveryFunctionIsMissing) {
    LivePointerPropertyBackend backend;
    EXPECT_FALSE(backend.canWrite());
    EXPECT_TRUE(backend.services().empty());
    EXPECT_EQ(backend.readNumber("HIDPointerResolution", 1), std::nullopt);
    EXPECT_EQ(backend.readString("HIDPointerAccelerationType", 1), std::nullopt);
    EXPECT_EQ(backend.writeNumber("HIDPointerResolution", 1, 1), Write::refused);
    EXPECT_FALSE(backend.serviceExists(1));
}

#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using ravolet::platform::SimulatedMouse;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes request(std::uint8_t featureIndex, std::uint8_t function, Bytes params = {}, bool isLong = false,
              std::uint8_t softwareID = 1, std::uint8_t deviceIndex = 0xFF) {
    Bytes r(isLong ? 20 : 7, 0);
    r[0] = isLong ? 0x11 : 0x10;
    r[1] = deviceIndex;
    r[2] = featureIndex;
    r[3] = static_cast<std::uint8_t>(function << 4 | softwareID);
    for (std::size_t i = 0; i < params.size(); ++i) r[4 + i] = params[i];
    return r;
}

Bytes longReply(std::uint8_t featureIndex, std::uint8_t fnByte, Bytes payload) {
    Bytes r(20, 0);
    r[0] = 0x11;
    r[1] = 0xFF;
    r[2] = featureIndex;
    r[3] = fnByte;
    for (std::size_t i = 0; i < payload.size(); ++i) r[4 + i] = payload[i];
    return r;
}

Bytes only(const SimulatedMouse::Response& response) {
    EXPECT_EQ(response.reports.size(), 1u);
    EXPECT_FALSE(response.unplug);
    return response.reports.empty() ? Bytes{} : response.reports.front();
}

std::uint8_t indexOf(const SimulatedMouse& mouse, std::uint16_t id) { return mouse.featureIndex(id).value(); }

} // namespace

TEST(SimulatedMouseTests, RootAndFeatureSetDescribeTheTable) {
    auto owner = SimulatedMouse::make();
    SimulatedMouse& mouse = *owner;
    EXPECT_EQ(only(mouse.handleOutputReport(request(0, 1, {0, 0, 0x5A}))), longReply(0, 0x11, {4, 2, 0x5A}));

    const std::uint8_t dpi = indexOf(mouse, 0x2201);
    EXPECT_EQ(only(mouse.handleOutputReport(request(0, 0, {0x22, 0x01}, false, 3))), longReply(0, 0x03, {dpi, 0, 2}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(0, 0, {0x1D, 0x4B}))), longReply(0, 0x01, {0, 0, 0}));

    const std::uint8_t fs = indexOf(mouse, 0x0001);
    const auto table = mouse.featureTable();
    EXPECT_EQ(only(mouse.handleOutputReport(request(fs, 0))),
              longReply(fs, 0x01, {static_cast<std::uint8_t>(table.size() - 1)}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(fs, 1, {dpi}))), longReply(fs, 0x11, {0x22, 0x01, 0x00, 2}));
    // Past the end of the table.
    EXPECT_EQ(only(mouse.handleOutputReport(request(fs, 1, {static_cast<std::uint8_t>(table.size())}))),
              longReply(0xFF, fs, {0x11, 0x03}));
}

// The real 046D:C099 (firmware U1 60.00.B0009, HID++ 4.2), index by index:
// what the feature set lists there, where the root locates that feature, and
// what a request to it gets when the model does not implement the feature.
TEST(SimulatedMouseTests, TheFeatureTableIsTheRealMousesIndexByIndex) {
    struct Row {
        std::uint16_t id;
        std::uint8_t type;
        std::uint8_t version;
        bool modelled;
    };
    constexpr std::uint8_t internal = 0x60; // hidden, engineering
    const Row rows[] = {
        {0x0000, 0, 0, true},         {0x0001, 0, 0, true},         {0x0003, 0, 4, true},
        {0x0005, 0, 0, true},         {0x0020, 0, 0, false},        {0x00C2, 0, 0, false},
        {0x1801, internal, 0, false}, {0x1802, internal, 0, false}, {0x1805, internal, 0, false},
        {0x1806, internal, 0, false}, {0x1875, internal, 0, false}, {0x18A1, internal, 0, false},
        {0x18B1, internal, 0, false}, {0x18C0, internal, 0, false}, {0x1E00, internal, 0, false},
        {0x1E22, internal, 0, false}, {0x1EB0, internal, 0, false}, {0x2121, 0, 1, true},
        {0x2201, 0, 2, true},         {0x8060, 0, 0, true},         {0x8100, 0, 0, true},
        {0x8110, 0, 0, false},
    };
    auto owner = SimulatedMouse::make();
    SimulatedMouse& mouse = *owner;
    EXPECT_EQ(only(mouse.handleOutputReport(request(1, 0))), longReply(1, 0x01, {0x15}));
    for (std::uint8_t index = 0; index < std::size(rows); ++index) {
        const Row& row = rows[index];
        SCOPED_TRACE(::testing::Message() << "index " << int(index) << ", feature " << std::hex << row.id);
        const std::uint8_t hi = static_cast<std::uint8_t>(row.id >> 8), lo = static_cast<std::uint8_t>(row.id);
        EXPECT_EQ(only(mouse.handleOutputReport(request(1, 1, {index}))), longReply(1, 0x11, {hi, lo, row.type, row.version}));
        EXPECT_EQ(only(mouse.handleOutputReport(request(0, 0, {hi, lo}))), longReply(0, 0x01, {index, row.type, row.version}));
        if (!row.modelled) {
            EXPECT_EQ(only(mouse.handleOutputReport(request(index, 0))), longReply(0xFF, index, {0x01, 0x09}));
        }
    }
    // No extended report rate: the root does not find it.
    EXPECT_EQ(only(mouse.handleOutputReport(request(0, 0, {0x80, 0x61}))), longReply(0, 0x01, {0, 0, 0}));
}

TEST(SimulatedMouseTests, UnknownIndicesFunctionsAndDevicesAreRejectedAsADeviceWould) {
    auto owner = SimulatedMouse::make();
    SimulatedMouse& mouse = *owner;
    EXPECT_EQ(only(mouse.handleOutputReport(request(0x40, 0))), longReply(0xFF, 0x40, {0x01, 0x06}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(0, 9))), longReply(0xFF, 0x00, {0x91, 0x07}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(0, 1, {0, 0, 0x5A}, false, 1, 0x02))),
              (Bytes{0x10, 0x02, 0x8F, 0x00, 0x11, 0x08, 0x00}));
    // Not HID++ at all, or cut short: no answer.
    EXPECT_TRUE(mouse.handleOutputReport(Bytes{0x20, 0xFF, 0, 0x11, 0, 0, 0}).reports.empty());
    EXPECT_TRUE(mouse.handleOutputReport(Bytes{0x11, 0xFF, 0, 0x11}).reports.empty());
}

TEST(SimulatedMouseTests, DPIWritesReadBackAndUnsupportedValuesFail) {
    auto owner = SimulatedMouse::make();
    SimulatedMouse& mouse = *owner;
    const std::uint8_t dpi = indexOf(mouse, 0x2201);
    EXPECT_EQ(only(mouse.handleOutputReport(request(dpi, 1, {0}, true))),
              longReply(dpi, 0x11, {0, 0x00, 0x64, 0xE0, 0x32, 0x64, 0x00}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(dpi, 3, {0, 0x0C, 0x80}, true))), longReply(dpi, 0x31, {0, 0x0C, 0x80}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(dpi, 2, {0}))), longReply(dpi, 0x21, {0, 0x0C, 0x80, 0x06, 0x40}));
    EXPECT_EQ(mouse.currentDPI(), 3200);

    // Off the 50-step grid, below the minimum, another sensor: invalidArgument, nothing changes.
    for (const Bytes& params : {Bytes{0, 0x0C, 0x81}, Bytes{0, 0x00, 0x32}, Bytes{1, 0x0C, 0x80}})
        EXPECT_EQ(only(mouse.handleOutputReport(request(dpi, 3, params, true))), longReply(0xFF, dpi, {0x31, 0x02}));
    EXPECT_EQ(mouse.currentDPI(), 3200);

    mouse.setDPIList({400, 800, 1600});
    EXPECT_EQ(only(mouse.handleOutputReport(request(dpi, 3, {0, 0x03, 0x20}, true))), longReply(dpi, 0x31, {0, 0x03, 0x20}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(dpi, 3, {0, 0x03, 0x21}, true))), longReply(0xFF, dpi, {0x31, 0x02}));
}

TEST(SimulatedMouseTests, WheelReportRateOnboardProfilesAndName) {
    auto owner = SimulatedMouse::make();
    SimulatedMouse& mouse = *owner;
    const std::uint8_t wheel = indexOf(mouse, 0x2121);
    EXPECT_EQ(only(mouse.handleOutputReport(request(wheel, 2, {0xFE}, true))), longReply(wheel, 0x21, {0x06}));
    EXPECT_EQ(mouse.wheelMode(), 0x06);

    const std::uint8_t rate = indexOf(mouse, 0x8060);
    EXPECT_EQ(only(mouse.handleOutputReport(request(rate, 0))), longReply(rate, 0x01, {0x8B}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(rate, 2, {3}, true))), longReply(0xFF, rate, {0x21, 0x02}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(rate, 2, {8}, true))), longReply(rate, 0x21, {8}));
    EXPECT_EQ(mouse.reportIntervalMilliseconds(), 8);

    const std::uint8_t profiles = indexOf(mouse, 0x8100);
    EXPECT_EQ(only(mouse.handleOutputReport(request(profiles, 1, {3}, true))), longReply(0xFF, profiles, {0x11, 0x02}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(profiles, 1, {2}, true))), longReply(profiles, 0x11, {}));
    EXPECT_EQ(mouse.onboardMode(), 2);
    const Bytes memory = only(mouse.handleOutputReport(request(profiles, 5, {0x00, 0x02, 0x00, 0x10}, true)));
    EXPECT_EQ(memory[4], mouse.memoryByte(2, 0x10));
    EXPECT_EQ(memory[19], mouse.memoryByte(2, 0x1F));
    EXPECT_EQ(only(mouse.handleOutputReport(request(profiles, 5, {0x00, 0x02, 0x00, 0xF8}, true))),
              longReply(0xFF, profiles, {0x51, 0x03}));

    mouse.setName("G502 X PLUS LIGHTSPEED"); // 22 characters: two chunks
    const std::uint8_t name = indexOf(mouse, 0x0005);
    EXPECT_EQ(only(mouse.handleOutputReport(request(name, 0))), longReply(name, 0x01, {22}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(name, 1, {16}, true))), longReply(name, 0x11, {'T', 'S', 'P', 'E', 'E', 'D'}));
}

TEST(SimulatedMouseTests, FaultsApplyToMatchingRequestsAndAreUsedUp) {
    auto owner = SimulatedMouse::make();
    SimulatedMouse& mouse = *owner;
    const std::uint8_t dpi = indexOf(mouse, 0x2201);
    const SimulatedMouse::RequestMatch getDPI{.featureID = 0x2201, .function = 2};
    mouse.failNext(getDPI, 0x08, 2);
    mouse.dropNext({.featureID = 0x0000, .function = std::nullopt});
    mouse.replyNextWith({.featureID = 0x0000, .function = 1}, {4, 2});
    mouse.duplicateNext({.featureID = 0x2121, .function = std::nullopt});
    mouse.failNextWithHIDPP10({.featureID = 0x8060, .function = std::nullopt}, 0x09);
    mouse.unplugOnNext({.featureID = 0x8100, .function = 2});

    // A ping is not a getSensorDpi: the root drop applies to it first.
    EXPECT_TRUE(mouse.handleOutputReport(request(0, 1, {0, 0, 0x5A})).reports.empty());
    EXPECT_EQ(only(mouse.handleOutputReport(request(0, 1, {0, 0, 0x5A}))), (Bytes{0x11, 0xFF, 0x00, 0x11, 4, 2}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(0, 1, {0, 0, 0x5A}))), longReply(0, 0x11, {4, 2, 0x5A}));

    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(only(mouse.handleOutputReport(request(dpi, 2, {0}))), longReply(0xFF, dpi, {0x21, 0x08}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(dpi, 2, {0}))), longReply(dpi, 0x21, {0, 0x06, 0x40, 0x06, 0x40}));

    const std::uint8_t wheel = indexOf(mouse, 0x2121);
    EXPECT_EQ(mouse.handleOutputReport(request(wheel, 1)).reports, (std::vector<Bytes>(2, longReply(wheel, 0x11, {0}))));
    const std::uint8_t rate = indexOf(mouse, 0x8060);
    EXPECT_EQ(only(mouse.handleOutputReport(request(rate, 1))), (Bytes{0x10, 0xFF, 0x8F, rate, 0x11, 0x09, 0x00}));

    const auto unplugged = mouse.handleOutputReport(request(indexOf(mouse, 0x8100), 2));
    EXPECT_TRUE(unplugged.unplug);
    EXPECT_TRUE(unplugged.reports.empty());

    mouse.setSilent(true);
    EXPECT_TRUE(mouse.handleOutputReport(request(0, 1, {0, 0, 0x5A})).reports.empty());
    mouse.clearFaults();
    EXPECT_EQ(mouse.handleOutputReport(request(0, 1, {0, 0, 0x5A})).reports.size(), 1u);
    EXPECT_EQ(mouse.requestCount(0x0000, 1), 5u);
    EXPECT_EQ(mouse.requestCount(0x2201), 3u);
}

TEST(SimulatedMouseTests, NotificationsCarrySoftwareIdentifierZero) {
    auto owner = SimulatedMouse::make();
    SimulatedMouse& mouse = *owner;
    const std::uint8_t wheel = indexOf(mouse, 0x2121);
    EXPECT_EQ(mouse.ratchetSwitchNotification(0), longReply(wheel, 0x10, {0}));
    EXPECT_EQ(mouse.ratchetState(), 0);
}

TEST(SimulatedMouseTests, AFullTableOf256FeaturesIsDescribed) {
    auto owner = SimulatedMouse::make();
    SimulatedMouse& mouse = *owner;
    std::vector<SimulatedMouse::FeatureEntry> table = SimulatedMouse::defaultFeatureTable();
    while (table.size() < 256) table.push_back({static_cast<std::uint16_t>(0x4000 + table.size()), 0, 0});
    mouse.setFeatureTable(table);
    const std::uint8_t fs = indexOf(mouse, 0x0001);
    EXPECT_EQ(only(mouse.handleOutputReport(request(fs, 0))), longReply(fs, 0x01, {255}));
    EXPECT_EQ(only(mouse.handleOutputReport(request(fs, 1, {255}))), longReply(fs, 0x11, {0x40, 0xFF, 0, 0}));
}

namespace {

struct OpenedInterface {
    std::shared_ptr<ravolet::platform::HIDDevice> device;
    std::vector<Bytes> received;
};

} // namespace

TEST(SimulatedMouseTests, OnTheBusItHasThreeInterfacesAndAnswersOnTheHIDPPOne) {
    using namespace ravolet::platform;
    auto bus = SimulatedHIDBus::make();
    auto mouse = SimulatedMouse::make();
    mouse->plugIn(bus);
    mouse->plugIn(bus); // already in: nothing more attached
    auto services = bus->matchingServices({.vendorID = 0x046D, .productID = 0xC099});
    ASSERT_TRUE(services.has_value());
    ASSERT_EQ(services->size(), 3u);

    ManualScheduler loop;
    OpenedInterface hidpp;
    for (const auto& service : *services) {
        auto device = bus->createDevice(service);
        if (device->property("PrimaryUsagePage") != HIDPropertyValue(std::int64_t{0xFF00})) continue;
        EXPECT_EQ(device->property("MaxOutputReportSize"), HIDPropertyValue(std::int64_t{20}));
        hidpp.device = device;
    }
    ASSERT_TRUE(hidpp.device);
    ASSERT_EQ(hidpp.device->open(), kIOReturnSuccess);
    hidpp.device->scheduleWithRunLoop(std::shared_ptr<Scheduler>(&loop, [](Scheduler*) {}));
    hidpp.device->registerInputReportCallback(64, [&](IOReturn, HIDReportType, std::uint32_t, std::span<const std::uint8_t> r) {
        hidpp.received.emplace_back(r.begin(), r.end());
    });

    const Bytes ping = request(0, 1, {0, 0, 0x5A});
    ASSERT_EQ(hidpp.device->setReport(HIDReportType::output, ping[0], ping), kIOReturnSuccess);
    mouse->sendRatchetSwitch(0);
    loop.runUntilIdle();
    ASSERT_EQ(hidpp.received.size(), 2u);
    EXPECT_EQ(hidpp.received[0], longReply(0, 0x11, {4, 2, 0x5A}));
    EXPECT_EQ(hidpp.received[1], longReply(mouse->featureIndex(0x2121).value(), 0x10, {0}));

    // A truncated reply reaches the host as it was sent.
    mouse->replyNextWith({.featureID = 0x0000, .function = 1}, {4});
    hidpp.device->setReport(HIDReportType::output, ping[0], ping);
    loop.runUntilIdle();
    EXPECT_EQ(hidpp.received.back(), (Bytes{0x11, 0xFF, 0x00, 0x11, 4}));

    // Opening can be refused, now and after the next plug-in.
    mouse->refuseOpen(kIOReturnExclusiveAccess);
    EXPECT_EQ(bus->createDevice(mouse->hidppInterface())->open(), kIOReturnExclusiveAccess);

    // Pulled out in the middle of a request: no answer, and the interfaces are gone.
    mouse->unplugOnNext({.featureID = 0x2201, .function = 2});
    const Bytes readDPI = request(mouse->featureIndex(0x2201).value(), 2, {0});
    hidpp.device->setReport(HIDReportType::output, readDPI[0], readDPI);
    loop.runUntilIdle();
    EXPECT_EQ(hidpp.received.size(), 3u);
    EXPECT_FALSE(mouse->isPluggedIn());
    EXPECT_TRUE(bus->matchingServices({.vendorID = 0x046D, .productID = 0xC099})->empty());

    mouse->plugIn(bus);
    ASSERT_TRUE(mouse->hidppInterface());
    EXPECT_EQ(bus->createDevice(mouse->hidppInterface())->open(), kIOReturnExclusiveAccess);
    mouse->allowOpen();
    EXPECT_EQ(bus->createDevice(mouse->hidppInterface())->open(), kIOReturnSuccess);
    hidpp.device->unscheduleFromRunLoop();
}

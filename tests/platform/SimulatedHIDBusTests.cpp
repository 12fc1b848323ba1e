#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"

using namespace ravolet::platform;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

HIDProperties mouseInterface(std::int64_t page, std::int64_t product = 0xC099) {
    SimulatedHIDInterface i;
    i.vendorID = 0x046D;
    i.productID = product;
    i.usagePairs = {{page, 1}};
    i.maxInputReportSize = 20;
    i.maxOutputReportSize = 20;
    return i.properties();
}

struct Received {
    std::vector<Bytes> reports;
    HIDInputReportCallback callback() {
        return [this](IOReturn, HIDReportType, std::uint32_t reportID, std::span<const std::uint8_t> report) {
            EXPECT_EQ(reportID, report.empty() ? 0u : report[0]);
            reports.emplace_back(report.begin(), report.end());
        };
    }
};

} // namespace

TEST(SimulatedHIDBus, RepliesArriveOnTheScheduledLoopAtTheirTime) {
    auto bus = SimulatedHIDBus::make();
    auto sim = bus->attachOne(mouseInterface(0xFF00));
    sim->setResponder([](std::span<const std::uint8_t> out) {
        return std::vector<SimulatedHIDReply>{{Bytes{0x11, 0x01}, 0ms}, {Bytes(out.begin(), out.end()), 5ms}};
    });
    auto loop = std::make_shared<ManualScheduler>();
    auto device = bus->createDevice(bus->matchingServices({0x046D, 0xC099})->front());
    ASSERT_TRUE(device);
    Received got;
    ASSERT_EQ(device->open(), kIOReturnSuccess);
    device->scheduleWithRunLoop(loop);
    device->registerInputReportCallback(3, got.callback());

    const Bytes request{0x10, 0xFF, 0x00, 0x11, 0, 0, 0};
    EXPECT_EQ(device->setReport(HIDReportType::output, 0x10, request), kIOReturnSuccess);
    EXPECT_EQ(sim->outputReports(), std::vector<Bytes>{request});
    EXPECT_TRUE(got.reports.empty());  // nothing arrives outside the run loop
    loop->runUntilIdle();
    ASSERT_EQ(got.reports.size(), 1u);
    loop->advance(5ms);
    ASSERT_EQ(got.reports.size(), 2u);
    EXPECT_EQ(got.reports[1], (Bytes{0x10, 0xFF, 0x00}));  // cut to the registered length

    sim->inject(Bytes{}, 1ms);
    loop->advance(1ms);
    EXPECT_EQ(got.reports.size(), 3u);
    EXPECT_TRUE(got.reports[2].empty());
}

TEST(SimulatedHIDBus, NothingReachesAClosedUnscheduledOrDetachedDevice) {
    auto bus = SimulatedHIDBus::make();
    auto sim = bus->attachOne(mouseInterface(0xFF00));
    auto loop = std::make_shared<ManualScheduler>();
    auto device = bus->createDevice(sim);
    Received got;
    device->registerInputReportCallback(64, got.callback());
    device->scheduleWithRunLoop(loop);
    sim->inject(Bytes{0x11});  // not open
    loop->runUntilIdle();
    EXPECT_TRUE(got.reports.empty());

    ASSERT_EQ(device->open(), kIOReturnSuccess);
    sim->inject(Bytes{0x11}, 2ms);
    EXPECT_EQ(device->close(), kIOReturnSuccess);
    EXPECT_EQ(device->open(), kIOReturnSuccess);  // reopened before the report is due: still dropped
    loop->advance(2ms);
    EXPECT_TRUE(got.reports.empty());

    sim->inject(Bytes{0x11}, 1ms);
    device->unscheduleFromRunLoop();
    loop->advance(1ms);
    EXPECT_TRUE(got.reports.empty());

    device->scheduleWithRunLoop(loop);
    EXPECT_EQ(sim->scheduleCount(), 2);
    sim->inject(Bytes{0x11, 0x22}, 1ms);
    bus->detach({sim});
    loop->advance(1ms);
    EXPECT_TRUE(got.reports.empty());
    EXPECT_EQ(device->setReport(HIDReportType::output, 0x11, Bytes{0x11}), kIOReturnNoDevice);
    EXPECT_EQ(device->open(), kIOReturnNoDevice);
}

TEST(SimulatedHIDBus, ScriptedOpenAndWriteResultsAndAccess) {
    auto bus = SimulatedHIDBus::make();
    auto sim = bus->attachOne(mouseInterface(0xFF00));
    auto device = bus->createDevice(sim);
    EXPECT_EQ(device->setReport(HIDReportType::output, 0x10, Bytes{0x10}), kIOReturnNotOpen);
    sim->setOpenResult(kIOReturnExclusiveAccess);
    EXPECT_EQ(device->open(), kIOReturnExclusiveAccess);
    sim->setOpenResult(kIOReturnSuccess);
    EXPECT_EQ(bus->checkListenAccess(), HIDAccess::unknown);
    bus->setListenAccess(HIDAccess::denied);
    EXPECT_EQ(bus->checkListenAccess(), HIDAccess::denied);
    EXPECT_EQ(device->open(), kIOReturnNotPermitted);
    bus->setListenAccess(HIDAccess::granted);
    EXPECT_EQ(device->open(), kIOReturnSuccess);
    EXPECT_EQ(sim->openHandleCount(), 1);
    sim->setWriteResult(kIOReturnError);
    EXPECT_EQ(device->setReport(HIDReportType::output, 0x10, Bytes{0x10}), kIOReturnError);
    EXPECT_TRUE(sim->outputReports().empty());

    bus->setMatchingResult(kIOReturnNoMemory);
    EXPECT_EQ(bus->matchingServices({0x046D, 0xC099}).error(), kIOReturnNoMemory);
    bus->setNotificationPortsAvailable(false);
    EXPECT_EQ(bus->createNotificationPort(), nullptr);
}

TEST(SimulatedHIDBus, PropertiesAndMatching) {
    auto bus = SimulatedHIDBus::make();
    auto batch = bus->attach({mouseInterface(0x0001), mouseInterface(0xFF00), mouseInterface(0xFF00, 0xC08B)});
    auto found = bus->matchingServices({0x046D, 0xC099});
    ASSERT_TRUE(found);
    ASSERT_EQ(found->size(), 2u);
    EXPECT_EQ((*found)[0]->registryEntryID(), batch[0]->registryID());
    EXPECT_EQ((*found)[1]->registryEntryID(), batch[1]->registryID());
    EXPECT_NE(batch[0]->registryID(), batch[1]->registryID());
    auto device = bus->createDevice((*found)[1]);
    EXPECT_EQ(device->service()->registryEntryID(), batch[1]->registryID());
    EXPECT_EQ(std::get<std::int64_t>(*device->property(hidkey::productID)), 0xC099);
    const auto pairs = std::get<std::vector<HIDDictionary>>(*device->property(hidkey::deviceUsagePairs));
    EXPECT_EQ(std::get<std::int64_t>(pairs.at(0).at("DeviceUsagePage")), 0xFF00);
    EXPECT_FALSE(device->property("Nothing").has_value());
}

TEST(SimulatedHIDBus, NotificationsComeInBatchesOnThePortsLoop) {
    auto bus = SimulatedHIDBus::make();
    auto present = bus->attachOne(mouseInterface(0xFF00));
    auto loop = std::make_shared<ManualScheduler>();
    auto port = bus->createNotificationPort();
    ASSERT_TRUE(port);

    std::vector<std::vector<std::uint64_t>> matched, terminated;
    auto drain = [](std::vector<std::vector<std::uint64_t>>& into) {
        return [&into](HIDServiceIterator& it) {
            into.emplace_back();
            while (auto s = it.next()) into.back().push_back(*s->registryEntryID());
        };
    };
    auto matchedIt = port->addMatchingNotification(HIDNotificationType::matched, {0x046D, 0xC099}, drain(matched));
    auto terminatedIt = port->addMatchingNotification(HIDNotificationType::terminated, {0x046D, 0xC099}, drain(terminated));
    EXPECT_EQ(matchedIt->next()->registryEntryID(), present->registryID());
    EXPECT_EQ(matchedIt->next(), nullptr);
    EXPECT_EQ(terminatedIt->next(), nullptr);
    EXPECT_EQ(bus->activeNotificationCount(), 2);

    auto batch = bus->attach({mouseInterface(0x0001), mouseInterface(0xFF00), mouseInterface(0xFF00, 0x1234)});
    loop->runUntilIdle();
    EXPECT_TRUE(matched.empty());  // the port is on no run loop yet
    port->scheduleOn(loop);
    loop->runUntilIdle();
    ASSERT_EQ(matched.size(), 1u);
    EXPECT_EQ(matched[0], (std::vector<std::uint64_t>{batch[0]->registryID(), batch[1]->registryID()}));

    bus->detach({batch[2]});  // matches nothing watched
    bus->detach({batch[0], present});
    loop->runUntilIdle();
    ASSERT_EQ(terminated.size(), 1u);
    EXPECT_EQ(terminated[0], (std::vector<std::uint64_t>{batch[0]->registryID(), present->registryID()}));

    matchedIt.reset();
    EXPECT_EQ(bus->activeNotificationCount(), 1);
    bus->attachOne(mouseInterface(0xFF00));
    port.reset();  // ends the remaining notification's deliveries
    bus->detach({batch[1]});
    loop->runUntilIdle();
    EXPECT_EQ(matched.size(), 1u);
    EXPECT_EQ(terminated.size(), 1u);
}

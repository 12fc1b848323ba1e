#include <gtest/gtest.h>

#include "HIDPPLinkTestSupport.hpp"
#include "HIDPlusPlus/HIDPPEnumerator.hpp"
#include "HIDPlusPlus/HIDPPHotplugMonitor.hpp"
#include "Platform/Linux/HID/LinuxHIDSystem.hpp"
#include "../platform/FakeHidrawTree.hpp"

using namespace ravolet;
using namespace ravolet::testing;
namespace pf = ravolet::platform;

TEST(HIDPPEnumerator, ChoosesTheVendorCollectionThatTakesLongReports) {
    SimulatedHIDPP sim;
    const auto g502X = HIDPPDeviceMatch::g502X;
    auto batch = sim.bus->attach({mouseInterface(false), mouseInterface(true, 19), mouseInterface(true, 20, 0xC08B),
                                  mouseInterface(true, 20), mouseInterface(true, 64)});
    EXPECT_EQ(HIDPPEnumerator::devices(g502X, *sim.bus).size(), 4u);
    const auto links = HIDPPEnumerator::links(g502X, sim.environment());
    ASSERT_EQ(links.size(), 4u);
    EXPECT_EQ(links[1]->registryID(), batch[1]->registryID());
    EXPECT_FALSE(links[0]->isOpen());

    const auto link = HIDPPEnumerator::hidppLink(g502X, sim.environment());
    ASSERT_TRUE(link);
    EXPECT_EQ(link->registryID(), batch[3]->registryID());
    EXPECT_FALSE(link->isOpen());
    EXPECT_EQ(batch[3]->openHandleCount(), 0);
}

// On Linux the mouse's two hidraw nodes are two services with its vendor and
// product; their report descriptors alone make the choice.
TEST(HIDPPEnumerator, ChoosesTheG502XsHIDPPNodeOnLinux) {
    pf::testing::FakeHidrawTree tree;
    tree.plugG502X("1-2", 1, 3);
    pf::LinuxHIDSystem::Options options;
    options.registry.roots = tree.roots();
    SimulatedHIDPP sim;
    HIDPPEnvironment environment = sim.environment();
    environment.hid = pf::LinuxHIDSystem::make(options);

    const auto links = HIDPPEnumerator::links(HIDPPDeviceMatch::g502X, environment);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_FALSE(links[0]->identity().carriesHIDPP());
    const auto link = HIDPPEnumerator::hidppLink(HIDPPDeviceMatch::g502X, environment);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->registryID(), links[1]->registryID());
    EXPECT_EQ(link->identity().description(),
              "046D:C099 Logitech G502 X usage=01:06 maxIn=20 maxOut=20 pairs=[01:06,0C:01,01:80,FF00:01,FF00:02]");
    EXPECT_EQ(link->identity().manufacturer, "Logitech");
    EXPECT_EQ(link->identity().serialNumber, "1A2B3C4D");
}

TEST(HIDPPEnumerator, NothingWhenNoDeviceMatchesOrTheLookupFails) {
    SimulatedHIDPP sim;
    sim.bus->attach({mouseInterface(false), mouseInterface(true, 19)});
    EXPECT_EQ(HIDPPEnumerator::hidppLink(HIDPPDeviceMatch::g502X, sim.environment()), nullptr);
    const HIDPPDeviceMatch other{0x046D, 0xC077};
    EXPECT_TRUE(HIDPPEnumerator::devices(other, *sim.bus).empty());
    EXPECT_TRUE(HIDPPEnumerator::links(other, sim.environment()).empty());
    EXPECT_EQ(HIDPPEnumerator::hidppLink(other, sim.environment()), nullptr);

    sim.bus->attachOne(mouseInterface(true));
    sim.bus->setMatchingResult(pf::kIOReturnNoResources);
    EXPECT_TRUE(HIDPPEnumerator::devices(HIDPPDeviceMatch::g502X, *sim.bus).empty());
    EXPECT_EQ(HIDPPEnumerator::hidppLink(HIDPPDeviceMatch::g502X, sim.environment()), nullptr);
}

namespace {

struct Watch {
    int matched = 0;
    std::vector<std::uint64_t> terminated;
    std::shared_ptr<HIDPPHotplugMonitor> monitor(const SimulatedHIDPP& sim) {
        return HIDPPHotplugMonitor::make(
            HIDPPDeviceMatch::g502X, [this] { ++matched; }, [this](std::uint64_t id) { terminated.push_back(id); }, sim.environment());
    }
};

} // namespace

TEST(HIDPPHotplugMonitor, AMousePresentAtStartIsOneArrival) {
    SimulatedHIDPP sim;
    sim.bus->attach({mouseInterface(false), mouseInterface(true), mouseInterface(true, 19)});
    Watch watch;
    auto monitor = watch.monitor(sim);
    monitor->start();
    EXPECT_EQ(watch.matched, 1);
    monitor->start();
    sim.loop->runUntilIdle();
    EXPECT_EQ(watch.matched, 1);
    EXPECT_EQ(sim.bus->activeNotificationCount(), 2);  // registered once
    EXPECT_TRUE(watch.terminated.empty());
}

TEST(HIDPPHotplugMonitor, ArrivalsComeOncePerBatchAndRemovalsOncePerService) {
    SimulatedHIDPP sim;
    Watch watch;
    auto monitor = watch.monitor(sim);
    monitor->stop();  // never started: nothing happens
    monitor->start();
    EXPECT_EQ(watch.matched, 0);

    auto mouse = sim.bus->attach({mouseInterface(false), mouseInterface(true), mouseInterface(true, 19)});
    auto stranger = sim.bus->attachOne(mouseInterface(true, 20, 0xC08B));
    sim.loop->runUntilIdle();
    EXPECT_EQ(watch.matched, 1);

    sim.bus->detach({stranger});
    sim.bus->detach(mouse);
    sim.loop->runUntilIdle();
    EXPECT_EQ(watch.terminated, (std::vector<std::uint64_t>{mouse[0]->registryID(), mouse[1]->registryID(), mouse[2]->registryID()}));

    sim.bus->attachOne(mouseInterface(true));
    sim.loop->runUntilIdle();
    sim.bus->attachOne(mouseInterface(false));
    sim.loop->runUntilIdle();
    EXPECT_EQ(watch.matched, 3);
    // Batches that arrive before the loop gets to them are drained in one go.
    sim.bus->attachOne(mouseInterface(true));
    sim.bus->attachOne(mouseInterface(true));
    sim.loop->runUntilIdle();
    EXPECT_EQ(watch.matched, 4);

    monitor->stop();
    monitor->stop();
    EXPECT_EQ(sim.bus->activeNotificationCount(), 0);
    sim.bus->attachOne(mouseInterface(true));
    sim.loop->runUntilIdle();
    EXPECT_EQ(watch.matched, 4);
}

TEST(HIDPPHotplugMonitor, NoPortMeansStoppedUntilStartedAgain) {
    SimulatedHIDPP sim;
    sim.bus->attachOne(mouseInterface(true));
    sim.bus->setNotificationPortsAvailable(false);
    Watch watch;
    auto monitor = watch.monitor(sim);
    monitor->start();
    EXPECT_FALSE(monitor->isStarted());
    EXPECT_EQ(watch.matched, 0);
    sim.bus->setNotificationPortsAvailable(true);
    monitor->start();
    EXPECT_TRUE(monitor->isStarted());
    EXPECT_EQ(watch.matched, 1);

    // A destroyed monitor hears nothing more, even of notifications already queued.
    sim.bus->attachOne(mouseInterface(true));
    monitor.reset();
    sim.loop->runUntilIdle();
    EXPECT_EQ(watch.matched, 1);
    EXPECT_EQ(sim.bus->activeNotificationCount(), 0);
}

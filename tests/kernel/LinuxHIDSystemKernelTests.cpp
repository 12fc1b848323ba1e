// The HID++ client on the Linux HID system, against the real kernel's hidraw
// nodes of the fake G502 X: what the program does with a real mouse.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeMouse/FakeG502X.hpp"
#include "FakeMouse/FakeOrdinaryMouse.hpp"
#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "KernelTestVM.hpp"
#include "Platform/Linux/HID/HidrawDevice.hpp"
#include "Platform/Linux/HID/LinuxHIDSystem.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Platform/SerialQueue.hpp"
#include "RavoletApp/Model/DeviceMonitor.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;
namespace pf = platform;

constexpr auto patience = 5000ms; // what the VM may take, never what it should

::testing::AssertionResult ok(const std::expected<void, std::string>& result) {
    if (result) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.error();
}

// The outcome of one asynchronous device call, waited for.
template <class T>
HIDPPResult<T> await(std::function<void(HIDPPCompletion<T>)> call, std::chrono::milliseconds limit = patience) {
    auto promise = std::make_shared<std::promise<HIDPPResult<T>>>();
    auto future = promise->get_future();
    call([promise](HIDPPResult<T> result) { promise->set_value(std::move(result)); });
    if (future.wait_for(limit) != std::future_status::ready) return std::unexpected(HIDPPError::timeout("the test's wait"));
    return future.get();
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = patience) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(2ms)) {
        if (std::chrono::steady_clock::now() > end) return false;
    }
    return true;
}

// The G502 X's HID++ device on the Linux HID system, on the process's HID
// I/O thread, with every node the system opens written down.
class LinuxHIDPPTest : public ::testing::Test {
protected:
    void SetUp() override {
        pf::LinuxHIDSystem::Options options;
        options.accessMatching = {HIDPPDeviceMatch::g502X.vendorID, HIDPPDeviceMatch::g502X.productID};
        options.registry.openNode = [this](const std::string& path, int flags) {
            {
                std::lock_guard lock(mutex);
                opened.push_back(path);
            }
            const int fd = ::open(path.c_str(), flags);
            return fd >= 0 ? fd : -errno;
        };
        system = pf::LinuxHIDSystem::make(std::move(options));
        const HIDPPEnvironment environment{
            system, HIDPPRunLoop::shared().runLoop(),
            [] { return std::make_shared<pf::SerialQueue>("ai.ravolet.hidpp.send", pf::QueuePriority::userInitiated); }};
        device = HIDPPDevice::create(HIDPPDeviceMatch::g502X, environment,
                                     std::make_shared<pf::SerialQueue>("ai.ravolet.hidpp.device", pf::QueuePriority::userInitiated));
        ASSERT_TRUE(ok(mouse.plugIn()));
    }
    void TearDown() override {
        std::promise<void> done;
        device->disconnect(nullptr, [&] { done.set_value(); });
        done.get_future().wait();
    }

    std::vector<std::string> openedNodes() {
        std::lock_guard lock(mutex);
        return opened;
    }
    std::string hidrawNode(const FakeUSBMouse& of, int interface) const { return of.kernelDevice(interface).value().hidraw.value(); }

    FakeG502X mouse;
    std::mutex mutex;
    std::vector<std::string> opened;
    std::shared_ptr<pf::LinuxHIDSystem> system;
    std::shared_ptr<HIDPPDevice> device;
};

TEST_F(LinuxHIDPPTest, ConnectsThroughTheHidrawNodeAndReadsAndWritesTheMouse) {
    ASSERT_TRUE(await<void>([&](auto done) { device->connect(nullptr, std::move(done)); }));
    const auto identity = device->identity();
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->product, "Logitech G502 X");
    EXPECT_EQ(identity->serialNumber, "1A2B3C4D");
    EXPECT_TRUE(identity->carriesHIDPP());
    EXPECT_EQ(openedNodes(), std::vector<std::string>{hidrawNode(mouse, FakeG502X::hidppInterface)});

    EXPECT_EQ(await<std::string>([&](auto done) { device->deviceName(nullptr, std::move(done)); }), mouse.model()->name());
    EXPECT_EQ(device->features().size(), mouse.model()->featureTable().size());
    const auto dpi = await<HIDPPDPIState>([&](auto done) { device->dpi(0, nullptr, std::move(done)); });
    ASSERT_TRUE(dpi) << dpi.error();
    EXPECT_EQ(dpi->current, mouse.model()->currentDPI());
    const auto rate = await<HIDPPReportRateInfo>([&](auto done) { device->reportRate(nullptr, std::move(done)); });
    ASSERT_TRUE(rate) << rate.error();
    EXPECT_EQ(rate->current.milliseconds, mouse.model()->reportIntervalMilliseconds());
    const auto wheel = await<HIDPPWheelMode>([&](auto done) { device->wheelMode(nullptr, std::move(done)); });
    ASSERT_TRUE(wheel) << wheel.error();
    EXPECT_EQ(wheel->rawValue(), mouse.model()->wheelMode());

    const auto set = await<std::int64_t>([&](auto done) { device->setDPI(1600, 0, nullptr, std::move(done)); });
    ASSERT_TRUE(set) << set.error();
    EXPECT_EQ(*set, 1600);
    EXPECT_EQ(mouse.model()->currentDPI(), 1600);
}

TEST_F(LinuxHIDPPTest, AnUnplugFailsTheRequestAtOnceAndARePlugGetsTheSettingsBack) {
    const auto ui = std::make_shared<pf::SerialQueue>("monitor", pf::QueuePriority::userInitiated);
    const auto monitor = DeviceMonitor::create(device, true, ui, std::make_shared<pf::SystemClock>());
    ui->post([&] {
        monitor->setDesiredHighResolutionWheel(true);
        monitor->start();
    });
    ASSERT_TRUE(eventually([&] { return (mouse.model()->wheelMode() & 0x02) != 0; })) << "the desired wheel never came";
    ASSERT_TRUE(eventually([&] { return device->isConnected(); }));

    // The answer would take far longer than the cable: the unplug ends it.
    device->setDefaultTimeout(30);
    mouse.model()->unplugOnNext({.featureID = pf::SimulatedMouse::adjustableDPIFeature, .function = std::nullopt});
    const auto failed = await<HIDPPDPIState>([&](auto done) { device->dpi(0, nullptr, std::move(done)); }, 1000ms);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind(), HIDPPError::Kind::deviceRemoved) << failed.error();
    EXPECT_TRUE(eventually([&] { return !device->isConnected(); }));

    // Changed behind our back while unplugged; put back once it is in again.
    mouse.model()->setWheelMode(0x00);
    ASSERT_TRUE(ok(mouse.plugIn()));
    EXPECT_TRUE(eventually([&] { return device->isConnected(); })) << "no reconnection";
    EXPECT_TRUE(eventually([&] { return (mouse.model()->wheelMode() & 0x02) != 0; })) << "the desired wheel was not put back";
    std::promise<void> stopped;
    ui->post([&] {
        monitor->stop();
        stopped.set_value();
    });
    stopped.get_future().wait();
}

// A mouse that is plugged in but answers HID++ only after a while: the
// monitor says the connection is being tried again, and the mouse gets its
// settings once it answers, with no re-plug.
TEST_F(LinuxHIDPPTest, AMouseThatAnswersOnlyAfterAWhileIsTriedAgainUntilItDoes) {
    device->setDefaultTimeout(0.2);
    mouse.model()->setSilent(true);
    const auto ui = std::make_shared<pf::SerialQueue>("monitor", pf::QueuePriority::userInitiated);
    const auto monitor = DeviceMonitor::create(device, true, ui, std::make_shared<pf::SystemClock>());
    const auto snapshot = [&] {
        DeviceMonitor::Snapshot now;
        ui->sync([&] { now = monitor->snapshot().value(); });
        return now;
    };
    ui->post([&] {
        monitor->setDesiredHighResolutionWheel(true);
        monitor->start();
    });
    EXPECT_TRUE(eventually([&] { return snapshot().isRetrying; })) << "the page would not say it is trying again";
    mouse.model()->setSilent(false);
    EXPECT_TRUE(eventually([&] { return (mouse.model()->wheelMode() & 0x02) != 0; })) << "never read after it answered";
    EXPECT_TRUE(eventually([&] { return snapshot().connection.isConnected() && !snapshot().isRetrying; }));
    ui->sync([&] { monitor->stop(); });
}

TEST_F(LinuxHIDPPTest, AnotherVendorsMouseAndTheG502XsPointerAreNeverOpened) {
    FakeOrdinaryMouse other;
    ASSERT_TRUE(ok(other.plugIn()));
    const std::string otherNode = hidrawNode(other, 0);
    // The kernel numbers hidraw nodes again at a re-plug, in either order, so
    // each opening is checked against the nodes of its own plug-in.
    const auto openedOnlyTheHIDPPNodeFrom = [&](std::size_t first) {
        const std::vector<std::string> nodes = openedNodes();
        ASSERT_GT(nodes.size(), first);
        for (std::size_t i = first; i < nodes.size(); ++i) {
            EXPECT_NE(nodes[i], otherNode);
            EXPECT_NE(nodes[i], hidrawNode(mouse, FakeG502X::pointerInterface));
        }
        EXPECT_EQ(nodes.back(), hidrawNode(mouse, FakeG502X::hidppInterface));
    };
    ASSERT_TRUE(await<void>([&](auto done) { device->connect(nullptr, std::move(done)); }));
    openedOnlyTheHIDPPNodeFrom(0);
    const std::size_t beforeUnplug = openedNodes().size();
    mouse.unplug();
    ASSERT_TRUE(eventually([&] { return !device->isConnected(); }));
    ASSERT_TRUE(ok(mouse.plugIn()));
    ASSERT_TRUE(eventually([&] { return device->isConnected(); }));

    EXPECT_EQ(system->matchingServices({FakeOrdinaryMouse::vendorID, FakeOrdinaryMouse::productID})->size(), 1u);
    openedOnlyTheHIDPPNodeFrom(beforeUnplug);
}

// 0 for granted, 1 denied, 2 unknown, plus 10 when opening the HID++ node is
// refused as not permitted.
int checkAccess() {
    pf::LinuxHIDSystem::Options options;
    options.accessMatching = {FakeG502X::vendorID, FakeG502X::productID};
    const auto system = pf::LinuxHIDSystem::make(std::move(options));
    const pf::HIDAccess access = system->checkListenAccess();
    int code = access == pf::HIDAccess::granted ? 0 : access == pf::HIDAccess::denied ? 1 : 2;
    const auto services = system->matchingServices({FakeG502X::vendorID, FakeG502X::productID});
    if (services && services->size() == 2) {
        if (system->createDevice(services->at(1))->open() == pf::kIOReturnNotPermitted) code += 10;
    }
    return code;
}

TEST(LinuxHIDAccess, ANodeNobodyMayOpenIsDenied) {
    FakeG502X mouse;
    ASSERT_TRUE(ok(mouse.plugIn()));
    std::vector<std::string> nodes;
    for (int interface : {0, 1}) nodes.push_back(mouse.kernelDevice(interface).value().hidraw.value());
    for (const std::string& node : nodes) ASSERT_EQ(::chmod(node.c_str(), 0600), 0);
    EXPECT_EQ(asNobody(checkAccess), 11);
    for (const std::string& node : nodes) ASSERT_EQ(::chmod(node.c_str(), 0666), 0);
    EXPECT_EQ(asNobody(checkAccess), 0);
    mouse.unplug();
    EXPECT_EQ(asNobody(checkAccess), 2);
}

// With a udev daemon the kernel's "add" reaches us before udev has let the
// user in: the kernel makes a hidraw node root's alone (0600), and udev
// changes that a moment later (here the test does, 150 ms after the nodes
// appeared). The user's program, opening every interface of the mouse as it
// is matched, waits for that; where nothing ever lets it in, the open is
// refused once the node has had its time.
TEST(LinuxHIDAccess, AnOpenRightAfterAPlugInWaitsForUdevToLetTheUserIn) {
    for (const bool udevLetsIn : {true, false}) {
        SCOPED_TRACE(udevLetsIn ? "udev lets the user in" : "nothing lets the user in");
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        FakeG502X mouse;
        std::thread plug([&] {
            char byte = 0;
            // The child listens before the mouse comes.
            if (::read(ready[0], &byte, 1) != 1 || !mouse.plugIn()) return;
            std::this_thread::sleep_for(150ms);
            if (!udevLetsIn) return;
            for (int interface : {0, 1}) {
                if (const auto device = mouse.kernelDevice(interface); device && device->hidraw) {
                    ::chmod(device->hidraw->c_str(), 0666);
                }
            }
        });
        // 0 when both interfaces opened, 1 when both were refused as not
        // permitted, 2 for anything else, 3 when they were not both matched.
        const int outcome = asNobody([&] {
            ::close(ready[0]);
            pf::LinuxHIDSystem::Options options;
            options.accessMatching = {FakeG502X::vendorID, FakeG502X::productID};
            const auto system = pf::LinuxHIDSystem::make(std::move(options));
            const auto port = system->createNotificationPort();
            const auto queue = std::make_shared<pf::SerialQueue>("matched", pf::QueuePriority::userInitiated);
            std::mutex mutex;
            std::vector<pf::IOReturn> opens;
            const auto matched = port->addMatchingNotification(
                pf::HIDNotificationType::matched, {FakeG502X::vendorID, FakeG502X::productID}, [&](pf::HIDServiceIterator& services) {
                    while (const auto service = services.next()) {
                        const pf::IOReturn result = system->createDevice(service)->open();
                        std::lock_guard lock(mutex);
                        opens.push_back(result);
                    }
                });
            port->scheduleOn(queue);
            if (::write(ready[1], "!", 1) != 1) return 2;
            const bool both = eventually([&] {
                std::lock_guard lock(mutex);
                return opens.size() >= 2;
            });
            port->unschedule();
            std::lock_guard lock(mutex);
            if (!both) return 3;
            if (std::ranges::all_of(opens, [](pf::IOReturn r) { return r == pf::kIOReturnSuccess; })) return 0;
            if (std::ranges::all_of(opens, [](pf::IOReturn r) { return r == pf::kIOReturnNotPermitted; })) return 1;
            return 2;
        });
        ::close(ready[1]); // a child that never got ready leaves the thread waiting no more
        plug.join();
        ::close(ready[0]);
        EXPECT_EQ(outcome, udevLetsIn ? 0 : 1);
    }
}

} // namespace
} // namespace ravolet::testing

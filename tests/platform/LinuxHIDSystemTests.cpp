#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "FakeHidrawTree.hpp"
#include "Platform/Linux/HID/HIDReportDescriptor.hpp"
#include "Platform/Linux/HID/LinuxHIDSystem.hpp"
#include "Platform/RunLoopThread.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"

namespace ravolet::platform {
namespace {

using namespace std::chrono_literals;
using testing::FakeHidrawTree;
using Bytes = std::vector<std::uint8_t>;

constexpr HIDMatching g502X{0x046D, 0xC099};

TEST(HIDReportDescriptor, ReadsCollectionsAndReportSizes) {
    using Usage = HIDReportDescriptor::Usage;
    struct Case {
        const char* what;
        Bytes bytes;
        HIDReportDescriptor expected;
    };
    const Case cases[] = {
        {"G502 X pointer", testing::g502xPointerDescriptor, {{Usage{0x01, 0x02}}, false, 8, 0, 0}},
        {"G502 X keyboard and HID++",
         testing::g502xHIDPPDescriptor,
         {{Usage{0x01, 0x06}, Usage{0x0C, 0x01}, Usage{0x01, 0x80}, Usage{0xFF00, 0x01}, Usage{0xFF00, 0x02}}, true, 20, 20, 0}},
        {"plain mouse", testing::plainMouseDescriptor, {{Usage{0x01, 0x02}}, false, 4, 0, 0}},
        // A four-byte usage names its own page; push and pop restore the globals.
        {"extended usage, push and pop",
         {0x0B, 0x01, 0x00, 0x00, 0xFF, 0xA1, 0x01, 0x85, 0x05, 0x75, 0x08, 0x95, 0x03, 0xA4, 0x95, 0x40, 0xB4, 0xB1, 0x02, 0xC0},
         {{Usage{0xFF00, 0x01}}, true, 0, 0, 4}},
        // Reserved main items are passed over, and end the local items
        // before them (0x07 names nothing), as in the kernel.
        {"reserved main items",
         {0x06, 0x00, 0xFF, 0x09, 0x07, 0xD1, 0x00, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x11, 0x75, 0x08, 0x95, 0x13, 0xF0,
          0x91, 0x00, 0xC0},
         {{Usage{0xFF00, 0x01}}, true, 0, 20, 0}},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        const auto parsed = HIDReportDescriptor::parse(c.bytes);
        ASSERT_TRUE(parsed) << c.what << ": " << parsed.error();
        EXPECT_EQ(*parsed, c.expected) << c.what;
    }
}

TEST(HIDReportDescriptor, RefusesWhatTheKernelWouldRefuse) {
    const Bytes cases[] = {
        {0x05, 0x01, 0x26, 0xFF},             // an item cut short
        {0xFE, 0x04, 0x00, 0x01},             // a long item cut short
        {0xA1, 0x01},                         // a collection never ended
        {0xC0},                               // ended, never begun
        {0x85, 0x00},                         // report id 0
        {0x76, 0x01, 0x01},                   // a report size beyond 256 bits
        {0x96, 0x01, 0x30},                   // a report count beyond 12288
        {0xB4},                               // a pop without a push
        {0xA4, 0xA4, 0xA4, 0xA4, 0xA4},       // more pushes than the stack holds
    };
    for (const Bytes& bytes : cases) EXPECT_FALSE(HIDReportDescriptor::parse(bytes)) << ::testing::PrintToString(bytes);
    EXPECT_EQ(HIDReportDescriptor::parse(Bytes{0x05, 0x01, 0xC0}).error(),
              "The report descriptor is malformed at byte 2: a collection ends that was never begun.");
}

LinuxHIDSystem::Options optionsFor(const FakeHidrawTree& tree) {
    LinuxHIDSystem::Options options;
    options.registry.roots = tree.roots();
    options.accessMatching = g502X;
    options.uevents = nullptr;
    return options;
}

// The G502 X's services as the system lists them now.
std::vector<std::shared_ptr<HidrawService>> mice(LinuxHIDSystem& system) {
    const auto services = system.matchingServices(g502X);
    std::vector<std::shared_ptr<HidrawService>> found;
    for (const auto& service : *services) found.push_back(std::dynamic_pointer_cast<HidrawService>(service));
    return found;
}

std::int64_t integer(const HIDProperties& properties, std::string_view key) { return std::get<std::int64_t>(properties.find(key)->second); }
std::string text(const HIDProperties& properties, std::string_view key) { return std::get<std::string>(properties.find(key)->second); }

TEST(LinuxHIDSystem, EveryInterfaceOfTheMouseIsAServiceWithTheHostsProperties) {
    FakeHidrawTree tree;
    tree.plug("virtual/misc/uhid/0003:093A:2510.0001", "hidraw0",
              {"0003:0000093A:00002510", "PixArt Mouse", "usb-0000:00:14.0-4/input0", "", testing::plainMouseDescriptor});
    tree.plugG502X("1-2", 2, 1);
    const auto system = LinuxHIDSystem::make(optionsFor(tree));

    const auto services = system->matchingServices(g502X);
    ASSERT_TRUE(services);
    ASSERT_EQ(services->size(), 2u) << "only the G502 X's two interfaces, in node order";
    const auto& pointer = dynamic_cast<HidrawService&>(*services->at(0));
    const auto& hidpp = dynamic_cast<HidrawService&>(*services->at(1));
    EXPECT_EQ(pointer.node().name, "hidraw1");
    EXPECT_EQ(hidpp.node().name, "hidraw2");
    EXPECT_EQ(hidpp.node().devicePath, tree.roots().dev + "/hidraw2");

    const HIDProperties& properties = hidpp.properties();
    EXPECT_EQ(integer(properties, hidkey::vendorID), 0x046D);
    EXPECT_EQ(integer(properties, hidkey::productID), 0xC099);
    EXPECT_EQ(text(properties, hidkey::product), "Logitech G502 X");
    EXPECT_EQ(text(properties, hidkey::manufacturer), "Logitech");
    EXPECT_EQ(text(properties, hidkey::serialNumber), "1A2B3C4D");
    EXPECT_EQ(text(properties, hidkey::transport), "USB");
    EXPECT_EQ(integer(properties, hidkey::primaryUsagePage), 0x01);
    EXPECT_EQ(integer(properties, hidkey::primaryUsage), 0x06);
    EXPECT_EQ(integer(properties, hidkey::maxInputReportSize), 20);
    EXPECT_EQ(integer(properties, hidkey::maxOutputReportSize), 20);
    const auto& pairs = std::get<std::vector<HIDDictionary>>(properties.find(hidkey::deviceUsagePairs)->second);
    ASSERT_EQ(pairs.size(), 5u);
    EXPECT_EQ(pairs[4], (HIDDictionary{{"DeviceUsagePage", std::int64_t{0xFF00}}, {"DeviceUsage", std::int64_t{2}}}));
    // One location for both interfaces of the mouse, another for another port.
    EXPECT_EQ(integer(properties, hidkey::locationID), integer(pointer.properties(), hidkey::locationID));
    EXPECT_NE(HidrawService::locationID("usb-0000:00:14.0-2/input1"), HidrawService::locationID("usb-0000:00:14.0-3/input1"));
    EXPECT_EQ(integer(pointer.properties(), hidkey::maxOutputReportSize), 0);

    // A descriptor that cannot be parsed gives no usages and no sizes.
    tree.write("sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.1/0003:046D:C099.0003/report_descriptor", "\xA1\x01");
    system->registry()->forget(hidpp.node().devpath);
    const auto broken = mice(*system).at(1);
    EXPECT_FALSE(broken->properties().contains(hidkey::deviceUsagePairs));
    EXPECT_FALSE(broken->properties().contains(hidkey::maxOutputReportSize));
}

TEST(LinuxHIDSystem, ARegistryIDNamesOnePluggedInNodeAndIsNeverGivenAgain) {
    FakeHidrawTree tree;
    tree.plugG502X("1-2", 1, 0);
    const auto system = LinuxHIDSystem::make(optionsFor(tree));
    const auto ids = [&] {
        std::vector<std::uint64_t> found;
        for (const auto& service : mice(*system)) found.push_back(*service->registryEntryID());
        return found;
    };
    const auto first = ids();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_NE(first[0], first[1]);
    EXPECT_EQ(ids(), first) << "the same while the mouse stays plugged in";

    // Plugged in again: the kernel counts its HID devices on, the nodes keep their names.
    tree.unplug("hidraw0");
    tree.unplug("hidraw1");
    EXPECT_TRUE(ids().empty());
    tree.plugG502X("1-2", 3, 0);
    const auto second = ids();
    ASSERT_EQ(second.size(), 2u);
    for (const std::uint64_t id : second) EXPECT_EQ(std::ranges::count(first, id), 0);

    // A node the kernel said had gone is a new one even at the same place.
    system->registry()->forget(mice(*system).at(1)->node().devpath);
    const auto third = ids();
    EXPECT_EQ(third[0], second[0]);
    EXPECT_NE(third[1], second[1]);
    EXPECT_NE(third[1], first[1]);
}

// The kernel's uevents as a test sends them, on the subscriber's executor.
class ScriptedUevents final : public UeventMonitor {
public:
    Subscription subscribe(std::string subsystem, std::shared_ptr<Executor> executor, Handler handler) override {
        subscribers_.push_back({std::move(subsystem), std::move(executor), std::make_shared<Handler>(std::move(handler))});
        auto live = subscribers_.back().handler;
        return Subscription([this, live] { std::erase_if(subscribers_, [&](const auto& s) { return s.handler == live; }); });
    }
    void send(const std::string& action, const std::string& devpath, const std::string& subsystem = "hidraw", bool lost = false) {
        Uevent event{action, devpath, subsystem, {}};
        for (const auto& s : subscribers_) {
            if (lost || s.subsystem == subsystem) s.executor->post([h = s.handler, event, lost] { (*h)(event, lost); });
        }
    }
    std::size_t subscriberCount() const { return subscribers_.size(); }

private:
    struct Subscriber {
        std::string subsystem;
        std::shared_ptr<Executor> executor;
        std::shared_ptr<Handler> handler;
    };
    std::vector<Subscriber> subscribers_;
};

struct Notified {
    std::vector<std::vector<std::uint64_t>> batches;
    HIDNotificationPort::Callback callback() {
        return [this](HIDServiceIterator& services) { batches.push_back(drain(services)); };
    }
    static std::vector<std::uint64_t> drain(HIDServiceIterator& services) {
        std::vector<std::uint64_t> ids;
        while (auto service = services.next()) ids.push_back(*service->registryEntryID());
        return ids;
    }
};

TEST(HidrawNotificationPort, FollowsTheKernelsEventsAndCatchesUpWhenScheduledAgain) {
    FakeHidrawTree tree;
    auto options = optionsFor(tree);
    const auto uevents = std::make_shared<ScriptedUevents>();
    options.uevents = uevents;
    const auto system = LinuxHIDSystem::make(options);
    const auto loop = std::make_shared<ManualScheduler>();
    const auto port = system->createNotificationPort();
    port->scheduleOn(loop);
    Notified matched, terminated;
    auto matchedIterator = port->addMatchingNotification(HIDNotificationType::matched, g502X, matched.callback());
    auto terminatedIterator = port->addMatchingNotification(HIDNotificationType::terminated, g502X, terminated.callback());
    EXPECT_TRUE(Notified::drain(*matchedIterator).empty());
    loop->runUntilIdle();

    const auto devpaths = tree.plugG502X("1-2", 1, 0);
    tree.plug("virtual/misc/uhid/0003:093A:2510.0003", "hidraw2",
              {"0003:0000093A:00002510", "PixArt Mouse", "", "", testing::plainMouseDescriptor});
    uevents->send("add", devpaths[0]);
    uevents->send("add", devpaths[1]);
    uevents->send("add", "/devices/virtual/misc/uhid/0003:093A:2510.0003/hidraw/hidraw2");
    uevents->send("add", "/devices/virtual/input/input9", "input");
    loop->runUntilIdle();
    ASSERT_EQ(matched.batches.size(), 1u) << "both nodes were there at the first event: one batch";
    const auto plugged = matched.batches[0];
    EXPECT_EQ(plugged.size(), 2u);
    EXPECT_TRUE(terminated.batches.empty());

    tree.unplug("hidraw0");
    tree.unplug("hidraw1");
    uevents->send("remove", devpaths[0]);
    loop->runUntilIdle();
    ASSERT_EQ(terminated.batches.size(), 1u);
    EXPECT_EQ(terminated.batches[0], plugged) << "the ids they were announced with";

    // Unscheduled, the port hears nothing; scheduled again it looks at once.
    port->unschedule();
    EXPECT_EQ(uevents->subscriberCount(), 0u);
    const auto again = tree.plugG502X("1-3", 4, 0);
    uevents->send("add", again[0]);
    loop->runUntilIdle();
    EXPECT_EQ(matched.batches.size(), 1u);
    port->scheduleOn(loop);
    loop->runUntilIdle();
    ASSERT_EQ(matched.batches.size(), 2u);
    EXPECT_EQ(matched.batches[1].size(), 2u);

    // Lost events: the port compares anyway. A released iterator hears nothing more.
    terminatedIterator.reset();
    tree.unplug("hidraw0");
    tree.unplug("hidraw1");
    uevents->send("", "", "", true);
    loop->runUntilIdle();
    EXPECT_EQ(terminated.batches.size(), 1u);
    EXPECT_EQ(matched.batches.size(), 2u);
}

// One end of a packet socket stands in for the node: every write the device
// makes is one packet, every packet the test sends one report to read.
struct FakeNode {
    FakeNode() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends), 0); }
    ~FakeNode() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    // Each open is a descriptor of its own, which its opener closes.
    int open() const { return ::fcntl(ends[0], F_DUPFD_CLOEXEC, 0); }
    // Whether the device has read every report sent to it.
    bool allRead() const {
        int queued = 0;
        return ::ioctl(ends[1], SIOCOUTQ, &queued) == 0 && queued == 0;
    }
    Bytes written() const {
        Bytes buffer(64);
        const ssize_t got = ::recv(ends[1], buffer.data(), buffer.size(), MSG_DONTWAIT);
        buffer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return buffer;
    }
    void send(const Bytes& report) const { EXPECT_EQ(::send(ends[1], report.data(), report.size(), 0), static_cast<ssize_t>(report.size())); }
    int ends[2] = {-1, -1};
};

bool waitFor(const std::function<bool()>& done) {
    for (auto limit = std::chrono::steady_clock::now() + 10s; !done(); std::this_thread::sleep_for(1ms)) {
        if (std::chrono::steady_clock::now() > limit) return false;
    }
    return true;
}

TEST(HidrawDevice, OpensTheNodeAsTheHostWouldAnswer) {
    FakeHidrawTree tree;
    tree.plugG502X("1-2", 1, 0);
    auto options = optionsFor(tree);
    std::vector<int> refusals; // minus errnos the opener gives, in turn, before it opens
    int calls = 0;
    FakeNode node;
    options.registry.openNode = [&](const std::string&, int flags) {
        EXPECT_EQ(flags & (O_RDWR | O_CLOEXEC | O_NONBLOCK), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        return calls < static_cast<int>(refusals.size()) ? refusals[static_cast<std::size_t>(calls++)] : (++calls, node.open());
    };
    options.registry.settleTime = 500ms;
    const auto system = LinuxHIDSystem::make(options);
    const auto device = [&] { return system->createDevice(mice(*system).at(1)); };

    // There from the start and refused: denied at once.
    refusals = {-EACCES};
    EXPECT_EQ(device()->open(), kIOReturnNotPermitted);
    EXPECT_EQ(calls, 1);
    for (const auto& [error, code] : {std::pair{ENOENT, kIOReturnNoDevice}, std::pair{ENODEV, kIOReturnNoDevice},
                                      std::pair{EBUSY, kIOReturnExclusiveAccess}, std::pair{EMFILE, kIOReturnNoResources}}) {
        calls = 0;
        refusals = {-error};
        EXPECT_EQ(device()->open(), code) << error;
    }

    // Just plugged in: udev may not have let us in yet, so it is tried again.
    tree.unplug("hidraw0");
    tree.unplug("hidraw1");
    EXPECT_TRUE(system->matchingServices(g502X)->empty());
    tree.plugG502X("1-2", 3, 0);
    calls = 0;
    refusals = {-EACCES, -EPERM, -EACCES};
    auto plugged = device();
    EXPECT_EQ(plugged->open(), kIOReturnSuccess);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(plugged->close(), kIOReturnSuccess);
    EXPECT_EQ(plugged->close(), kIOReturnNotOpen);
    // ... but not for ever.
    calls = 0;
    refusals = std::vector<int>(1000, -EACCES);
    EXPECT_EQ(device()->open(), kIOReturnNotPermitted);
    EXPECT_LT(calls, 1000);

    // A node that another device has taken meanwhile is not opened.
    calls = 0;
    refusals.clear();
    auto stale = device();
    tree.unplug("hidraw1");
    tree.plug("virtual/misc/uhid/0003:093A:2510.0009", "hidraw1",
              {"0003:0000093A:00002510", "PixArt Mouse", "", "", testing::plainMouseDescriptor});
    EXPECT_EQ(stale->open(), kIOReturnNoDevice);
}

TEST(HidrawDevice, WritesReportsAndHandsInputToItsRunLoopOnly) {
    FakeHidrawTree tree;
    tree.plugG502X("1-2", 1, 0);
    FakeNode node;
    auto options = optionsFor(tree);
    options.registry.openNode = [&](const std::string&, int) { return node.open(); };
    const auto system = LinuxHIDSystem::make(options);
    const auto device = system->createDevice(mice(*system).at(1));
    const auto loop = std::make_shared<ManualScheduler>();
    std::vector<std::pair<std::uint32_t, Bytes>> received;
    device->registerInputReportCallback(7, [&](IOReturn result, HIDReportType type, std::uint32_t id, std::span<const std::uint8_t> r) {
        EXPECT_EQ(result, kIOReturnSuccess);
        EXPECT_EQ(type, HIDReportType::input);
        received.emplace_back(id, Bytes(r.begin(), r.end()));
    });
    const Bytes request = {0x11, 0xFF, 0x00, 0x18};
    EXPECT_EQ(device->setReport(HIDReportType::output, 0x11, request), kIOReturnNotOpen);
    ASSERT_EQ(device->open(), kIOReturnSuccess);

    EXPECT_EQ(device->setReport(HIDReportType::output, 0x11, request), kIOReturnSuccess);
    EXPECT_EQ(node.written(), request);
    EXPECT_EQ(device->setReport(HIDReportType::output, 0x10, request), kIOReturnBadArgument);
    EXPECT_EQ(device->setReport(HIDReportType::feature, 0x11, request), kIOReturnUnsupported);
    EXPECT_EQ(node.written(), Bytes{});

    // Unscheduled, reports are read and dropped; scheduled, they arrive there, cut.
    node.send({0x11, 0xFF, 0x00, 0x00, 1, 2, 3, 4, 5});
    ASSERT_TRUE(waitFor([&] { return node.allRead(); }));
    device->scheduleWithRunLoop(loop);
    EXPECT_EQ(loop->runUntilIdle(), 0u);
    node.send({0x11, 0xFF, 0x00, 0x18, 4, 2, 0, 0, 0});
    ASSERT_TRUE(waitFor([&] { return loop->pendingCount() > 0; }));
    loop->runUntilIdle();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], (std::pair<std::uint32_t, Bytes>{0x11, {0x11, 0xFF, 0x00, 0x18, 4, 2, 0}}));

    // A report read before the device closed is not handed over after.
    node.send({0x10, 0xFF, 0x00, 0x18, 4, 2, 0});
    ASSERT_TRUE(waitFor([&] { return loop->pendingCount() > 0; }));
    EXPECT_EQ(device->close(), kIOReturnSuccess);
    loop->runUntilIdle();
    EXPECT_EQ(received.size(), 1u);
    EXPECT_EQ(device->setReport(HIDReportType::output, 0x11, request), kIOReturnNotOpen);

    // Scheduled on a run loop, the loop itself reads the node and hands each
    // report over on its own thread; once unscheduled, nothing more arrives.
    RunLoopThread io(Thread::Options{"test.hid-io", ThreadPriority::defaultPriority, 0});
    ASSERT_TRUE(io.start());
    std::atomic<int> onLoop{0};
    std::atomic<int> elsewhere{0};
    device->registerInputReportCallback(7, [&](IOReturn, HIDReportType, std::uint32_t, std::span<const std::uint8_t>) {
        (io.runLoop()->isCurrent() ? onLoop : elsewhere) += 1;
    });
    ASSERT_EQ(device->open(), kIOReturnSuccess);
    std::promise<void> scheduled;
    io.perform([&] {
        device->scheduleWithRunLoop(io.runLoop());
        scheduled.set_value();
    });
    scheduled.get_future().wait();
    node.send({0x11, 0xFF, 0x00, 0x18, 4, 2, 0});
    node.send({0x11, 0xFF, 0x00, 0x18, 4, 3, 0});
    ASSERT_TRUE(waitFor([&] { return onLoop == 2; }));
    std::promise<void> closed;
    io.perform([&] {
        device->unscheduleFromRunLoop();
        EXPECT_EQ(device->close(), kIOReturnSuccess);
        closed.set_value();
    });
    closed.get_future().wait();
    node.send({0x11, 0xFF, 0x00, 0x18, 4, 4, 0});
    std::this_thread::sleep_for(20ms);
    io.stop();
    EXPECT_EQ(onLoop, 2);
    EXPECT_EQ(elsewhere, 0);
}

TEST(LinuxHIDSystem, ListenAccessAnswersForTheMatchingNodes) {
    FakeHidrawTree tree;
    auto options = optionsFor(tree);
    bool allowed = false;
    options.accessCheck = [&](const std::string& path, int) { return allowed && path == tree.roots().dev + "/hidraw1"; };
    const auto system = LinuxHIDSystem::make(options);
    EXPECT_EQ(system->checkListenAccess(), HIDAccess::unknown);
    tree.plugG502X("1-2", 1, 0);
    EXPECT_EQ(system->checkListenAccess(), HIDAccess::denied);
    allowed = true;
    EXPECT_EQ(system->checkListenAccess(), HIDAccess::granted);
}

} // namespace
} // namespace ravolet::platform

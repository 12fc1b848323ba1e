#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"
#include "Platform/Linux/Kernel/UeventMonitor.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "FolderTree.hpp"

namespace ravolet::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct SysfsTree : testing::FolderTree {
    SysfsTree() : FolderTree("sysfs") {}
    KernelRoots roots() const { return {(path / "sys").string(), (path / "dev").string()}; }
};

TEST(Sysfs, ListsNodesInNaturalOrderWithTheirIdentity) {
    SysfsTree tree;
    const std::string mouse = "sys/devices/pci0000:00/usb1/1-1/1-1:1.1/0003:046D:C099.0002";
    tree.write(mouse + "/uevent", "DRIVER=hid-generic\nHID_ID=0003:0000046D:0000C099\nHID_NAME=Logitech G502 X\n"
                                  "HID_PHYS=usb-0000:00:14.0-1/input1\nHID_UNIQ=\n");
    tree.link("sys/class/hidraw/hidraw10/device", mouse);
    tree.write("sys/class/hidraw/hidraw2/device/uevent", "HID_ID=0005:0000046D:no\n");
    tree.write("sys/class/hidraw/hidraw9/device/nothing", ""); // unplugged while listed

    const std::string pointer = "sys/devices/pci0000:00/usb1/1-1/1-1:1.0/0003:046D:C099.0001/input/input7";
    tree.write(pointer + "/id/bustype", "0003\n");
    tree.write(pointer + "/id/vendor", "046d\n");
    tree.write(pointer + "/id/product", "c099\n");
    tree.write(pointer + "/name", "Logitech G502 X\n");
    tree.write(pointer + "/phys", "usb-0000:00:14.0-1/input0\n");
    tree.write(pointer + "/capabilities/rel", "1943\n");
    tree.link("sys/class/input/event12/device", pointer);
    const std::string ours = "sys/devices/virtual/input/input30";
    tree.write(ours + "/id/vendor", "046d\n");
    tree.write(ours + "/id/product", "c099\n");
    tree.link("sys/class/input/event3/device", ours);
    // A uhid device (a Bluetooth mouse) is hardware to the input layer.
    const std::string uhid = "sys/devices/virtual/misc/uhid/0005:046D:B019.0003/input/input40";
    tree.write(uhid + "/id/vendor", "046d\n");
    tree.write(uhid + "/id/product", "b019\n");
    tree.link("sys/class/input/event20/device", uhid);
    tree.write("sys/class/input/mouse0/device/id/vendor", "046d\n");

    const auto hidraw = listHidrawNodes(tree.roots());
    ASSERT_EQ(hidraw.size(), 2u);
    EXPECT_EQ(hidraw[0].name, "hidraw2");
    EXPECT_EQ(hidraw[0].identifier, std::nullopt);
    EXPECT_EQ(hidraw[1].name, "hidraw10");
    EXPECT_EQ(hidraw[1].devicePath, tree.roots().dev + "/hidraw10");
    EXPECT_EQ(hidraw[1].sysfsDevice, fs::canonical(tree.path / mouse).string());
    EXPECT_EQ(hidraw[1].identifier, (sysfs::HIDIdentifier{BUS_USB, 0x046D, 0xC099}));
    EXPECT_EQ(hidraw[1].uevent.at("HID_NAME"), "Logitech G502 X");
    EXPECT_EQ(hidraw[1].uevent.at("HID_UNIQ"), "");

    const auto events = listEventNodes(tree.roots());
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].name, "event20");
    EXPECT_FALSE(events[2].isVirtual);
    EXPECT_EQ(events[0].name, "event3");
    EXPECT_TRUE(events[0].isVirtual);
    EXPECT_EQ(events[1].name, "event12");
    EXPECT_FALSE(events[1].isVirtual);
    EXPECT_EQ(events[1].devicePath, tree.roots().dev + "/input/event12");
    EXPECT_EQ(events[1].bus, BUS_USB);
    EXPECT_EQ(events[1].deviceName, "Logitech G502 X");
    EXPECT_EQ(events[1].phys, "usb-0000:00:14.0-1/input0");
    EXPECT_EQ(events[1].relativeAxes, 0x1943u);
    EXPECT_EQ(events[0].relativeAxes, 0u) << "no capabilities file";
}

TEST(Sysfs, ReadsAreBoundedAndParsesAreStrict) {
    SysfsTree tree;
    tree.write("big", std::string(100, 'x'));
    EXPECT_EQ(sysfs::readText(tree.path / "big", 99), std::nullopt);
    EXPECT_EQ(sysfs::readText(tree.path / "big", 100)->size(), 100u);
    EXPECT_EQ(sysfs::readText(tree.path / "missing"), std::nullopt);
    ASSERT_EQ(::mkfifo((tree.path / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(sysfs::readText(tree.path / "fifo"), ""); // no writer: empty, not a hang

    struct HexCase {
        const char* text;
        std::optional<std::int64_t> value;
    };
    for (const HexCase& c : {HexCase{"046d\n", 0x046D}, HexCase{" C099 ", 0xC099}, HexCase{"", std::nullopt},
                             HexCase{"0x46d", std::nullopt}, HexCase{"12g", std::nullopt},
                             HexCase{"ffffffffffffffff", std::nullopt}, HexCase{"7fffffffffffffff", INT64_MAX}}) {
        EXPECT_EQ(sysfs::parseHex(c.text), c.value) << c.text;
    }
    EXPECT_EQ(sysfs::parseHIDIdentifier("0003:0000046D:0000C099"), (sysfs::HIDIdentifier{3, 0x046D, 0xC099}));
    EXPECT_EQ(sysfs::parseHIDIdentifier("0003:0000046D"), std::nullopt);
    const auto values = sysfs::parseKeyValues("A=1\nnoise\n=x\nB=two=2\nA=3");
    EXPECT_EQ(values.size(), 2u);
    EXPECT_EQ(values.at("A"), "3");
    EXPECT_EQ(values.at("B"), "two=2");
}

// The parts of one netlink message, each ended by a NUL as the kernel sends them.
std::string message(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (std::string_view part : parts) (text += part) += '\0';
    return text;
}

TEST(Uevent, ParsesTheKernelsFormatOnly) {
    const std::string path = "/devices/virtual/misc/uhid/0003:046D:C099.0001/hidraw/hidraw0";
    const auto event = parseUevent(message({"add@" + path, "ACTION=add", "DEVPATH=" + path, "SUBSYSTEM=hidraw",
                                            "MAJOR=242", "DEVNAME=hidraw0", "SEQNUM=1234"}));
    ASSERT_TRUE(event);
    EXPECT_EQ(event->action, "add");
    EXPECT_EQ(event->subsystem, "hidraw");
    EXPECT_EQ(event->devpath, path);
    EXPECT_EQ(event->property("DEVNAME"), "hidraw0");
    EXPECT_EQ(event->property("SEQNUM"), "1234");
    EXPECT_EQ(event->property("NOPE"), "");

    const std::string rejected[] = {
        message({"libudev", "ACTION=add", "DEVPATH=/devices/x", "SUBSYSTEM=input"}), // udev's own broadcast
        message({"add@/devices/x", "ACTION=add", "DEVPATH=/devices/x"}),              // no subsystem
        message({"ACTION=add", "DEVPATH=/devices/x", "SUBSYSTEM=input"}),             // no header
        std::string(),
    };
    for (const std::string& text : rejected) EXPECT_EQ(parseUevent(text), std::nullopt);
}

TEST(Uevent, TheKernelBroadcastCanBeJoined) {
    // Any process may listen to the kernel's device events; without that,
    // hot-plug is never seen.
    // A subscription alone keeps the monitor listening.
    Subscription subscription = UeventMonitor::shared()->subscribe("input", std::make_shared<ManualScheduler>(),
                                                                   [](const Uevent&, bool) {});
    std::weak_ptr<UeventMonitor> monitor = UeventMonitor::shared();
    ASSERT_FALSE(monitor.expired());
    subscription.cancel();
    EXPECT_TRUE(monitor.expired());
}

struct Pipe {
    Pipe() { EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        closeWriter();
        ::close(fds[0]);
    }
    void closeWriter() {
        if (fds[1] >= 0) ::close(std::exchange(fds[1], -1));
    }
    int fds[2] = {-1, -1};
};

bool eventually(const std::function<bool()>& done) {
    for (auto limit = std::chrono::steady_clock::now() + 20s; !done();) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(DescriptorWatcher, CallsOnInputAndOnceOnHangUpAndDropsWait) {
    auto watcher = DescriptorWatcher::make({"watcher-test", ThreadPriority::defaultPriority, 0});
    ASSERT_TRUE(watcher);
    Pipe pipe;
    std::atomic<int> bytes{0}, hangUps{0};
    Subscription watch = watcher->watch(pipe.fds[0], [&](short events) {
        char buffer[16];
        for (ssize_t got; (got = ::read(pipe.fds[0], buffer, sizeof buffer)) > 0;) bytes += static_cast<int>(got);
        if (events & POLLHUP) ++hangUps;
    });
    ASSERT_EQ(::write(pipe.fds[1], "abc", 3), 3);
    EXPECT_TRUE(eventually([&] { return bytes == 3; }));
    pipe.closeWriter();
    EXPECT_TRUE(eventually([&] { return hangUps == 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(hangUps, 1) << "a hung-up descriptor must not be reported again and again";

    // A drop made while the handler runs returns only once it has finished.
    Pipe slow;
    std::atomic<bool> inside{false}, finished{false};
    Subscription slowWatch = watcher->watch(slow.fds[0], [&](short) {
        inside = true;
        std::this_thread::sleep_for(50ms);
        finished = true;
    });
    ASSERT_EQ(::write(slow.fds[1], "x", 1), 1);
    ASSERT_TRUE(eventually([&] { return inside.load(); }));
    slowWatch.cancel();
    EXPECT_TRUE(finished);

    // A watch may be dropped by its own handler, and outlive the watcher.
    Pipe self;
    std::mutex selfLock; // orders the test's assignment before the handler's drop
    Subscription selfWatch;
    std::atomic<int> calls{0};
    std::atomic<bool> dropped{false};
    std::unique_lock assigning(selfLock);
    selfWatch = watcher->watch(self.fds[0], [&](short) {
        ++calls;
        std::lock_guard lock(selfLock);
        selfWatch.cancel();
        dropped = true;
    });
    assigning.unlock();
    ASSERT_EQ(::write(self.fds[1], "x", 1), 1);
    EXPECT_TRUE(eventually([&] { return dropped.load(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(calls, 1);
    watcher.reset();
    watch.cancel();
}

} // namespace
} // namespace ravolet::platform

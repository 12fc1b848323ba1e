// The fake mice on the real kernel: what the kernel makes of them is what the
// Linux forms of the platform layer will be tested against.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FakeMouse/EventNodeReader.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "FakeMouse/FakeOrdinaryMouse.hpp"
#include "FakeMouse/KernelNodes.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto patience = 2000ms; // what the kernel may take, never what it should

::testing::AssertionResult ok(const std::expected<void, std::string>& result) {
    if (result) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.error();
}

bool isCharacterDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// A hidraw node opened for HID++: one report a write, one a read.
class HidrawNode {
public:
    explicit HidrawNode(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}
    ~HidrawNode() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    bool write(const Bytes& report) { return ::write(fd_, report.data(), report.size()) == ssize_t(report.size()); }
    // The next report, or none when `timeout` passes or the node hangs up.
    std::optional<Bytes> read(std::chrono::milliseconds timeout) {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0 || (pfd.revents & POLLIN) == 0) return std::nullopt;
        Bytes report(64);
        const ssize_t n = ::read(fd_, report.data(), report.size());
        if (n <= 0) return std::nullopt;
        report.resize(static_cast<std::size_t>(n));
        return report;
    }
    // poll()'s answer with nothing asked for: POLLHUP and POLLERR once unplugged.
    short hangUpEvents() {
        pollfd pfd{fd_, 0, 0};
        ::poll(&pfd, 1, 0);
        return pfd.revents;
    }

private:
    int fd_;
};

Bytes longReport(std::uint8_t featureIndex, std::uint8_t function, Bytes parameters) {
    Bytes report(20, 0);
    report[0] = FakeG502X::longHIDPPReportID;
    report[1] = 0xFF;
    report[2] = featureIndex;
    report[3] = static_cast<std::uint8_t>(function << 4 | 0x0A);
    for (std::size_t i = 0; i < parameters.size() && 4 + i < report.size(); ++i) report[4 + i] = parameters[i];
    return report;
}

// A fake G502 X plugged in, with what the kernel made of its two interfaces.
class FakeMouseKernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ok(g502x.plugIn()));
        auto pointerDevice = g502x.kernelDevice(FakeG502X::pointerInterface);
        auto hidppDevice = g502x.kernelDevice(FakeG502X::hidppInterface);
        ASSERT_TRUE(pointerDevice) << pointerDevice.error();
        ASSERT_TRUE(hidppDevice) << hidppDevice.error();
        pointer = std::move(*pointerDevice);
        hidpp = std::move(*hidppDevice);
    }

    FakeG502X g502x;
    KernelHIDDevice pointer;
    KernelHIDDevice hidpp;
};

TEST_F(FakeMouseKernelTest, NodesCarryTheMiceIdentitiesInSysfs) {
    FakeOrdinaryMouse other;
    ASSERT_TRUE(ok(other.plugIn()));

    struct Row {
        const FakeUSBMouse& mouse;
        int interface;
        std::string hidID, name, phys, uniq, inputVendor, inputProduct;
        std::size_t eventNodes; // at least this many
    };
    const Row rows[] = {
        {g502x, 0, "0003:0000046D:0000C099", "Logitech G502 X", "usb-0000:00:14.0-2/input0", "1A2B3C4D", "046d", "c099", 1},
        {g502x, 1, "0003:0000046D:0000C099", "Logitech G502 X", "usb-0000:00:14.0-2/input1", "1A2B3C4D", "046d", "c099", 1},
        {other, 0, "0003:0000093A:00002510", "PixArt USB Optical Mouse", "usb-0000:00:14.0-3/input0", "", "093a", "2510", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.phys);
        auto device = row.mouse.kernelDevice(row.interface);
        ASSERT_TRUE(device) << device.error();
        // The raw sysfs text, as any program reading sysfs sees it.
        const std::string uevent = device->sysfsPath + "/uevent";
        EXPECT_EQ(ueventValue(uevent, "HID_ID"), row.hidID);
        EXPECT_EQ(ueventValue(uevent, "HID_NAME"), row.name);
        EXPECT_EQ(ueventValue(uevent, "HID_PHYS"), row.phys);
        EXPECT_EQ(ueventValue(uevent, "HID_UNIQ"), row.uniq);
        EXPECT_EQ(ueventValue(uevent, "DRIVER"), "hid-generic");

        ASSERT_TRUE(device->hidraw);
        EXPECT_TRUE(isCharacterDevice(*device->hidraw)) << *device->hidraw;
        const std::string hidrawClass = "/sys/class/hidraw/" + std::filesystem::path(*device->hidraw).filename().string();
        EXPECT_EQ(std::filesystem::canonical(hidrawClass + "/device"), std::filesystem::canonical(device->sysfsPath));

        ASSERT_GE(device->inputs.size(), row.eventNodes);
        for (const KernelInputNode& input : device->inputs) {
            SCOPED_TRACE(input.eventNode);
            EXPECT_TRUE(isCharacterDevice(input.eventNode));
            EXPECT_TRUE(input.name.starts_with(row.name)) << input.name;
            EXPECT_EQ(readSysfsLine(input.sysfsPath + "/device/phys"), row.phys);
            EXPECT_EQ(readSysfsLine(input.sysfsPath + "/device/id/bustype"), "0003");
            EXPECT_EQ(readSysfsLine(input.sysfsPath + "/device/id/vendor"), row.inputVendor);
            EXPECT_EQ(readSysfsLine(input.sysfsPath + "/device/id/product"), row.inputProduct);
        }
    }
    // The pointer is one event node of the mouse's own name.
    ASSERT_EQ(pointer.inputs.size(), 1u);
    EXPECT_EQ(pointer.inputs[0].name, "Logitech G502 X");
}

TEST_F(FakeMouseKernelTest, HIDPPIsAnsweredOnInterfaceOneByTheMouseModel) {
    HidrawNode pointerNode(*pointer.hidraw);
    HidrawNode hidppNode(*hidpp.hidraw);
    ASSERT_TRUE(pointerNode.isOpen() && hidppNode.isOpen());

    // The root feature's ping, short and long: the protocol version (4.2)
    // and the caller's token come back in a long report.
    struct Ping {
        Bytes request;
        Bytes reply;
    };
    Bytes reply = longReport(0x00, 1, {4, 2, 0x5A});
    const Ping pings[] = {
        {{FakeG502X::shortHIDPPReportID, 0xFF, 0x00, 0x1A, 0x00, 0x00, 0x5A}, reply},
        {longReport(0x00, 1, {0x00, 0x00, 0x5A}), reply},
    };
    for (const Ping& ping : pings) {
        SCOPED_TRACE(::testing::PrintToString(ping.request));
        ASSERT_TRUE(hidppNode.write(ping.request));
        EXPECT_EQ(hidppNode.read(patience), ping.reply);
    }

    // A DPI written through the node is the model's DPI.
    const std::optional<std::uint8_t> dpiFeature = g502x.model()->featureIndex(platform::SimulatedMouse::adjustableDPIFeature);
    ASSERT_TRUE(dpiFeature);
    ASSERT_TRUE(hidppNode.write(longReport(*dpiFeature, 3, {0x00, 0x03, 0x20})));
    EXPECT_EQ(hidppNode.read(patience), longReport(*dpiFeature, 3, {0x00, 0x03, 0x20}));
    EXPECT_EQ(g502x.model()->currentDPI(), 800);

    // The pointer interface speaks no HID++: what is written there never
    // reaches the model.
    g502x.model()->clearReceivedRequests();
    EXPECT_TRUE(pointerNode.write(pings[1].request));
    ASSERT_TRUE(hidppNode.write(pings[1].request));
    EXPECT_EQ(hidppNode.read(patience), reply);
    EXPECT_EQ(g502x.model()->receivedRequests().size(), 1u);
}

TEST_F(FakeMouseKernelTest, ACableThatGoesMidRequestTakesBothInterfacesAndPlugsBackIn) {
    HidrawNode node(*hidpp.hidraw);
    ASSERT_TRUE(node.isOpen());

    g502x.model()->unplugOnNext({.featureID = platform::SimulatedMouse::rootFeature, .function = 1});
    ASSERT_TRUE(node.write(longReport(0x00, 1, {0x00, 0x00, 0x01})));
    EXPECT_EQ(node.read(patience), std::nullopt);
    EXPECT_NE(node.hangUpEvents() & POLLHUP, 0);
    EXPECT_FALSE(node.write(longReport(0x00, 1, {0x00, 0x00, 0x02}))) << "a write to an unplugged node";
    EXPECT_FALSE(g502x.isPluggedIn());
    EXPECT_FALSE(std::filesystem::exists(*hidpp.hidraw));
    EXPECT_FALSE(std::filesystem::exists(pointer.inputs.front().eventNode));
    EXPECT_FALSE(g502x.move(1, 1)) << "input from an unplugged mouse";

    ASSERT_TRUE(ok(g502x.plugIn()));
    auto again = g502x.kernelDevice(FakeG502X::hidppInterface);
    ASSERT_TRUE(again);
    HidrawNode replugged(*again->hidraw);
    ASSERT_TRUE(replugged.write(longReport(0x00, 1, {0x00, 0x00, 0x03})));
    EXPECT_EQ(replugged.read(patience), longReport(0x00, 1, {4, 2, 0x03}));
}

TEST_F(FakeMouseKernelTest, PointerReportsComeOutOfTheEventNodeAsTheKernelReportsThem) {
    FakeG502X& mouse = g502x;
    auto reader = EventNodeReader::open(pointer.inputs.front().eventNode);
    ASSERT_TRUE(reader) << reader.error();

    const EvdevFrame wheelUp{{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}};
    const EvdevFrame wheelDown{{EV_REL, REL_WHEEL, -1}, {EV_REL, REL_WHEEL_HI_RES, -120}};
    struct Row {
        std::string what;
        std::uint8_t wheelMode; // HID++ 0x2121: 1 = to HID++, 2 = high resolution, 4 = inverted
        std::function<std::expected<void, std::string>()> act;
        std::vector<EvdevFrame> frames;
    };
    const std::vector<Row> rows = {
        {"a move", 0x00, [&] { return mouse.move(-300, 5); }, {{{EV_REL, REL_X, -300}, {EV_REL, REL_Y, 5}}}},
        {"the left button down", 0x00, [&] { return mouse.press(0); },
         {{{EV_MSC, MSC_SCAN, 0x90001}, {EV_KEY, BTN_LEFT, 1}}}},
        {"a drag", 0x00, [&] { return mouse.move(2, 0); }, {{{EV_REL, REL_X, 2}}}},
        {"the left button up", 0x00, [&] { return mouse.release(0); },
         {{{EV_MSC, MSC_SCAN, 0x90001}, {EV_KEY, BTN_LEFT, 0}}}},
        {"the back button down", 0x00, [&] { return mouse.press(3); },
         {{{EV_MSC, MSC_SCAN, 0x90004}, {EV_KEY, BTN_SIDE, 1}}}},
        {"the back button up", 0x00, [&] { return mouse.release(3); },
         {{{EV_MSC, MSC_SCAN, 0x90004}, {EV_KEY, BTN_SIDE, 0}}}},
        {"the sixteenth button down", 0x00, [&] { return mouse.press(15); },
         {{{EV_MSC, MSC_SCAN, 0x90010}, {EV_KEY, BTN_MOUSE + 15, 1}}}},
        {"a detent up, low resolution", 0x00, [&] { return mouse.turnWheel(1); }, {wheelUp}},
        {"two detents down, low resolution", 0x00, [&] { return mouse.turnWheel(-2); }, {wheelDown, wheelDown}},
        {"a detent up, high resolution", 0x02, [&] { return mouse.turnWheel(1); }, std::vector<EvdevFrame>(8, wheelUp)},
        {"a detent down, high resolution, inverted", 0x06, [&] { return mouse.turnWheel(-1); },
         std::vector<EvdevFrame>(8, wheelDown)},
        {"a detent, high resolution sent to HID++", 0x03, [&] { return mouse.turnWheel(1); }, {wheelUp}},
        {"a tilt right", 0x02, [&] { return mouse.turnHorizontalWheel(1); },
         {{{EV_REL, REL_HWHEEL, 1}, {EV_REL, REL_HWHEEL_HI_RES, 120}}}},
    };
    // A move after each act marks where its frames end.
    const EvdevFrame marker{{EV_REL, REL_X, 7}, {EV_REL, REL_Y, 7}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        g502x.model()->setWheelMode(row.wheelMode);
        ASSERT_TRUE(ok(row.act()));
        ASSERT_TRUE(ok(mouse.move(7, 7)));
        std::vector<EvdevFrame> frames = reader->readFramesThrough(marker, patience);
        ASSERT_FALSE(frames.empty());
        ASSERT_EQ(frames.back(), marker) << "the marker never came";
        frames.pop_back();
        EXPECT_EQ(frames, row.frames);
    }
}

TEST_F(FakeMouseKernelTest, UnpluggingRemovesOnlyThatMouseNodes) {
    FakeOrdinaryMouse other;
    ASSERT_TRUE(ok(other.plugIn()));
    std::vector<std::string> g502xNodes;
    std::vector<std::string> g502xFolders;
    for (const KernelHIDDevice* device : {&pointer, &hidpp}) {
        g502xNodes.push_back(*device->hidraw);
        g502xFolders.push_back(device->sysfsPath);
        for (const KernelInputNode& input : device->inputs) g502xNodes.push_back(input.eventNode);
    }
    auto otherDevice = other.kernelDevice(0);
    ASSERT_TRUE(otherDevice);
    auto otherReader = EventNodeReader::open(otherDevice->inputs.front().eventNode);
    ASSERT_TRUE(otherReader);

    g502x.unplug();

    EXPECT_FALSE(g502x.isPluggedIn());
    for (const std::string& path : g502xNodes) EXPECT_FALSE(std::filesystem::exists(path)) << path;
    for (const std::string& path : g502xFolders) EXPECT_FALSE(std::filesystem::exists(path)) << path;
    for (int interface : {0, 1}) EXPECT_EQ(kernelHIDDevice(g502x.phys(interface)), std::nullopt);
    // The other mouse goes on as before.
    ASSERT_TRUE(ok(other.move(3, -4)));
    const EvdevFrame otherMove{{EV_REL, REL_X, 3}, {EV_REL, REL_Y, -4}};
    EXPECT_EQ(otherReader->readFrames(1, patience), std::vector<EvdevFrame>{otherMove});

    ASSERT_TRUE(ok(g502x.plugIn()));
    EXPECT_TRUE(g502x.kernelDevice(0) && g502x.kernelDevice(1));
}

} // namespace
} // namespace ravolet::testing

#include <gtest/gtest.h>

#include <map>

#include <fmt/format.h>

#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"
#include "RavoletEngine/Coordination/DesktopPointerPropertyBackend.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"
#include "tests/platform/FolderTree.hpp"

using namespace ravolet;
using namespace ravolet::platform;
using Write = PointerPropertyWrite;

namespace {

// A desktop in memory: its pointers and their settings, one for each device
// on the X server, one for each identity (vendor, product and name) where the
// desktop keeps them so, whether or not a device of it is listed.
class FakeDesktop final : public DesktopPointerSettings {
public:
    FakeDesktop(Desktop desktop, bool byIdentity) : desktop_(desktop), byIdentity_(byIdentity) {}
    Desktop desktop() const override { return desktop_; }
    bool canWrite() const override { return true; }
    bool keepsSettingsByIdentity() const override { return byIdentity_; }
    std::vector<DesktopPointer> pointers() override {
        ++listings;
        return listed;
    }
    std::optional<std::string> accelerationKey(const DesktopPointer&) override { return "profile"; }
    std::optional<std::int64_t> readAcceleration(const DesktopPointer& p, std::string_view key) override {
        const auto it = settings.find(keyOf(p));
        if (key != "profile" || it == settings.end() || !isListed(p)) return std::nullopt;
        return it->second;
    }
    bool writeAcceleration(const DesktopPointer& p, std::string_view key, std::int64_t code) override {
        if (key != "profile" || !isListed(p)) return false;
        settings[keyOf(p)] = code;
        return true;
    }

    Subscription observePointersAdded(std::function<void()> added) override {
        pointerAdded = std::move(added);
        return {};
    }
    // What the desktop calls when it adds a device.
    std::function<void()> pointerAdded;

    // Where the desktop keeps the setting of `p`.
    std::string keyOf(const DesktopPointer& p) const {
        return byIdentity_ ? fmt::format("{:04x}:{:04x}:{}", p.vendorID, p.productID, p.name) : p.handle;
    }
    std::vector<DesktopPointer> listed;
    std::map<std::string, std::int64_t> settings;
    int listings = 0;

private:
    bool isListed(const DesktopPointer& p) const { return std::ranges::find(listed, p) != listed.end(); }
    Desktop desktop_;
    bool byIdentity_;
};

// The mouse, Ravolet's pointer under the mouse's identity, and another
// program's virtual pointer, as sysfs and udev show them.
struct Machine : platform::testing::FolderTree {
    Machine() : FolderTree("desktop-pointer") {
        const std::string usb = "sys/devices/pci0000:00/usb1/1-2/1-2:1.0/0003:046D:C099.0001/input/input7";
        device(usb, "event4", "046d", "c099", "Logitech G502 X", "usb-0000:00:14.0-2/input0", "13:68");
        device("sys/devices/virtual/input/input9", "event6", "046d", "c099", "Logitech G502 X",
               "ravolet/virtual-pointer", "13:70");
        device("sys/devices/virtual/input/input10", "event7", "1234", "0001", "keyd virtual pointer", "", "13:71");
    }
    void device(const std::string& folder, const std::string& event, const std::string& vendor,
                const std::string& product, const std::string& name, const std::string& phys, const std::string& dev) {
        write(folder + "/id/bustype", "0003\n");
        write(folder + "/id/vendor", vendor + "\n");
        write(folder + "/id/product", product + "\n");
        write(folder + "/name", name + "\n");
        write(folder + "/phys", phys + "\n");
        write(folder + "/capabilities/rel", "1943\n");
        link("sys/class/input/" + event + "/device", folder);
        write("sys/class/input/" + event + "/dev", dev + "\n");
    }
    DesktopPointerPropertyBackend::Options options() const {
        return {{(path / "sys").string(), (path / "dev").string()}, (path / "udev").string()};
    }
    std::string node(const std::string& event) const { return (path / "dev/input" / event).string(); }
};

const DesktopPointer realMouse{"real", "Logitech G502 X", 0x046D, 0xC099, ""};
const DesktopPointer keyd{"keyd", "keyd virtual pointer", 0x1234, 0x0001, ""};

} // namespace

TEST(PointerAccelSetting, EverySettingHasACodeThatReadsBackAsItAndOffIsMinus65536) {
    using P = PointerAccelSetting::Profile;
    const std::vector<std::pair<PointerAccelSetting, std::int64_t>> cases = {
        {PointerAccelSetting::flat(0), -65536},
        {PointerAccelSetting::adaptive(0), 0},
        {PointerAccelSetting::flat(0.5), -65536 - (std::int64_t{1} << 40)},
        {PointerAccelSetting::flat(-1), -65536 - (std::int64_t{1} << 41) + 1},
        {PointerAccelSetting::adaptive(-0.5), (std::int64_t{1} << 40) - 1},
        {PointerAccelSetting{P::custom, 1.0, 0}, (std::int64_t{1} << 42) + (std::int64_t{1} << 41)},
        {PointerAccelSetting{P::desktopDefault, std::nullopt, 0}, std::int64_t{1} << 43},
        {PointerAccelSetting{P::xServer, std::nullopt, 2}, (std::int64_t{1} << 44) + 2},
    };
    for (const auto& [setting, code] : cases) {
        SCOPED_TRACE(setting.description());
        EXPECT_EQ(setting.code(), code);
        EXPECT_EQ(PointerAccelSetting::fromCode(code), setting);
        EXPECT_EQ(setting.code() < 0, setting.profile == P::flat) << "only flat reads as acceleration off";
    }
    // A single-precision speed, as the X server and sway hold it, comes back exactly.
    const float speed = 0.35f;
    EXPECT_EQ(static_cast<float>(*PointerAccelSetting::fromCode(PointerAccelSetting::adaptive(speed).code())->speed), speed);
    for (const std::int64_t nothing : {std::int64_t{1} << 41 | 7, std::int64_t{1} << 45, -65536 - (std::int64_t{1} << 42)})
        EXPECT_FALSE(PointerAccelSetting::fromCode(nothing)) << nothing;
    EXPECT_EQ(PointerAccelSetting::adaptive(0.35).description(), "adaptive, speed 0.35");
}

TEST(DesktopPointerPropertyBackend, OnlyRavoletsPointerIsListedAsTheMouseAndItsSettingIsTheOneChanged) {
    Machine machine;
    struct Case {
        const char* name;
        DesktopPointerSettings::Desktop desktop;
        bool byIdentity;
        bool namesNodes;
    };
    for (const Case& c : {Case{"X server", DesktopPointerSettings::Desktop::x11, false, true},
                          Case{"sway", DesktopPointerSettings::Desktop::sway, true, false},
                          Case{"KWin", DesktopPointerSettings::Desktop::kwin, true, true}}) {
        SCOPED_TRACE(c.name);
        auto desktop = std::make_shared<FakeDesktop>(c.desktop, c.byIdentity);
        DesktopPointer real = realMouse, ours{"ours", "Logitech G502 X", 0x046D, 0xC099, ""};
        if (c.namesNodes) {
            real.eventNode = machine.node("event4");
            ours.eventNode = machine.node("event6");
        }
        // Where the desktop lists the mouse before Ravolet's pointer, by identity they share one setting.
        desktop->listed = {c.namesNodes ? real : keyd, ours, keyd};
        desktop->settings = {{desktop->keyOf(ours), 2}, {desktop->keyOf(real), 1}, {desktop->keyOf(keyd), 3}};
        DesktopPointerPropertyBackend backend(desktop, machine.options());

        const auto services = backend.services();
        ASSERT_EQ(services.size(), 1u);
        const PointerServiceIdentity& service = services.front();
        EXPECT_TRUE(service.isPointerCollection());
        EXPECT_TRUE(service.matches(HIDPPDeviceMatch::g502X));
        EXPECT_EQ(service.product, "Logitech G502 X");
        // Per device on the X server (as the device scope numbers it), else the identity under the desktop's tag.
        if (c.byIdentity)
            EXPECT_EQ(service.registryID >> 56, static_cast<std::uint64_t>(c.desktop));
        else
            EXPECT_EQ(service.registryID, 0x100000009u);

        EXPECT_EQ(backend.readString(PointerHardwareTuning::accelerationTypeKey, service.registryID), "profile");
        EXPECT_EQ(backend.readNumber("profile", service.registryID), 2);
        EXPECT_EQ(backend.writeNumber("profile", -65536, service.registryID), Write::eventSystem);
        EXPECT_EQ(desktop->settings.at(desktop->keyOf(ours)), -65536);
        EXPECT_EQ(desktop->settings.at(desktop->keyOf(real)), c.byIdentity ? -65536 : 1)
            << "by identity the mouse's setting is the same one; on the X server its own is not touched";
        EXPECT_EQ(desktop->settings.at(desktop->keyOf(keyd)), 3);
        EXPECT_EQ(backend.writeNumber("other", 0, service.registryID), Write::refused);
        EXPECT_EQ(backend.writeNumber("profile", 0, service.registryID + 1), Write::refused);
        EXPECT_TRUE(backend.serviceExists(service.registryID));

        // The desktop no longer lists it: not a service to tune. By identity
        // the setting is still there and reached through the mouse itself;
        // on the X server it went with the device.
        desktop->listed = c.namesNodes ? std::vector{real, keyd} : std::vector{keyd};
        EXPECT_TRUE(backend.services().empty());
        EXPECT_EQ(backend.serviceExists(service.registryID), c.byIdentity);
        EXPECT_EQ(backend.writeNumber("profile", 0, service.registryID), c.byIdentity && c.namesNodes ? Write::eventSystem : Write::refused);
        desktop->listed = {keyd};
        EXPECT_EQ(backend.serviceExists(service.registryID), c.byIdentity) << "kept by identity with no device of it listed";
        EXPECT_EQ(backend.readNumber("profile", service.registryID), std::nullopt);
        EXPECT_EQ(backend.writeNumber("profile", 0, service.registryID), Write::refused);

        // One operation of the tuner's lists the desktop's pointers once,
        // however many properties it reads and writes.
        desktop->listed = {ours, keyd};
        PointerHardwareTuning tuner(std::make_shared<DesktopPointerPropertyBackend>(desktop, machine.options()),
                                    std::make_shared<InMemoryKeyValueStore>(), std::nullopt, {HIDPPDeviceMatch::g502X},
                                    std::make_shared<SimulatedClock>(), std::make_shared<InMemoryFileSystem>());
        desktop->listings = 0;
        tuner.request({true, 1600});
        EXPECT_TRUE(tuner.status().isApplied);
        EXPECT_EQ(desktop->listings, 1);
    }
}

TEST(DesktopPointerPropertyBackend, TheResolutionIsLibinputsBeliefAndOnlyItsOwnValueCanBeWritten) {
    Machine machine;
    auto desktop = std::make_shared<FakeDesktop>(DesktopPointerSettings::Desktop::x11, false);
    desktop->listed = {{"ours", "Logitech G502 X", 0x046D, 0xC099, machine.node("event6")}};
    DesktopPointerPropertyBackend backend(desktop, machine.options());
    const std::uint64_t id = 0x100000009;
    const auto key = PointerHardwareTuning::resolutionKey;
    EXPECT_EQ(backend.readNumber(key, id), 1000 * 65536) << "no MOUSE_DPI: libinput's 1000";
    machine.write("udev/c13:70", "I:123\nE:ID_INPUT_MOUSE=1\nE:MOUSE_DPI=800@1000 *1600@1000 3200@1000\n");
    EXPECT_EQ(backend.readNumber(key, id), 1600 * 65536);
    EXPECT_EQ(backend.writeNumber(key, 1600 * 65536, id), Write::eventSystem) << "putting back what is there";
    EXPECT_EQ(backend.writeNumber(key, 2400 * 65536, id), Write::refused);
    EXPECT_EQ(backend.readNumber(key, id), 1600 * 65536);

    const std::vector<std::pair<std::string_view, std::optional<std::int64_t>>> figures = {
        {"1600", 1600}, {"800@125 *1000@500 2000", 1000}, {"400@125 800@125", 800}, {"  *900@1000", 900},
        {"", std::nullopt}, {"abc", std::nullopt}, {"800@0", std::nullopt}, {"-5", std::nullopt}};
    for (const auto& [text, dpi] : figures) EXPECT_EQ(DesktopPointerPropertyBackend::mouseDPI(text), dpi) << text;
}

// The X server tells of every device it adds; only a new pointer of
// Ravolet's starts afresh, so nothing else sets the tuning again over a value
// the user set meanwhile.
TEST(DesktopPointerPropertyBackend, OnlyANewPointerOfRavoletsIsAServiceThatStartsAfresh) {
    Machine machine;
    auto desktop = std::make_shared<FakeDesktop>(DesktopPointerSettings::Desktop::x11, false);
    DesktopPointerPropertyBackend backend(desktop, machine.options());
    int added = 0;
    auto watch = backend.observeServicesAdded([&] { ++added; });
    ASSERT_TRUE(desktop->pointerAdded);
    desktop->pointerAdded(); // a keyboard, say: the same pointers as before
    EXPECT_EQ(added, 0);
    machine.device("sys/devices/virtual/input/input11", "event8", "046d", "c099", "Logitech G502 X",
                   "ravolet/virtual-pointer", "13:72");
    desktop->pointerAdded();
    EXPECT_EQ(added, 1);
    desktop->pointerAdded();
    EXPECT_EQ(added, 1) << "seen already";
}

// A run that ended with the tuning in force left its capture behind. Where
// the desktop keeps the setting by identity, the next run puts it back
// through whatever device of the identity the desktop lists (Ravolet's new
// pointer, which KWin lists only a moment later, or the mouse), judges by
// the setting itself whether it is still Ravolet's flat one, and with no
// device listed keeps the capture until one is.
TEST(DesktopPointerPropertyBackend, AStrandedCaptureGoesBackByTheIdentitysSettingAndWaitsForADeviceOfIt) {
    using D = DesktopPointerSettings::Desktop;
    const std::int64_t users = PointerAccelSetting::adaptive(-0.25).code();
    const std::int64_t changedSince = PointerAccelSetting::adaptive(0.5).code();
    const std::int64_t flat = PointerAccelSetting::offCode;
    struct Row {
        const char* name;
        D desktop;
        bool namesNodes;
        std::vector<const char*> listedAtStart; // "ours", "real"
        std::int64_t settingAtStart;
        bool backAtOnce;
        std::int64_t settingAfter;
    };
    const std::vector<Row> rows = {
        {"sway, Ravolet's pointer listed", D::sway, false, {"ours", "real"}, flat, true, users},
        {"sway, only the mouse listed", D::sway, false, {"real"}, flat, true, users},
        {"KWin, only the mouse listed", D::kwin, true, {"real"}, flat, true, users},
        {"KWin, nothing listed yet", D::kwin, true, {}, flat, false, users},
        {"sway, nothing listed yet", D::sway, false, {}, flat, false, users},
        {"KWin, changed since in the desktop's settings", D::kwin, true, {"ours", "real"}, changedSince, true, changedSince},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Machine machine;
        // udev's hwdb gives the mouse its figure, and Ravolet's pointer none:
        // the resolution read through one differs from the other's.
        machine.write("udev/c13:68", "I:1\nE:ID_INPUT_MOUSE=1\nE:MOUSE_DPI=*1600@1000\n");
        auto desktop = std::make_shared<FakeDesktop>(row.desktop, true);
        DesktopPointer real = realMouse, ours{"ours", "Logitech G502 X", 0x046D, 0xC099, ""};
        if (row.namesNodes) {
            real.eventNode = machine.node("event4");
            ours.eventNode = machine.node("event6");
        }
        const auto listing = [&](const std::vector<const char*>& names) {
            std::vector<DesktopPointer> pointers{keyd};
            for (const std::string name : names) pointers.push_back(name == "ours" ? ours : real);
            return pointers;
        };
        auto files = std::make_shared<InMemoryFileSystem>();
        const auto tuner = [&] {
            return std::make_unique<PointerHardwareTuning>(
                std::make_shared<DesktopPointerPropertyBackend>(desktop, machine.options()),
                std::make_shared<InMemoryKeyValueStore>(), std::nullopt, std::vector{HIDPPDeviceMatch::g502X},
                std::make_shared<SimulatedClock>(), files);
        };
        const std::string setting = desktop->keyOf(ours);
        desktop->listed = listing({"ours", "real"});
        desktop->settings[setting] = users;
        auto crashed = tuner();
        crashed->request({true, 1600});
        ASSERT_EQ(desktop->settings[setting], flat);
        crashed.reset(); // ended without a restore, as a kill does

        desktop->listed = listing(row.listedAtStart);
        desktop->settings[setting] = row.settingAtStart;
        auto next = tuner();
        const auto& s = next->status();
        EXPECT_TRUE(s.recoveredStrandedCapture);
        EXPECT_FALSE(s.restoreFailed);
        EXPECT_EQ(s.lastError, std::nullopt);
        EXPECT_EQ(s.restorePending, !row.backAtOnce);
        EXPECT_EQ(next->persistedCapture().has_value(), !row.backAtOnce) << "kept until it is back";
        if (row.backAtOnce) {
            EXPECT_EQ(desktop->settings[setting], row.settingAfter);
            continue;
        }
        EXPECT_EQ(desktop->settings[setting], flat);
        // The desktop lists the new pointer, and the tuning asked for takes
        // the earlier run's originals as its own: never the flat value.
        desktop->listed = listing({"ours"});
        next->request({true, 1600});
        const auto taken = next->status();
        EXPECT_TRUE(taken.isApplied);
        EXPECT_FALSE(taken.restorePending);
        ASSERT_TRUE(taken.capture);
        EXPECT_EQ(taken.capture->acceleration, users);
        next->restore(PointerTuningRestoreReason::engineStopped);
        EXPECT_EQ(desktop->settings[setting], row.settingAfter);
        EXPECT_FALSE(next->persistedCapture());
    }
}

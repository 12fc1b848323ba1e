// Pointer tuning against the real X server: Xorg with the dummy video driver
// and xf86-input-libinput, reading the fake G502 X's motion from Ravolet's
// virtual pointer as it would on a desktop. The cursor is the measure.

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include "Platform/Linux/Desktop/X11PointerSettings.hpp"
#include "Platform/Linux/X11Connection.hpp"
#include "desktop/DesktopTuningTest.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;
namespace pf = platform;

constexpr const char* display = ":0";
constexpr const char* xorgBinary = "/usr/lib/xorg/Xorg";

// A wide screen, so that no measured run reaches its edge; and the user's
// own setting for the mouse, by its name, which must hold for Ravolet's
// pointer too.
constexpr const char* xorgConf = R"(Section "Module"
  Disable "glx"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 131072
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0 - 1000.0
  VertRefresh 5.0 - 200.0
  Modeline "3840x2160" 533.25 3840 3888 3920 4000 2160 2163 2168 2222 +hsync -vsync
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes "3840x2160"
  EndSubSection
EndSection
Section "InputClass"
  Identifier "the user's left-handed G502 X"
  MatchProduct "Logitech G502 X"
  MatchIsPointer "on"
  Option "LeftHanded" "on"
EndSection
)";

class XServer {
public:
    static XServer* start() {
        if (!std::filesystem::exists(xorgBinary) || !startUdev()) return nullptr;
        std::filesystem::create_directories("/var/lib/xkb");
        std::ofstream("/tmp/xorg.conf") << xorgConf;
        auto server = std::unique_ptr<XServer>(new XServer);
        server->process_ = std::make_unique<Process>(Process::Options{
            {xorgBinary, display, "-config", "/tmp/xorg.conf", "-configdir", "/usr/share/X11/xorg.conf.d", "-logfile",
             "/tmp/Xorg.log", "-nolisten", "tcp", "-noreset", "-novtswitch", "vt1"},
            {"PATH=/usr/bin:/usr/sbin:/bin", "HOME=/tmp"},
            "/tmp/Xorg.out",
            std::nullopt,
            {}});
        const bool up = waitFor(
            [&] {
                xcb_connection_t* c = pf::connectToXServer(display, nullptr);
                if (xcb_connection_has_error(c)) {
                    xcb_disconnect(c);
                    return false;
                }
                server->connection_ = c;
                return true;
            },
            20s);
        if (!up) {
            std::cerr << fileText("/tmp/Xorg.log") << fileText("/tmp/Xorg.out");
            return nullptr;
        }
        server->root_ = xcb_setup_roots_iterator(xcb_get_setup(server->connection_)).data->root;
        return server.release();
    }
    ~XServer() {
        if (connection_) xcb_disconnect(connection_);
    }

    double cursorX() const {
        auto* reply = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
        const double x = reply ? reply->root_x : -1;
        std::free(reply);
        return x;
    }
    std::uint16_t buttons() const {
        auto* reply = xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
        const std::uint16_t mask = reply ? reply->mask : 0;
        std::free(reply);
        return mask;
    }
    void warp(int x, int y) const {
        xcb_warp_pointer(connection_, XCB_NONE, root_, 0, 0, 0, 0, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
        xcb_aux_sync();
    }

private:
    XServer() = default;
    void xcb_aux_sync() const { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    std::unique_ptr<Process> process_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

XServer* server = nullptr;

class XorgPointerTuning : public DesktopTuningTest {
protected:
    XorgPointerTuning() : DesktopTuningTest("/tmp/x-pointer-capture.json") {}
    static void SetUpTestSuite() { server = XServer::start(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server) GTEST_SKIP() << "no X server to run (xserver-xorg-core was not copied into the VM)";
        settings = pf::X11PointerSettings::connect(display);
        ASSERT_TRUE(settings);
        makeTuner(pf::X11PointerSettings::connect(display));
        ASSERT_TRUE(ok(mouse.plugIn()));
    }
    double cursorX() const override { return server->cursorX(); }
    void placeCursor(EngineOnKernel&) override { server->warp(50, 300); }
    std::string describeDesktop() const override {
        std::string text = "the X server lists";
        for (const auto& pointer : settings->pointers()) text += " [" + pointer.handle + " " + pointer.name + " " + pointer.eventNode + "]";
        return text;
    }

    // Ravolet's pointer as the X server lists it.
    std::optional<pf::DesktopPointer> ours(const EngineOnKernel& rig) {
        for (auto& pointer : settings->pointers())
            if (pointer.eventNode == rig.events->virtualPointerNode()) return pointer;
        return std::nullopt;
    }
    std::optional<std::int64_t> profileOf(const EngineOnKernel& rig) {
        const auto pointer = ours(rig);
        return pointer ? settings->readAcceleration(*pointer, pf::X11PointerSettings::libinputProfileKey) : std::nullopt;
    }

    std::unique_ptr<pf::X11PointerSettings> settings;
};

TEST_F(XorgPointerTuning, TheCursorTravelsExactlyWhatRavoletEmittedWhileTuningIsOnAndLibinputsCurveShowsWhenOff) {
    EngineOnKernel rig;
    ASSERT_TRUE(startEngine(rig));
    const auto original = pf::PointerAccelSetting::adaptive(0).code();
    EXPECT_EQ(tuner->status().capture->acceleration, original) << "the server's own setting, captured";
    EXPECT_EQ(tuner->status().capture->accelerationKey, pf::X11PointerSettings::libinputProfileKey);
    EXPECT_EQ(profileOf(rig), pf::PointerAccelSetting::offCode);

    const Travel on = run(rig);
    EXPECT_GT(on.emitted, 150) << "Ravolet's curve speeds 10 counts a millisecond up";
    EXPECT_EQ(on.moved, static_cast<double>(on.emitted));

    tuner->setEnabled(false);
    EXPECT_EQ(profileOf(rig), original) << "switched off: put back";
    const Travel off = run(rig);
    EXPECT_GT(off.moved, 1.5 * static_cast<double>(off.emitted)) << "libinput's adaptive profile on top of Ravolet's curve";

    tuner->setEnabled(true);
    rig.pumpUntil([&] { return tuner->status().isApplied; }, 2s);
    const Travel again = run(rig);
    EXPECT_EQ(again.moved, static_cast<double>(again.emitted));
}

// The user sets the pointer's acceleration (xinput, a desktop's settings)
// while the tuning is in force: the property event tells, the tuning stands
// back, and the stop puts nothing over it.
TEST_F(XorgPointerTuning, APropertyChangedByAnotherClientIsHeardAndKeptAtStop) {
    EngineOnKernel rig;
    ASSERT_TRUE(startEngine(rig));
    ASSERT_EQ(profileOf(rig), pf::PointerAccelSetting::offCode);
    const auto users = pf::PointerAccelSetting::adaptive(0.5f).code();
    const auto changed = std::chrono::steady_clock::now();
    ASSERT_TRUE(settings->writeAcceleration(*ours(rig), pf::X11PointerSettings::libinputProfileKey, users));
    EXPECT_TRUE(rig.pumpUntil([&] { return tuner->status().changedOutside; }, 10s)) << "not heard";
    std::cout << "the change was heard "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - changed).count()
              << " ms after it was made\n";
    rig.stop();
    EXPECT_EQ(profileOf(rig), users) << "the stop put nothing over it";
    EXPECT_FALSE(std::filesystem::exists(captureFile));
}

TEST_F(XorgPointerTuning, ReplugsRestartsAndNewDevicesStayExactAndStoppingPutsBackWhatWasThere) {
    // The mouse unplugged and plugged in again: the tap takes it again, the
    // pointer stays; then the engine stopped and started again.
    replugStopAndRestart([this](EngineOnKernel& rig) {
        EXPECT_FALSE(tuner->status().isApplied);
        EXPECT_EQ(profileOf(rig), pf::PointerAccelSetting::adaptive(0).code()) << "stopping puts it back";
    });
    // New virtual devices (a new device to the server, which starts from its
    // own configuration): the server says so, and the new one is tuned.
    std::atomic<int> added = 0;
    auto watch = tuner->observeServicesAdded([&] { ++added; });
    EngineOnKernel rig;
    ASSERT_TRUE(waitFor([&] { return added > 0; }, 3s)) << "the input hierarchy's device-added event";
    ASSERT_TRUE(startEngine(rig));
    const Travel travel = run(rig);
    EXPECT_EQ(travel.moved, static_cast<double>(travel.emitted)) << "on new virtual devices";
    rig.stop();
    EXPECT_EQ(profileOf(rig), pf::PointerAccelSetting::adaptive(0).code());
    EXPECT_FALSE(std::filesystem::exists(captureFile)) << "nothing left to put back";
}

TEST_F(XorgPointerTuning, TheUsersLeftHandedSettingForTheMouseHoldsForRavoletsOutput) {
    EngineOnKernel rig;
    ASSERT_TRUE(startEngine(rig));
    rig.pump(200ms);
    ASSERT_TRUE(ok(mouse.press(0)));
    rig.pump(300ms);
    const std::uint16_t held = server->buttons();
    ASSERT_TRUE(ok(mouse.release(0)));
    rig.pump(300ms);
    EXPECT_TRUE(held & XCB_BUTTON_MASK_3) << "the left button is the right one for this user: mask " << held;
    EXPECT_FALSE(held & XCB_BUTTON_MASK_1);
}

} // namespace
} // namespace ravolet::testing

// Pointer tuning against KWin: kwin_wayland on its DRM backend (qemu's
// standard VGA through the bochs driver, drawn with QPainter), which opens
// its devices through logind, here a stand-in of the test's on a system bus
// of its own; KWin's D-Bus interface on a session bus of the test's. A
// full-screen window of the test's reports the cursor to the 1/256 pixel.
// KWin cannot be told to move the cursor, so runs go back and forth.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include "Platform/Linux/Desktop/KWinPointerSettings.hpp"
#include "desktop/DesktopTuningTest.hpp"

extern char** environ;

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;
namespace pf = platform;

constexpr const char* kwinBinary = "/usr/bin/kwin_wayland";
constexpr const char* dbusDaemon = "/usr/bin/dbus-daemon";
constexpr const char* runtime = "/tmp/kwin-runtime";
constexpr const char* systemBus = "unix:path=/run/dbus/system_bus_socket";
constexpr const char* sessionBus = "unix:path=/tmp/kwin-session-bus";
constexpr const char* captureFileOfKWin = "/tmp/kwin-pointer-capture.json";

// A bus that lets everyone own and call everything: the VM has no one else.
std::string busConfig(const char* type, const char* address) {
    return std::string("<busconfig><type>") + type + "</type><listen>" + address +
           "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/></policy></busconfig>\n";
}

class KWin {
public:
    static KWin* start() {
        const std::string standIn = besideThisTest("RavoletLogindStandIn");
        const std::string probe = besideThisTest("RavoletCursorProbe");
        for (const auto& needed : {std::string(kwinBinary), std::string(dbusDaemon), standIn, probe})
            if (!std::filesystem::exists(needed)) return nullptr;
        if (!startUdev()) return nullptr;
        auto kwin = std::unique_ptr<KWin>(new KWin);
        if (!waitFor([] { return std::filesystem::exists("/dev/dri/card0"); }, 10s)) return fail("the bochs display");

        std::filesystem::create_directories("/dev/shm");
        ::mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777");
        std::ofstream("/etc/machine-id") << "5241766f6c65744b57696e5465737400\n";
        std::filesystem::create_directories("/run/dbus");
        std::ofstream("/tmp/system-bus.conf") << busConfig("system", systemBus);
        std::ofstream("/tmp/session-bus.conf") << busConfig("session", sessionBus);
        for (const char* folder : {runtime, "/tmp/kwin-home"}) {
            std::filesystem::create_directories(folder);
            ::chmod(folder, 0700);
        }
        // Ravolet's side (the settings, the tuner) finds KWin's bus as a
        // program of the session would.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", sessionBus, 1);
        // And KWin's saved input settings, where it would find them.
        ::setenv("XDG_CONFIG_HOME", "/tmp/kwin-home/.config", 1);
        const std::vector<std::string> base{"PATH=/usr/bin:/usr/sbin", "HOME=/tmp/kwin-home",
                                            std::string("DBUS_SYSTEM_BUS_ADDRESS=") + systemBus,
                                            std::string("DBUS_SESSION_BUS_ADDRESS=") + sessionBus,
                                            std::string("XDG_RUNTIME_DIR=") + runtime};
        const auto daemon = [&](const char* config, const char* log) {
            return std::make_unique<Process>(Process::Options{
                {dbusDaemon, std::string("--config-file=") + config, "--nofork", "--nopidfile"}, base, log, std::nullopt, {}});
        };
        kwin->systemBus_ = daemon("/tmp/system-bus.conf", "/tmp/system-bus.log");
        kwin->sessionBus_ = daemon("/tmp/session-bus.conf", "/tmp/session-bus.log");
        if (!waitFor([] { return std::filesystem::exists("/run/dbus/system_bus_socket") &&
                                std::filesystem::exists("/tmp/kwin-session-bus"); },
                     10s))
            return fail("the buses");
        kwin->logind_ = std::make_unique<Process>(Process::Options{{standIn}, base, "/tmp/logind.log", std::nullopt, {}});
        if (!waitFor([] { return fileText("/tmp/logind.log").find("ready") != std::string::npos; }, 10s))
            return fail("the logind stand-in");

        auto environment = base;
        environment.push_back("KWIN_COMPOSE=Q"); // Mesa has nothing for bochs
        kwin->kwin_ = std::make_unique<Process>(Process::Options{
            {kwinBinary, "--drm", "--socket", "wayland-0", "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"},
            environment,
            "/tmp/kwin.log",
            std::nullopt,
            {}});
        if (!waitFor([&] { return (kwin->settings_ = pf::KWinPointerSettings::connect()) != nullptr; }, 60s))
            return fail("KWin");
        kwin->probe_ = std::make_unique<Process>(Process::Options{
            {probe}, {std::string("XDG_RUNTIME_DIR=") + runtime, "WAYLAND_DISPLAY=wayland-0"}, "/tmp/probe.log", std::nullopt, {}});
        if (!waitFor([] { return probeReport(fileText("/tmp/probe.log")).width > 0; }, 20s)) return fail("the probe");
        return kwin.release();
    }

    pf::KWinPointerSettings& settings() const { return *settings_; }
    pid_t pid() const { return kwin_->pid(); }
    static ProbeReport probe() { return probeReport(fileText("/tmp/probe.log")); }
    static std::string log() { return fileText("/tmp/kwin.log"); }

private:
    KWin() = default;
    static KWin* fail(const char* what) {
        std::cerr << what << " did not come up\n"
                  << fileText("/tmp/system-bus.log") << fileText("/tmp/session-bus.log") << fileText("/tmp/logind.log")
                  << log() << fileText("/tmp/probe.log");
        return nullptr;
    }

    std::unique_ptr<Process> systemBus_;
    std::unique_ptr<Process> sessionBus_;
    std::unique_ptr<Process> logind_;
    std::unique_ptr<Process> kwin_;
    std::unique_ptr<Process> probe_;
    std::unique_ptr<pf::KWinPointerSettings> settings_;
};

KWin* kwin = nullptr;

class KWinPointerTuning : public DesktopTuningTest {
protected:
    KWinPointerTuning() : DesktopTuningTest(captureFileOfKWin) {}
    static void SetUpTestSuite() { kwin = KWin::start(); }
    static void TearDownTestSuite() {
        delete kwin;
        kwin = nullptr;
    }
    void SetUp() override {
        if (!kwin) GTEST_SKIP() << "no KWin to run (kwin-wayland, dbus-daemon or the test's helpers were not copied into the VM)";
        makeTuner(pf::KWinPointerSettings::connect());
        ASSERT_TRUE(ok(mouse.plugIn()));
    }
    double cursorX() const override { return KWin::probe().cursorX; }
    // KWin cannot be told where to put the cursor: the mouse pushes it
    // against the screen's left edge.
    void placeCursor(EngineOnKernel& rig) override {
        const bool there = rig.pumpUntil(
            [&] {
                (void)mouse.move(-100, 0);
                rig.pump(20ms);
                return cursorX() == 0;
            },
            10s);
        EXPECT_TRUE(there) << "the cursor stays at " << cursorX();
    }
    std::string describeDesktop() const override {
        std::string text = "KWin lists";
        for (const auto& pointer : kwin->settings().pointers())
            text += " [" + pointer.handle + " " + pointer.name + " " + std::to_string(pointer.vendorID) + ":" +
                    std::to_string(pointer.productID) + "]";
        return text + "\n" + KWin::log();
    }

    // The fake G502 X's own pointer node.
    std::string mouseNode() const {
        const auto device = mouse.kernelDevice(0);
        if (device)
            for (const auto& input : device->inputs)
                if (input.name == FakeG502X::name) return input.eventNode;
        return {};
    }
    // The device KWin reads from `node` ("/dev/input/event5"), and its setting.
    static std::optional<pf::DesktopPointer> listed(const std::string& node) {
        for (auto& pointer : kwin->settings().pointers())
            if (pointer.eventNode == node) return pointer;
        return std::nullopt;
    }
    static std::optional<std::int64_t> setting(const std::string& node) {
        const auto pointer = listed(node);
        return pointer ? kwin->settings().readAcceleration(*pointer, pf::KWinPointerSettings::profileKey) : std::nullopt;
    }
};

TEST_F(KWinPointerTuning, TheCursorTravelsExactlyWhatRavoletEmittedWhileTuningIsOnAndLibinputsCurveShowsWhenOff) {
    EngineOnKernel rig;
    ASSERT_TRUE(startEngine(rig));
    const std::string ours = rig.events->virtualPointerNode();
    const auto original = pf::PointerAccelSetting::adaptive(0).code();
    EXPECT_EQ(tuner->status().capture->acceleration, original);
    EXPECT_EQ(setting(ours), pf::PointerAccelSetting::offCode);

    const Travel on = run(rig);
    EXPECT_GT(on.emitted, 150);
    EXPECT_EQ(on.moved, static_cast<double>(on.emitted));

    tuner->setEnabled(false);
    EXPECT_EQ(setting(ours), original) << "switched off: put back";
    const Travel off = run(rig);
    EXPECT_GT(off.moved, 1.5 * static_cast<double>(off.emitted)) << "libinput's adaptive profile on top of Ravolet's curve";
    tuner->setEnabled(true);
}

TEST_F(KWinPointerTuning, ReplugsAndRestartsStayExactAndStoppingPutsBackWhatWasThere) {
    replugStopAndRestart([this](EngineOnKernel& rig) {
        const auto original = pf::PointerAccelSetting::adaptive(0).code();
        EXPECT_EQ(setting(rig.events->virtualPointerNode()), original) << "stopping puts it back";
        EXPECT_EQ(setting(mouseNode()), original)
            << "and for the mouse itself, which KWin gave the setting it held when the mouse came back";
    });
}

// Not a test of its own: the process the kill -9 test starts (GDBus in a
// process forked from one that used it would wait on a thread the fork did
// not copy). Like the program, it makes Ravolet's pointer, asks for the
// tuning until KWin lists the pointer and it takes, and waits to be killed.
TEST(KWinPointerTuningHelper, AppliesAndWaitsToBeKilled) {
    applyUntilKilled(pf::KWinPointerSettings::connect(), captureFileOfKWin);
}

// Not a test of its own: the guard the kill -9 test starts.
TEST(KWinPointerTuningHelper, GuardsTheSetting) {
    guardThisTest([] { return pf::KWinPointerSettings::connect(); }, captureFileOfKWin);
}

// Killed with the tuning in force, the guard the program starts puts the
// user's setting back within a second, through the mouse (Ravolet's pointer
// went with the process), and KWin saves it; with no guard, the next start
// does at once through the mouse, though KWin lists its new pointer only a
// moment later; with neither listed the capture is kept until one is.
TEST_F(KWinPointerTuning, AfterAKillTheUsersSettingIsBackWithinASecondAndWithoutTheGuardAtTheNextStart) {
    // The user's own speed for the mouse, to be put back exactly.
    const auto users = pf::PointerAccelSetting::adaptive(-0.25).code();
    ASSERT_TRUE(waitFor([&] { return listed(mouseNode()).has_value(); }, 5s)) << describeDesktop();
    ASSERT_TRUE(kwin->settings().writeAcceleration(*listed(mouseNode()), pf::KWinPointerSettings::profileKey, users));

    std::vector<std::string> environment{std::string(applyAndWait) + "=1"};
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    const auto applyingProcess = [&] {
        return std::make_unique<Process>(Process::Options{
            {std::filesystem::read_symlink("/proc/self/exe").string(),
             "--gtest_filter=KWinPointerTuningHelper.AppliesAndWaitsToBeKilled"},
            environment, "/tmp/applying.log", std::nullopt, {}});
    };
    const auto applied = [&] {
        return waitFor(
            [&] { return std::filesystem::exists(captureFile) && setting(mouseNode()) == pf::PointerAccelSetting::offCode; },
            30s);
    };
    auto applying = applyingProcess();
    ASSERT_TRUE(applied()) << "the other process did not apply the tuning\n" << fileText("/tmp/applying.log");
    const auto guard = startGuard(applying->pid(), "KWinPointerTuningHelper.GuardsTheSetting", "/tmp/guard.log");
    std::this_thread::sleep_for(500ms); // the guard is waiting
    applying->stop(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return setting(mouseNode()) == users; }, 10s)) << "the guard did not put it back\n" << fileText("/tmp/guard.log");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed);
    std::cout << "the user's setting was back " << took.count() << " ms after the kill\n";
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(captureFile); }, 2s));
    // What KWin saved for the mouse is the user's own again: profile adaptive (2), speed -0.25.
    const std::string saved = fileText("/tmp/kwin-home/.config/kcminputrc");
    EXPECT_TRUE(saved.contains("PointerAccelerationProfile=2\n") && saved.contains("PointerAcceleration=-0.250\n")) << saved;

    // No guard. The next run: its own pointer, which KWin lists only a
    // moment later, and the tuner, which finds the capture at once.
    applying = applyingProcess();
    ASSERT_TRUE(applied()) << fileText("/tmp/applying.log");
    applying->stop(SIGKILL);
    EXPECT_EQ(setting(mouseNode()), pf::PointerAccelSetting::offCode) << "left behind by the killed process";
    {
        auto events = std::make_shared<pf::LinuxEventSystem>(pf::LinuxEventSystem::Options{});
        ASSERT_FALSE(events->outputError());
        const auto next = tunerOver(pf::KWinPointerSettings::connect());
        EXPECT_TRUE(next->status().recoveredStrandedCapture);
        EXPECT_FALSE(next->status().restoreFailed);
        EXPECT_FALSE(next->status().restorePending);
        EXPECT_EQ(setting(mouseNode()), users) << "the user's own setting, exactly";
        EXPECT_FALSE(std::filesystem::exists(captureFile));
        EXPECT_TRUE(waitFor([&] { return setting(events->virtualPointerNode()) == users; }, 5s))
            << "and KWin hands it to the new pointer";
    }

    // Again, and at the next start neither a pointer of Ravolet's nor the mouse listed.
    applying = applyingProcess();
    ASSERT_TRUE(applied()) << fileText("/tmp/applying.log");
    applying->stop(SIGKILL);
    mouse.unplug();
    const auto next = tunerOver(pf::KWinPointerSettings::connect());
    EXPECT_TRUE(next->status().restorePending);
    EXPECT_FALSE(next->status().restoreFailed);
    EXPECT_TRUE(std::filesystem::exists(captureFile)) << "kept while nothing of the mouse is listed";
    ASSERT_TRUE(ok(mouse.plugIn()));
    EXPECT_TRUE(waitFor(
        [&] {
            next->deviceBecameReady();
            return setting(mouseNode()) == users;
        },
        10s));
    EXPECT_FALSE(std::filesystem::exists(captureFile));
    kwin->settings().writeAcceleration(*listed(mouseNode()), pf::KWinPointerSettings::profileKey,
                                       pf::PointerAccelSetting::adaptive(0).code());
}

// The user sets the mouse's acceleration in KWin's settings while the tuning
// is in force: Ravolet hears of it from KWin's saved settings at once, leaves
// it, and the stop puts nothing over it.
TEST_F(KWinPointerTuning, ASettingChangedInKWinIsSeenAndKeptAtStop) {
    EngineOnKernel rig;
    ASSERT_TRUE(startEngine(rig));
    const std::string ours = rig.events->virtualPointerNode();
    ASSERT_EQ(setting(ours), pf::PointerAccelSetting::offCode);
    const auto users = pf::PointerAccelSetting::adaptive(0.5).code();
    const auto changed = std::chrono::steady_clock::now();
    // As KWin's mouse settings page does: through the device's properties.
    ASSERT_TRUE(kwin->settings().writeAcceleration(*listed(ours), pf::KWinPointerSettings::profileKey, users));
    EXPECT_TRUE(rig.pumpUntil([&] { return tuner->status().changedOutside; }, 10s)) << "not heard";
    std::cout << "the change was heard "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - changed).count()
              << " ms after it was made\n";
    EXPECT_FALSE(tuner->status().isApplied);
    rig.stop();
    EXPECT_EQ(setting(ours), users) << "the stop put nothing over it";
    EXPECT_EQ(setting(mouseNode()), users);
    EXPECT_FALSE(std::filesystem::exists(captureFile));
    kwin->settings().writeAcceleration(*listed(mouseNode()), pf::KWinPointerSettings::profileKey,
                                       pf::PointerAccelSetting::adaptive(0).code());
}

TEST_F(KWinPointerTuning, AStoppedKWinNeverHoldsUpTheWindowAndTuningCompletesOnceItGoesOn) {
    EngineOnKernel rig;
    makeQueuedTuner(pf::KWinPointerSettings::connect(), rig);
    // The setting for the mouse's identity, as the mouse itself holds it.
    stopTheDesktopWhileTuning(rig, kwin->pid(), [this] { return setting(mouseNode()); },
                              pf::PointerAccelSetting::adaptive(0).code());
}

} // namespace
} // namespace ravolet::testing

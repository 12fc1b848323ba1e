// Pointer tuning against sway: sway 1.7 as an ordinary user with seatd and
// its libinput backend, reading the fake G502 X's motion from Ravolet's
// virtual pointer. A full-screen window of the test's reports the cursor to
// the 1/256 pixel.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <glob.h>

#include "Platform/Linux/Desktop/SwayPointerSettings.hpp"
#include "desktop/DesktopTuningTest.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;
namespace pf = platform;

constexpr uid_t user = 1000;
constexpr gid_t videoGroup = 44;
constexpr const char* runtime = "/tmp/xdg-1000";
constexpr const char* identifier = "1133:49305:Logitech_G502_X";

std::string firstMatch(const std::string& pattern) {
    glob_t found{};
    std::string path;
    if (::glob(pattern.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0) path = found.gl_pathv[0];
    ::globfree(&found);
    return path;
}

class Sway {
public:
    static Sway* start() {
        const std::string probe = besideThisTest("RavoletCursorProbe");
        if (!std::filesystem::exists("/usr/bin/sway") || !std::filesystem::exists("/usr/sbin/seatd") ||
            !std::filesystem::exists(probe) || !startUdev())
            return nullptr;
        // sway refuses to run as root; its user needs to reach every file.
        ::chmod("/", 0755);
        // Shared memory for its buffers and keymaps.
        std::filesystem::create_directories("/dev/shm");
        ::mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777");
        std::ofstream("/etc/passwd", std::ios::app) << "ravolet:x:1000:1000::/tmp/home:/bin/sh\n";
        std::ofstream("/etc/group", std::ios::app) << "video:x:44:ravolet\nravolet:x:1000:\n";
        for (const char* folder : {runtime, "/tmp/home"}) {
            std::filesystem::create_directories(folder);
            ::chmod(folder, 0700);
            (void)::chown(folder, user, user);
        }
        std::ofstream("/tmp/sway.conf") << "output * mode 1920x1080 position 0 0\ndefault_border none\nxwayland disable\n";
        auto sway = std::unique_ptr<Sway>(new Sway);
        sway->seatd_ = std::make_unique<Process>(
            Process::Options{{"/usr/sbin/seatd", "-g", "video"}, {"PATH=/usr/bin:/usr/sbin"}, "/tmp/seatd.log", std::nullopt, {}});
        if (!waitFor([] { return std::filesystem::exists("/run/seatd.sock"); }, 5s)) return fail("seatd");
        const std::vector<std::string> environment{std::string("XDG_RUNTIME_DIR=") + runtime, "HOME=/tmp/home",
                                                   "PATH=/usr/bin:/usr/sbin", "LIBSEAT_BACKEND=seatd",
                                                   "WLR_BACKENDS=headless,libinput", "WLR_RENDERER=pixman",
                                                   "WLR_LIBINPUT_NO_DEVICES=1", "WLR_HEADLESS_OUTPUTS=1"};
        sway->sway_ = std::make_unique<Process>(
            Process::Options{{"/usr/bin/sway", "-c", "/tmp/sway.conf"}, environment, "/tmp/sway.log", user, {user, videoGroup}});
        if (!waitFor([] { return !firstMatch(std::string(runtime) + "/sway-ipc.*.sock").empty(); }, 20s)) return fail("sway");
        sway->socket_ = firstMatch(std::string(runtime) + "/sway-ipc.*.sock");
        std::string display = firstMatch(std::string(runtime) + "/wayland-[0-9]");
        sway->ipc_ = std::make_unique<pf::SwayPointerSettings>(sway->socket_);
        if (!waitFor([&] { return sway->ipc_->ask(100, "").has_value(); }, 5s)) return fail("sway's IPC");
        sway->probe_ = std::make_unique<Process>(Process::Options{
            {probe},
            {std::string("XDG_RUNTIME_DIR=") + runtime, "WAYLAND_DISPLAY=" + std::filesystem::path(display).filename().string()},
            "/tmp/probe.log",
            user,
            {user}});
        if (!waitFor([] { return fileText("/tmp/probe.log").find("ready") != std::string::npos; }, 10s)) return fail("the probe");
        return sway.release();
    }

    // The cursor's x as the window last heard it, in pixels (exact to 1/256).
    static double cursorX() { return probeReport(fileText("/tmp/probe.log")).cursorX; }
    void warp(int x, int y) const { ipc_->ask(0, "seat seat0 cursor set " + std::to_string(x) + " " + std::to_string(y)); }
    const std::string& socket() const { return socket_; }
    pf::SwayPointerSettings& ipc() const { return *ipc_; }

private:
    Sway() = default;
    static Sway* fail(const char* what) {
        std::cerr << what << " did not come up\n"
                  << fileText("/tmp/seatd.log") << fileText("/tmp/sway.log") << fileText("/tmp/probe.log");
        return nullptr;
    }

    std::unique_ptr<Process> seatd_;
    std::unique_ptr<Process> sway_;
    std::unique_ptr<Process> probe_;
    std::unique_ptr<pf::SwayPointerSettings> ipc_;
    std::string socket_;
};

Sway* sway = nullptr;

class SwayPointerTuning : public DesktopTuningTest {
protected:
    SwayPointerTuning() : DesktopTuningTest("/tmp/sway-pointer-capture.json") {}
    static void SetUpTestSuite() { sway = Sway::start(); }
    static void TearDownTestSuite() {
        delete sway;
        sway = nullptr;
    }
    void SetUp() override {
        if (!sway) GTEST_SKIP() << "no sway to run (sway, seatd or the cursor probe were not copied into the VM)";
        makeTuner(std::make_shared<pf::SwayPointerSettings>(sway->socket()));
        ASSERT_TRUE(ok(mouse.plugIn()));
    }
    double cursorX() const override { return Sway::cursorX(); }
    void placeCursor(EngineOnKernel&) override { sway->warp(50, 300); }
    std::string describeDesktop() const override {
        return "sway lists " + sway->ipc().ask(100, "").value_or(nlohmann::json()).dump() + "\n" + fileText("/tmp/sway.log");
    }

    // The mouse's setting as sway holds it.
    static std::optional<std::int64_t> setting() {
        return sway->ipc().readAcceleration({identifier, "", 0, 0, ""}, pf::SwayPointerSettings::profileKey);
    }
};

TEST_F(SwayPointerTuning, TheCursorTravelsExactlyWhatRavoletEmittedWhileTuningIsOnAndLibinputsCurveShowsWhenOff) {
    EngineOnKernel rig;
    ASSERT_TRUE(startEngine(rig));
    const auto original = pf::PointerAccelSetting::adaptive(0).code();
    EXPECT_EQ(tuner->status().capture->acceleration, original);
    EXPECT_EQ(setting(), pf::PointerAccelSetting::offCode);

    const Travel on = run(rig);
    EXPECT_GT(on.emitted, 150);
    EXPECT_EQ(on.moved, static_cast<double>(on.emitted));

    tuner->setEnabled(false);
    EXPECT_EQ(setting(), original) << "switched off: put back";
    const Travel off = run(rig);
    EXPECT_GT(off.moved, 1.5 * static_cast<double>(off.emitted)) << "libinput's adaptive profile on top of Ravolet's curve";
    tuner->setEnabled(true);
}

TEST_F(SwayPointerTuning, ReplugsAndRestartsStayExactAndStoppingPutsBackWhatWasThere) {
    replugStopAndRestart(
        [](EngineOnKernel&) { EXPECT_EQ(setting(), pf::PointerAccelSetting::adaptive(0).code()) << "stopping puts it back"; });
}

TEST_F(SwayPointerTuning, TheCaptureFilePutsTheSettingBackAfterTheProcessWasKilled) {
    // Ravolet's pointer, and a user's own speed to put back exactly.
    auto events = std::make_shared<pf::LinuxEventSystem>(pf::LinuxEventSystem::Options{});
    ASSERT_FALSE(events->outputError());
    const pf::DesktopPointer mouseInSway{identifier, "", 0, 0, ""};
    const auto users = pf::PointerAccelSetting::adaptive(-0.25f).code();
    ASSERT_TRUE(waitFor([&] { return sway->ipc().writeAcceleration(mouseInSway, pf::SwayPointerSettings::profileKey, users); }, 3s));

    const pid_t child = ::fork();
    if (child == 0) {
        auto applying = tunerOver(std::make_shared<pf::SwayPointerSettings>(sway->socket()));
        applying->request(PointerTuningRequest(true, std::nullopt));
        ::pause();
        ::_exit(0);
    }
    ASSERT_TRUE(waitFor([&] { return setting() == pf::PointerAccelSetting::offCode; }, 10s));
    ASSERT_TRUE(std::filesystem::exists(captureFile));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(setting(), pf::PointerAccelSetting::offCode) << "left behind by the killed process";

    const auto next = tunerOver(std::make_shared<pf::SwayPointerSettings>(sway->socket()));
    EXPECT_TRUE(next->status().recoveredStrandedCapture);
    EXPECT_FALSE(next->status().restoreFailed);
    EXPECT_EQ(setting(), users) << "the user's own setting, exactly";
    EXPECT_FALSE(std::filesystem::exists(captureFile));
    sway->ipc().writeAcceleration(mouseInSway, pf::SwayPointerSettings::profileKey, pf::PointerAccelSetting::adaptive(0).code());
}

} // namespace
} // namespace ravolet::testing

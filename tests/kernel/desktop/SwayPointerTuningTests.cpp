// Pointer tuning against sway: sway 1.7 as an ordinary user with seatd and
// its libinput backend, reading the fake G502 X's motion from Ravolet's
// virtual pointer. A full-screen window of the test's reports the cursor to
// the 1/256 pixel.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <glob.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "Core/Config.hpp"
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
        // Where a program of the session (the guard, the other process) finds sway.
        ::setenv("SWAYSOCK", sway->socket_.c_str(), 1);
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
    pid_t pid() const { return sway_->pid(); }
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

#ifdef RAVOLET_PROGRAM
    // The program itself, as a user runs it in sway (drawn nowhere: Qt's
    // offscreen platform, as nothing here looks at its windows), on the fake
    // mouse, its settings in `home` (set up already, with these preferences
    // and settings), once sway lists the mouse with its own setting.
    static std::unique_ptr<Process> startProgram(const std::string& home, const std::string& preferences,
                                                 const Config& config = Config::defaultConfig()) {
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home + "/config/ravolet");
        std::filesystem::create_directories(home + "/runtime");
        ::chmod((home + "/runtime").c_str(), 0700);
        std::ofstream(home + "/config/ravolet/preferences.json") << preferences;
        std::ofstream(home + "/config/ravolet/config.json") << *config.encoded();
        EXPECT_TRUE(waitFor([] { return setting() == pf::PointerAccelSetting::adaptive(0).code(); }, 10s))
            << "sway does not list the mouse with its own setting";
        return std::make_unique<Process>(Process::Options{
            {RAVOLET_PROGRAM},
            {"PATH=/usr/bin:/usr/sbin:/bin", "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
             "XDG_RUNTIME_DIR=" + home + "/runtime", "QT_QPA_PLATFORM=offscreen", std::string("SWAYSOCK=") + sway->socket()},
            "/tmp/program.log",
            std::nullopt,
            {}});
    }
    // The program's guard, once it runs.
    static std::optional<pid_t> guardOf(const Process& program) {
        const std::string command =
            std::string(RAVOLET_PROGRAM) + '\0' + "--pointer-guard" + '\0' + std::to_string(program.pid()) + '\0';
        for (const auto& entry : std::filesystem::directory_iterator("/proc"))
            if (fileText(entry.path() / "cmdline") == command) return std::stoi(entry.path().filename().string());
        return std::nullopt;
    }
    static bool running(pid_t pid) {
        const std::string stat = fileText("/proc/" + std::to_string(pid) + "/stat");
        return !stat.empty() && stat.substr(stat.rfind(')') + 2, 1) != "Z";
    }
#endif
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


// Not a test of its own: the process the kill -9 test starts. Like the
// program, it makes Ravolet's pointer, asks for the tuning until it takes,
// and waits to be killed.
TEST(SwayPointerTuningHelper, AppliesAndWaitsToBeKilled) {
    applyUntilKilled(pf::SwayPointerSettings::connect(), "/tmp/sway-pointer-capture.json");
}

std::unique_ptr<Process> applyingProcess() {
    std::vector<std::string> environment{std::string(applyAndWait) + "=1"};
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    return std::make_unique<Process>(Process::Options{
        {std::filesystem::read_symlink("/proc/self/exe").string(), "--gtest_filter=SwayPointerTuningHelper.AppliesAndWaitsToBeKilled"},
        environment, "/tmp/applying.log", std::nullopt, {}});
}

// Not a test of its own: the guard the kill -9 test starts.
TEST(SwayPointerTuningHelper, GuardsTheSetting) {
    guardThisTest([] { return pf::SwayPointerSettings::connect(); }, "/tmp/sway-pointer-capture.json");
}

// Killed with the tuning in force, the guard the program starts puts the
// user's setting back within a second, through the mouse (Ravolet's pointer
// went with the process); with no guard, the next start does, and with
// neither pointer nor mouse listed it keeps the capture until the mouse is.
TEST_F(SwayPointerTuning, AfterAKillTheUsersSettingIsBackWithinASecondAndWithoutTheGuardAtTheNextStart) {
    const pf::DesktopPointer mouseInSway{identifier, "", 0, 0, ""};
    const auto users = pf::PointerAccelSetting::adaptive(-0.25f).code();
    ASSERT_TRUE(waitFor([&] { return sway->ipc().writeAcceleration(mouseInSway, pf::SwayPointerSettings::profileKey, users); }, 3s));

    auto child = applyingProcess();
    ASSERT_TRUE(waitFor([&] { return setting() == pf::PointerAccelSetting::offCode; }, 20s)) << fileText("/tmp/applying.log");
    ASSERT_TRUE(std::filesystem::exists(captureFile));
    const auto guard = startGuard(child->pid(), "SwayPointerTuningHelper.GuardsTheSetting", "/tmp/guard.log");
    std::this_thread::sleep_for(500ms); // the guard is waiting
    child->stop(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return setting() == users; }, 10s)) << "the guard did not put it back\n" << fileText("/tmp/guard.log");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed);
    std::cout << "the user's setting was back " << took.count() << " ms after the kill\n";
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(captureFile); }, 2s));

    // No guard, and at the next start neither a pointer of Ravolet's nor the mouse listed.
    child = applyingProcess();
    ASSERT_TRUE(waitFor([&] { return setting() == pf::PointerAccelSetting::offCode; }, 20s)) << fileText("/tmp/applying.log");
    child->stop(SIGKILL);
    mouse.unplug();
    const auto next = tunerOver(std::make_shared<pf::SwayPointerSettings>(sway->socket()));
    EXPECT_TRUE(next->status().recoveredStrandedCapture);
    EXPECT_TRUE(next->status().restorePending);
    EXPECT_FALSE(next->status().restoreFailed);
    EXPECT_TRUE(std::filesystem::exists(captureFile)) << "kept while nothing of the mouse is listed";
    ASSERT_TRUE(ok(mouse.plugIn()));
    EXPECT_TRUE(waitFor(
        [&] {
            next->deviceBecameReady();
            return setting() == users;
        },
        5s))
        << "the user's own setting, exactly";
    EXPECT_FALSE(std::filesystem::exists(captureFile));
    sway->ipc().writeAcceleration(mouseInSway, pf::SwayPointerSettings::profileKey, pf::PointerAccelSetting::adaptive(0).code());
}

// The user sets the mouse's acceleration in sway while the tuning is in
// force, or sway reloads its configuration: Ravolet hears of it at once,
// leaves it, and the stop puts nothing over it.
TEST_F(SwayPointerTuning, ASettingChangedInSwayOrByAReloadIsSeenAndKeptAtStop) {
    const pf::DesktopPointer mouseInSway{identifier, "", 0, 0, ""};
    const auto adaptive = pf::PointerAccelSetting::adaptive(0).code();
    const auto users = pf::PointerAccelSetting::adaptive(0.5).code();
    for (const bool reload : {false, true}) {
        SCOPED_TRACE(reload ? "swaymsg reload" : "input … pointer_accel 0.5");
        makeTuner(std::make_shared<pf::SwayPointerSettings>(sway->socket()));
        EngineOnKernel rig;
        ASSERT_TRUE(startEngine(rig));
        ASSERT_EQ(setting(), pf::PointerAccelSetting::offCode);
        const auto changed = std::chrono::steady_clock::now();
        // sway answers a reload only once it has read its configuration again.
        if (reload)
            (void)sway->ipc().ask(0, "reload");
        else
            ASSERT_TRUE(sway->ipc().writeAcceleration(mouseInSway, pf::SwayPointerSettings::profileKey, users));
        EXPECT_TRUE(rig.pumpUntil([&] { return tuner->status().changedOutside; }, 10s)) << "not heard";
        std::cout << "the change was heard "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - changed).count()
                  << " ms after it was made\n";
        EXPECT_FALSE(tuner->status().isApplied);
        rig.pump(500ms); // the engine's refreshes ask for the tuning again: it stays
        const auto expected = reload ? adaptive : users;
        EXPECT_EQ(setting(), expected);
        rig.stop();
        EXPECT_EQ(setting(), expected) << "the stop put nothing over it";
        EXPECT_FALSE(std::filesystem::exists(captureFile));
        sway->ipc().writeAcceleration(mouseInSway, pf::SwayPointerSettings::profileKey, adaptive);
    }
}

// The program itself, as a user runs it in sway (drawn nowhere: Qt's
// offscreen platform, as nothing here looks at its windows), on the fake
// mouse: it sets the mouse flat, and its back button starts a program that
// runs on; asked to quit as the session asks it, it puts the user's setting
// back, and it and its guard are gone within 5 s, while the program the
// button started still runs.
TEST_F(SwayPointerTuning, QuittingTheProgramPutsTheDesktopsAccelerationBackAndItAndItsGuardAreGone) {
#ifndef RAVOLET_PROGRAM
    GTEST_SKIP() << "the program was not built";
#else
    const std::string home = "/tmp/program-home";
    const std::string launchedPID = "/tmp/launched.pid";
    Config config = Config::defaultConfig();
    config.profiles.front().buttons.push_back(
        ButtonBinding{3, {}, Action::runShortcut("sh -c 'echo $$ > " + launchedPID + "; exec sleep 60'"), true});
    const std::filesystem::path capture = home + "/config/ravolet/pointer-hardware-capture.json";
    const auto started = startProgram(home, "{\"onboarding.completed\": true}\n", config);
    Process& program = *started;
    ASSERT_TRUE(waitFor([&] { return setting() == pf::PointerAccelSetting::offCode; }, 60s))
        << "the program did not set the mouse flat\n" << fileText("/tmp/program.log");
    ASSERT_TRUE(std::filesystem::exists(capture));
    const std::optional<pid_t> guard = guardOf(program);
    ASSERT_TRUE(guard) << "no pointer guard";
    ASSERT_TRUE(ok(mouse.press(3)));
    ASSERT_TRUE(ok(mouse.release(3)));
    pid_t launched = 0;
    ASSERT_TRUE(waitFor([&] { return (std::ifstream(launchedPID) >> launched) && launched > 0; }, 10s))
        << "the back button started nothing\n" << fileText("/tmp/program.log");

    ::kill(program.pid(), SIGTERM);
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return !program.running(); }, 5s)) << fileText("/tmp/program.log");
    std::cout << "the program ended "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked).count()
              << " ms after SIGTERM\n";
    EXPECT_EQ(setting(), pf::PointerAccelSetting::adaptive(0).code()) << "the user's setting is back";
    EXPECT_FALSE(std::filesystem::exists(capture)) << "nothing left to put back";
    // Adopted by init here, which reaps it: gone from /proc.
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists("/proc/" + std::to_string(*guard)); }, 5s))
        << "the pointer guard runs on";
    EXPECT_EQ(::kill(launched, 0), 0) << "what the button started runs on";
    ::kill(launched, SIGKILL);
    program.stop(SIGKILL);
#endif
}

// The program runs with the high-resolution wheel (the mouse found in its
// standard mode) and is killed: its guard puts the wheel back within 2 s,
// and sway reads one line a detent again, as before Ravolet ran.
TEST_F(SwayPointerTuning, AfterAKillTheWheelIsBackInItsModeWithinTwoSecondsAndSwayReadsALineADetent) {
#ifndef RAVOLET_PROGRAM
    GTEST_SKIP() << "the program was not built";
#else
    constexpr std::uint8_t standardWheel = 0x00, highResolutionWheel = 0x02;
    const std::string home = "/tmp/program-wheel-home";
    mouse.model()->setWheelMode(standardWheel);
    const auto program = startProgram(home, "{\"onboarding.completed\": true, \"device.highResolutionWheel\": true}\n");
    ASSERT_TRUE(waitFor([&] { return mouse.model()->wheelMode() == highResolutionWheel; }, 60s))
        << "the program did not set the high-resolution wheel\n" << fileText("/tmp/program.log");
    ASSERT_TRUE(std::filesystem::exists(home + "/config/ravolet/wheel-mode.json"));
    ASSERT_TRUE(waitFor([&] { return guardOf(*program).has_value(); }, 5s)) << "no guard";
    program->stop(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return mouse.model()->wheelMode() == standardWheel; }, 10s)) << fileText("/tmp/program.log");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed);
    std::cout << "the wheel was back in its mode " << took.count() << " ms after the kill\n";
    EXPECT_LT(took.count(), 2000);
    // The guard forgets the record once the mouse has answered, a moment
    // after the mouse took the mode.
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(home + "/config/ravolet/wheel-mode.json"); }, 5s))
        << "nothing left to put back";

    // One detent, as sway gives it to the window under the cursor.
    sway->warp(50, 300);
    const auto detents = [] {
        std::istringstream lines(fileText("/tmp/probe.log"));
        int steps = 0;
        for (std::string line; std::getline(lines, line);) {
            unsigned axis = 0;
            int value = 0;
            if (std::sscanf(line.c_str(), "discrete %u %d", &axis, &value) == 2 && axis == 0) steps += value;
        }
        return steps;
    };
    const int before = detents();
    ASSERT_TRUE(ok(mouse.turnWheel(1)));
    EXPECT_TRUE(waitFor([&] { return detents() != before; }, 5s)) << "sway gave the window no wheel";
    std::this_thread::sleep_for(300ms); // the rest of what that detent brings
    EXPECT_EQ(std::abs(detents() - before), 1) << "one line a detent";
#endif
}

// sway stops and the program is killed meanwhile, its setting flat: its
// guard waits for sway however long it is stopped (15 s here) and puts the
// user's setting back once it goes on.
TEST_F(SwayPointerTuning, AfterAKillWhileSwayIsStoppedTheSettingIsBackOnceSwayGoesOn) {
#ifndef RAVOLET_PROGRAM
    GTEST_SKIP() << "the program was not built";
#else
    const std::string home = "/tmp/program-stopped-home";
    const auto program = startProgram(home, "{\"onboarding.completed\": true}\n");
    ASSERT_TRUE(waitFor([&] { return setting() == pf::PointerAccelSetting::offCode; }, 60s))
        << "the program did not set the mouse flat\n" << fileText("/tmp/program.log");
    std::optional<pid_t> guard;
    ASSERT_TRUE(waitFor([&] { return (guard = guardOf(*program)).has_value(); }, 5s)) << "no guard";
    ASSERT_EQ(::kill(sway->pid(), SIGSTOP), 0);
    program->stop(SIGKILL);
    std::this_thread::sleep_for(15s);
    EXPECT_TRUE(running(*guard)) << "the guard gave up on sway";
    ASSERT_EQ(::kill(sway->pid(), SIGCONT), 0);
    const auto resumed = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([] { return setting() == pf::PointerAccelSetting::adaptive(0).code(); }, 15s))
        << "the setting stayed flat\n" << fileText("/tmp/program.log");
    std::cout << "the user's setting was back "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - resumed).count()
              << " ms after sway went on\n";
    EXPECT_TRUE(waitFor([&] { return !running(*guard); }, 5s)) << "the guard runs on";
    EXPECT_FALSE(std::filesystem::exists(home + "/config/ravolet/pointer-hardware-capture.json"));
#endif
}

TEST_F(SwayPointerTuning, AStoppedSwayNeverHoldsUpTheWindowAndTuningCompletesOnceItGoesOn) {
    EngineOnKernel rig;
    makeQueuedTuner(std::make_shared<pf::SwayPointerSettings>(sway->socket()), rig);
    stopTheDesktopWhileTuning(rig, sway->pid(), [] { return setting(); }, pf::PointerAccelSetting::adaptive(0).code());
}

} // namespace
} // namespace ravolet::testing

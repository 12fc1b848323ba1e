// The program's model as `ravolet` builds it without --simulated-mouse, on
// the real kernel's nodes of the fake G502 X: no display, so only what runs
// beneath the windows (the engine and the device monitor). It runs in a
// child process, which stops it as the program does, on a quit (here a byte
// on a pipe, for the menu's Quit) or SIGTERM, so that the test can see the
// process end by itself, or is killed outright; and which the test switches
// to and from another login session, as logind would tell it.

#include <gtest/gtest.h>

#include <linux/input.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Core/Config.hpp"
#include "FakeMouse/EventNodeReader.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"
#include "Platform/Linux/Input/VirtualDevices.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/SessionWatcher.hpp"
#include "Platform/Simulated/SimulatedSessionWatcher.hpp"
#include "RavoletApp/Model/LinuxProgram.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "RavoletApp/Model/WheelModeRecord.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto patience = 20s; // what the VM may take, never what it should
constexpr std::int64_t storedDPI = 1200;
constexpr std::uint8_t standardWheel = 0x00, highResolutionWheel = 0x02;

// What the child reports on its pipe, one byte each.
constexpr char modelActive = 'A';
constexpr char modelAway = 'W';

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(5ms)) {
        if (std::chrono::steady_clock::now() > end) return false;
    }
    return true;
}

// The names of the input devices there are.
std::string inputDevices() {
    std::ifstream list("/proc/bus/input/devices");
    return std::string(std::istreambuf_iterator<char>(list), {});
}

// A desktop that keeps the mouse's acceleration under its identity, lists
// Ravolet's pointer while it is there, and lists nothing while another
// session is in front (a compositor lets go of its devices then): a restore
// made at the switch can neither read nor write the setting.
class ThroughRavoletsPointer final : public PointerPropertyBackend {
public:
    explicit ThroughRavoletsPointer(std::shared_ptr<platform::SessionWatcher> session) : session_(std::move(session)) {}
    static constexpr std::uint64_t id = 0x300000000000001;
    bool canWrite() const override { return true; }
    std::vector<PointerServiceIdentity> services() override {
        if (!listed()) return {};
        return {PointerServiceIdentity{id, 0x046D, 0xC099, "Logitech G502 X", 1, 2}};
    }
    std::optional<std::int64_t> readNumber(std::string_view key, std::uint64_t registryID) override {
        std::lock_guard guard(lock_);
        const auto value = values_.find(std::string(key));
        if (registryID != id || !listed() || value == values_.end()) return std::nullopt;
        return value->second;
    }
    std::optional<std::string> readString(std::string_view, std::uint64_t) override { return std::nullopt; }
    PointerPropertyWrite writeNumber(std::string_view key, std::int64_t value, std::uint64_t registryID) override {
        std::lock_guard guard(lock_);
        if (registryID != id || !listed()) return PointerPropertyWrite::refused;
        values_[std::string(key)] = value;
        return PointerPropertyWrite::eventSystem;
    }
    bool serviceExists(std::uint64_t registryID) override { return registryID == id; }

private:
    bool listed() const {
        return session_->isActive() && inputDevices().contains(platform::VirtualDevices::pointerPhys);
    }
    const std::shared_ptr<platform::SessionWatcher> session_;
    std::mutex lock_;
    std::map<std::string, std::int64_t> values_{{std::string(PointerHardwareTuning::resolutionKey), 1000 * 65536},
                                                {std::string(PointerHardwareTuning::fallbackAccelerationKey), 0}};
};

// The child: the model with the program's own services, its settings in the
// folder the test made, the wheel resolution asked for, run on this thread's
// run loop until a quit or SIGTERM; SIGUSR1 puts another login session in
// front, SIGUSR2 brings its own back. Reports each time the engine is active
// with the mouse attached and the pointer tuning in force over the setting
// found at the first start, and each time the session is away with no engine
// and no restore failed (the originals wait to go back while nothing is listed);
// exits 0 after a clean stop that let go of the mouse, another code when
// something failed.
[[noreturn]] void runModel(int report, int signals, int quit, std::optional<bool> highResolution) {
    auto ui = platform::RunLoop::current();
    const auto session = std::make_shared<platform::SimulatedSessionWatcher>();
    const auto tuner = std::make_shared<PointerHardwareTuning>(
        std::make_shared<ThroughRavoletsPointer>(session), std::make_shared<platform::InMemoryKeyValueStore>(),
        fs::temp_directory_path() / "program-model-capture.json", std::vector{HIDPPDeviceMatch::g502X},
        platform::SystemClock::shared(), platform::LinuxFileSystem::shared());
    PointerHardwareTuning::setShared(tuner);
    LinuxProgram program = makeLinuxProgram(ui, session);
    const std::shared_ptr<AppModel> model = program.model;
    model->preferences().hasCompletedOnboarding.set(true);
    model->setHighResolutionWheel(highResolution);
    model->start();
    bool reported = false;
    char last = 0;
    bool stopping = false;
    for (auto end = std::chrono::steady_clock::now() + 3 * patience; !stopping;) {
        ui->runFor(0.01);
        const std::shared_ptr<RavoletEngine> engine = model->engine().value();
        const EngineStatus& status = model->status().value();
        char now = 0;
        const PointerTuningStatus& tuning = tuner->status();
        if (session->isActive() && engine && engine->status().isTapEnabled && status.targetDeviceAttached &&
            tuning.isApplied && tuning.capture && tuning.capture->acceleration == 0)
            now = modelActive;
        if (!session->isActive() && !engine && !model->deviceMonitor().isStarted() && !tuning.isApplied &&
            !tuning.restoreFailed)
            now = modelAway;
        if (now && now != last && ::write(report, &now, 1) == 1) {
            last = now;
            reported = reported || now == modelActive;
        }
        signalfd_siginfo signal{};
        if (::read(signals, &signal, sizeof signal) == sizeof signal) {
            if (signal.ssi_signo == SIGUSR1 || signal.ssi_signo == SIGUSR2) session->setActive(signal.ssi_signo == SIGUSR2);
            stopping = signal.ssi_signo == SIGTERM;
        }
        pollfd asked{quit, POLLIN, 0};
        stopping = stopping || ::poll(&asked, 1, 0) > 0;
        if (!stopping && std::chrono::steady_clock::now() > end) ::_exit(3);
    }
    // As the program ends: the model stops, and the mouse is let go before the process goes.
    model->stop();
    bool letGo = false;
    model->deviceMonitor().whenLetGo([&letGo] { letGo = true; });
    for (auto end = std::chrono::steady_clock::now() + patience; !letGo && std::chrono::steady_clock::now() < end;)
        ui->runFor(0.01);
    program.wheelResolution.disconnect();
    ::_exit(!reported ? 4 : !letGo ? 5 : 0);
}

enum class End { quit, terminate, kill };

// One run of the program's model in a child process.
class ProgramRun {
public:
    explicit ProgramRun(std::optional<bool> highResolution) {
        int control[2];
        if (::pipe(reports_) != 0 || ::pipe(control) != 0) return;
        quit_ = control[1];
        sigset_t signals;
        ::sigemptyset(&signals);
        for (const int signal : {SIGTERM, SIGUSR1, SIGUSR2}) ::sigaddset(&signals, signal);
        ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        child_ = ::fork();
        if (child_ == 0) {
            ::close(reports_[0]);
            ::close(quit_);
            const int received = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
            if (received < 0) ::_exit(2);
            runModel(reports_[1], received, control[0], highResolution);
        }
        ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        ::close(reports_[1]);
        ::close(control[0]);
    }
    ~ProgramRun() {
        if (child_ > 0 && !ended_) end(End::kill);
        ::close(reports_[0]);
        ::close(quit_);
    }

    pid_t pid() const { return child_; }

    // Whether the child reports `wanted` next.
    bool reports(char wanted) {
        pollfd readable{reports_[0], POLLIN, 0};
        char byte = 0;
        return ::poll(&readable, 1, static_cast<int>(std::chrono::milliseconds(patience).count())) == 1 &&
               ::read(reports_[0], &byte, 1) == 1 && byte == wanted;
    }

    // Ends it; whether it ended in time (else it is killed), and its wait status.
    bool end(End how, int* status = nullptr) {
        int ended = -1;
        switch (how) {
        case End::quit: (void)!::write(quit_, "q", 1); break;
        case End::terminate: ::kill(child_, SIGTERM); break;
        case End::kill: ::kill(child_, SIGKILL); break;
        }
        const bool inTime = eventually([&] { return ::waitpid(child_, &ended, WNOHANG) == child_; }, patience);
        if (!inTime) ::kill(child_, SIGKILL), ::waitpid(child_, &ended, 0);
        ended_ = true;
        if (status) *status = ended;
        return inTime;
    }

private:
    pid_t child_ = -1;
    int reports_[2]{-1, -1};
    int quit_ = -1;
    bool ended_ = false;
};

// The settings the program reads: the default profile at 1200 DPI.
fs::path settingsHome() {
    const fs::path home = fs::temp_directory_path() / "ravolet-program-model";
    fs::remove_all(home);
    fs::create_directories(home / "ravolet");
    Config config = Config::defaultConfig();
    for (Profile& profile : config.profiles) profile.pointer.dpi = storedDPI;
    std::ofstream(home / "ravolet" / "config.json") << config.encoded().value();
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    return home;
}

// The device nodes a process holds open.
std::vector<std::string> openNodes(pid_t process) {
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
        const auto target = fs::read_symlink(entry.path(), error);
        if (!error && target.string().starts_with("/dev/")) nodes.push_back(target.string());
    }
    return nodes;
}

TEST(ProgramModel, ReachesAnActiveEngineOnTheRealBackendsLetsGoWhileAnotherSessionIsInFrontAndStopsOnSIGTERM) {
    const fs::path home = settingsHome();
    FakeG502X mouse;
    ASSERT_TRUE(mouse.plugIn());
    mouse.model()->setCurrentDPI(800);
    mouse.model()->setWheelMode(standardWheel);

    ProgramRun run(true);
    ASSERT_TRUE(run.reports(modelActive)) << "the engine never became active with the mouse attached";
    EXPECT_TRUE(eventually([&] { return mouse.model()->currentDPI() == storedDPI; }, patience))
        << "the mouse stayed at " << mouse.model()->currentDPI() << " DPI";
    EXPECT_TRUE(eventually([&] { return mouse.model()->wheelMode() == highResolutionWheel; }, patience));

    // Another user's session in front: the grab and the mouse's nodes are let
    // go, its wheel as it was found, and the virtual devices are gone; back,
    // everything is taken again.
    std::vector<std::string> mouseNodes;
    for (const int interface : {FakeG502X::pointerInterface, FakeG502X::hidppInterface}) {
        const auto device = mouse.kernelDevice(interface);
        ASSERT_TRUE(device) << device.error();
        if (device->hidraw) mouseNodes.push_back(*device->hidraw);
        for (const auto& input : device->inputs) mouseNodes.push_back(input.eventNode);
    }
    const std::string pointerNode = mouse.kernelDevice(FakeG502X::pointerInterface)->inputs.front().eventNode;
    const std::string hidppNode = mouse.kernelDevice(FakeG502X::hidppInterface)->hidraw.value_or("");
    const auto holdsEach = [&](const std::vector<std::string>& nodes) {
        const auto open = openNodes(run.pid());
        return std::ranges::all_of(nodes, [&](const std::string& node) { return std::ranges::find(open, node) != open.end(); });
    };
    const auto holdsAny = [&] {
        return std::ranges::any_of(mouseNodes, [&](const std::string& node) { return holdsEach({node}); });
    };
    EXPECT_TRUE(holdsEach({pointerNode, hidppNode}));
    ASSERT_EQ(::kill(run.pid(), SIGUSR1), 0);
    ASSERT_TRUE(run.reports(modelAway))
        << "the engine and the monitor did not stop, or the tuning's restore failed";
    EXPECT_TRUE(eventually([&] { return !holdsAny(); }, patience)) << "a node of the mouse stayed open";
    EXPECT_EQ(mouse.model()->wheelMode(), standardWheel);
    const auto virtualDevices = [] {
        const std::string devices = inputDevices();
        return devices.contains(platform::VirtualDevices::pointerPhys) +
               devices.contains(platform::VirtualDevices::keyboardName);
    };
    EXPECT_TRUE(eventually([&] { return virtualDevices() == 0; }, patience)) << "the virtual devices stayed";
    ASSERT_EQ(::kill(run.pid(), SIGUSR2), 0);
    ASSERT_TRUE(run.reports(modelActive)) << "the engine did not come back";
    EXPECT_TRUE(eventually([&] { return holdsEach({pointerNode, hidppNode}); }, patience));
    EXPECT_EQ(virtualDevices(), 2);
    EXPECT_TRUE(eventually([&] { return mouse.model()->wheelMode() == highResolutionWheel; }, patience));

    int status = -1;
    EXPECT_TRUE(run.end(End::terminate, &status)) << "SIGTERM did not stop it";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ended with status " << status;
    fs::remove_all(home);
}

// With the high-resolution wheel asked for, the mouse's wheel goes back into
// the mode it was found in however the program ends; killed, it cannot, and
// the next start puts it back once high resolution is no longer wanted.
TEST(ProgramModel, TheWheelGoesBackIntoItsModeOnQuitAndSIGTERMAndAfterAKillAtTheNextStart) {
    for (const End end : {End::quit, End::terminate, End::kill}) {
        SCOPED_TRACE(static_cast<int>(end));
        const fs::path home = settingsHome();
        const fs::path record = home / "ravolet" / WheelModeRecord::fileName;
        FakeG502X mouse;
        ASSERT_TRUE(mouse.plugIn());
        mouse.model()->setWheelMode(standardWheel);
        {
            ProgramRun run(true);
            ASSERT_TRUE(run.reports(modelActive));
            ASSERT_TRUE(eventually([&] { return mouse.model()->wheelMode() == highResolutionWheel; }, patience));
            EXPECT_TRUE(fs::exists(record)) << "the mode it was found in is kept meanwhile";
            int status = -1;
            EXPECT_TRUE(run.end(end, &status));
            if (end != End::kill) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            }
        }
        if (end == End::kill) {
            EXPECT_EQ(mouse.model()->wheelMode(), highResolutionWheel) << "nobody put it back";
            ProgramRun again(std::nullopt);
            ASSERT_TRUE(again.reports(modelActive));
            EXPECT_TRUE(eventually([&] { return mouse.model()->wheelMode() == standardWheel; }, patience));
            again.end(End::terminate);
        }
        EXPECT_EQ(mouse.model()->wheelMode(), standardWheel);
        EXPECT_FALSE(fs::exists(record));
        fs::remove_all(home);
    }
}

// A mouse that answers HID++ only after seconds, as a busy one or one in its
// onboard mode may: meanwhile a notch of its wheel, in the high-resolution
// mode it powers up in (8 ticks), still glides one detent on Ravolet's
// virtual pointer, and so it does once the mouse has answered.
TEST(ProgramModel, ANotchIsOneDetentWhileTheMouseHasNotAnsweredYetAndAfter) {
    const fs::path home = settingsHome();
    FakeG502X mouse;
    mouse.model()->setWheelMode(highResolutionWheel);
    mouse.model()->setSilent(true);
    ASSERT_TRUE(mouse.plugIn());
    const auto silentSince = std::chrono::steady_clock::now();
    ProgramRun run(std::nullopt);
    ASSERT_TRUE(run.reports(modelActive));
    std::optional<EventNodeReader> pointer;
    ASSERT_TRUE(eventually([&] {
        for (const auto& node : platform::listEventNodes({}))
            if (node.isVirtual && node.phys == platform::VirtualDevices::pointerPhys)
                if (auto reader = EventNodeReader::open(node.devicePath)) pointer.emplace(std::move(*reader));
        return pointer.has_value();
    }, patience));
    // The hi-res units of one notch's glide (120 a detent).
    const auto notch = [&] {
        if (!mouse.turnWheel(1)) return std::int64_t{-1};
        std::int64_t units = 0;
        for (const auto& frame : pointer->readFrames(400, 2000ms))
            for (const auto& e : frame)
                if (e.type == EV_REL && e.code == REL_WHEEL_HI_RES) units += e.value;
        return units;
    };
    EXPECT_EQ(notch(), 120) << "one detent while the mode is not known";
    EXPECT_EQ(mouse.model()->requestCount(platform::SimulatedMouse::hiResWheelFeature), 0u) << "it said nothing yet";

    std::this_thread::sleep_until(silentSince + 3s);
    mouse.model()->setSilent(false);
    ASSERT_TRUE(eventually([&] { return mouse.model()->requestCount(platform::SimulatedMouse::hiResWheelFeature) > 0; },
                           patience))
        << "the wheel's mode was never read";
    EXPECT_EQ(notch(), 120) << "one detent once it is known";
    run.end(End::terminate);
    fs::remove_all(home);
}

} // namespace
} // namespace ravolet::testing

// The program's model as `ravolet` builds it without --simulated-mouse, on
// the real kernel's nodes of the fake G502 X: no display, so only what runs
// beneath the windows (the engine and the device monitor). It runs in a
// child process, which stops it on SIGTERM as the program does, so that the
// test can see the process end by itself, and which the test switches to and
// from another login session, as logind would tell it.

#include <gtest/gtest.h>

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
#include <string>
#include <thread>

#include "Core/Config.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "Platform/Linux/Input/VirtualDevices.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/Simulated/SimulatedSessionWatcher.hpp"
#include "RavoletApp/Model/LinuxProgram.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto patience = 20s; // what the VM may take, never what it should
constexpr std::int64_t storedDPI = 1200;

// What the child reports on its pipe, one byte each.
constexpr char modelActive = 'A';
constexpr char modelAway = 'W';

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(5ms)) {
        if (std::chrono::steady_clock::now() > end) return false;
    }
    return true;
}

// The child: the model with the program's own services, its settings in a
// folder of its own, run on this thread's run loop until SIGTERM; SIGUSR1
// puts another login session in front, SIGUSR2 brings its own back. Reports
// each time the engine is active with the mouse attached, and each time the
// session is away with no engine; exits 0 after a clean stop, another code
// when something failed.
[[noreturn]] void runModel(int report, int signals) {
    auto ui = platform::RunLoop::current();
    const auto session = std::make_shared<platform::SimulatedSessionWatcher>();
    LinuxProgram program = makeLinuxProgram(ui, session);
    const std::shared_ptr<AppModel> model = program.model;
    model->preferences().hasCompletedOnboarding.set(true);
    model->start();
    bool reported = false;
    char last = 0;
    bool stopping = false;
    for (auto end = std::chrono::steady_clock::now() + 3 * patience; !stopping;) {
        ui->runFor(0.01);
        const std::shared_ptr<RavoletEngine> engine = model->engine().value();
        const EngineStatus& status = model->status().value();
        char now = 0;
        if (session->isActive() && engine && engine->status().isTapEnabled && status.targetDeviceAttached) now = modelActive;
        if (!session->isActive() && !engine && !model->deviceMonitor().isStarted()) now = modelAway;
        if (now && now != last && ::write(report, &now, 1) == 1) {
            last = now;
            reported = reported || now == modelActive;
        }
        signalfd_siginfo signal{};
        if (::read(signals, &signal, sizeof signal) == sizeof signal) {
            if (signal.ssi_signo == SIGUSR1 || signal.ssi_signo == SIGUSR2) session->setActive(signal.ssi_signo == SIGUSR2);
            stopping = signal.ssi_signo == SIGTERM;
        }
        if (!stopping && std::chrono::steady_clock::now() > end) ::_exit(3);
    }
    model->stop();
    program.wheelResolution.disconnect();
    ui->runFor(0.05);
    ::_exit(reported ? 0 : 4);
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

// The names of the input devices there are.
std::string inputDevices() {
    std::ifstream list("/proc/bus/input/devices");
    return std::string(std::istreambuf_iterator<char>(list), {});
}

TEST(ProgramModel, ReachesAnActiveEngineOnTheRealBackendsLetsGoWhileAnotherSessionIsInFrontAndStopsOnSIGTERM) {
    // The settings the program reads: the default profile at 1200 DPI.
    const fs::path home = fs::temp_directory_path() / "ravolet-program-model";
    fs::remove_all(home);
    fs::create_directories(home / "ravolet");
    Config config = Config::defaultConfig();
    for (Profile& profile : config.profiles) profile.pointer.dpi = storedDPI;
    std::ofstream(home / "ravolet" / "config.json") << config.encoded().value();
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);

    FakeG502X mouse;
    ASSERT_TRUE(mouse.plugIn());
    mouse.model()->setCurrentDPI(800);

    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    sigset_t term;
    ::sigemptyset(&term);
    for (const int signal : {SIGTERM, SIGUSR1, SIGUSR2}) ::sigaddset(&term, signal);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, nullptr), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe[0]);
        const int signals = ::signalfd(-1, &term, SFD_CLOEXEC | SFD_NONBLOCK);
        if (signals < 0) ::_exit(2);
        runModel(pipe[1], signals);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    ::close(pipe[1]);

    const auto reports = [&](char wanted) {
        pollfd readable{pipe[0], POLLIN, 0};
        char byte = 0;
        return ::poll(&readable, 1, static_cast<int>(std::chrono::milliseconds(patience).count())) == 1 &&
               ::read(pipe[0], &byte, 1) == 1 && byte == wanted;
    };
    ASSERT_TRUE(reports(modelActive)) << "the engine never became active with the mouse attached";
    EXPECT_TRUE(eventually([&] { return mouse.model()->currentDPI() == storedDPI; }, patience))
        << "the mouse stayed at " << mouse.model()->currentDPI() << " DPI";

    // Another user's session in front: the grab and the mouse's nodes are let
    // go and the virtual devices are gone; back, everything is taken again.
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
        const auto open = openNodes(child);
        return std::ranges::all_of(nodes, [&](const std::string& node) { return std::ranges::find(open, node) != open.end(); });
    };
    const auto holdsAny = [&] {
        return std::ranges::any_of(mouseNodes, [&](const std::string& node) { return holdsEach({node}); });
    };
    EXPECT_TRUE(holdsEach({pointerNode, hidppNode}));
    ASSERT_EQ(::kill(child, SIGUSR1), 0);
    ASSERT_TRUE(reports(modelAway)) << "the engine and the monitor did not stop";
    EXPECT_TRUE(eventually([&] { return !holdsAny(); }, patience)) << "a node of the mouse stayed open";
    const auto virtualDevices = [] {
        const std::string devices = inputDevices();
        return devices.contains(platform::VirtualDevices::pointerPhys) +
               devices.contains(platform::VirtualDevices::keyboardName);
    };
    EXPECT_TRUE(eventually([&] { return virtualDevices() == 0; }, patience)) << "the virtual devices stayed";
    ASSERT_EQ(::kill(child, SIGUSR2), 0);
    ASSERT_TRUE(reports(modelActive)) << "the engine did not come back";
    EXPECT_TRUE(eventually([&] { return holdsEach({pointerNode, hidppNode}); }, patience));
    EXPECT_EQ(virtualDevices(), 2);

    ASSERT_EQ(::kill(child, SIGTERM), 0);
    int status = -1;
    const bool ended = eventually([&] { return ::waitpid(child, &status, WNOHANG) == child; }, patience);
    if (!ended) ::kill(child, SIGKILL), ::waitpid(child, &status, 0);
    EXPECT_TRUE(ended) << "SIGTERM did not stop it";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ended with status " << status;
    ::close(pipe[0]);
    fs::remove_all(home);
}

} // namespace
} // namespace ravolet::testing

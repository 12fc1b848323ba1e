// The program's model as `ravolet` builds it without --simulated-mouse, on
// the real kernel's nodes of the fake G502 X: no display, so only what runs
// beneath the windows (the engine and the device monitor). It runs in a
// child process, which stops it on SIGTERM as the program does, so that the
// test can see the process end by itself.

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "Core/Config.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "Platform/RunLoop.hpp"
#include "RavoletApp/Model/LinuxProgram.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto patience = 20s; // what the VM may take, never what it should
constexpr std::int64_t storedDPI = 1200;

// What the child reports on its pipe, one byte each.
constexpr char modelActive = 'A';

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(5ms)) {
        if (std::chrono::steady_clock::now() > end) return false;
    }
    return true;
}

// The child: the model with the program's own services, its settings in a
// folder of its own, run on this thread's run loop until SIGTERM. Reports
// once the engine is active with the mouse attached; exits 0 after a clean
// stop, another code when something failed.
[[noreturn]] void runModel(int report, int quit) {
    auto ui = platform::RunLoop::current();
    LinuxProgram program = makeLinuxProgram(ui);
    const std::shared_ptr<AppModel> model = program.model;
    model->preferences().hasCompletedOnboarding.set(true);
    model->start();
    bool reported = false;
    bool stopping = false;
    for (auto end = std::chrono::steady_clock::now() + patience; !stopping;) {
        ui->runFor(0.01);
        const std::shared_ptr<RavoletEngine> engine = model->engine().value();
        const EngineStatus& status = model->status().value();
        if (!reported && engine && status.isTapEnabled && status.targetDeviceAttached) {
            reported = ::write(report, &modelActive, 1) == 1;
        }
        pollfd signal{quit, POLLIN, 0};
        stopping = ::poll(&signal, 1, 0) == 1;
        if (!stopping && std::chrono::steady_clock::now() > end) ::_exit(3);
    }
    model->stop();
    program.wheelResolution.disconnect();
    ui->runFor(0.05);
    ::_exit(reported ? 0 : 4);
}

TEST(ProgramModel, ReachesAnActiveEngineOnTheRealBackendsAppliesTheStoredDPIAndStopsOnSIGTERM) {
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
    ::sigaddset(&term, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, nullptr), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe[0]);
        const int quit = ::signalfd(-1, &term, SFD_CLOEXEC | SFD_NONBLOCK);
        if (quit < 0) ::_exit(2);
        runModel(pipe[1], quit);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    ::close(pipe[1]);

    pollfd active{pipe[0], POLLIN, 0};
    char byte = 0;
    const bool reported = ::poll(&active, 1, static_cast<int>(std::chrono::milliseconds(patience).count())) == 1 &&
                          ::read(pipe[0], &byte, 1) == 1 && byte == modelActive;
    EXPECT_TRUE(reported) << "the engine never became active with the mouse attached";
    EXPECT_TRUE(eventually([&] { return mouse.model()->currentDPI() == storedDPI; }, patience))
        << "the mouse stayed at " << mouse.model()->currentDPI() << " DPI";

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

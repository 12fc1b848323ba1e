// Quitting the real program (not the simulated mouse), with its pointer
// guard, on a real X server (Xvfb), in every way a user or the desktop ends
// it, and with the X server stopped (SIGSTOP) as a hung display is: the
// process and its guard are gone within 5 s, the change made just before is
// saved, and Ravolet started again right after runs at once, as one that was
// never closed: the first close of its window says that it keeps running.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "Core/Config.hpp"
#include "ProgramTestSupport.hpp"

namespace ravolet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::testing::Child;
using platform::testing::tail;
using platform::testing::waitUntil;
using platform::testing::XServer;
using testing::contents;

// How long a quit may take, the desktop's setting and the mouse put back included.
constexpr auto quitBound = 5s;

// A process that has ended, reaped or not (an adopted one may wait for its
// reaper a moment), counts as gone.
bool gone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const auto end = line.rfind(')');
    return end == std::string::npos || (end + 2 < line.size() && line[end + 2] == 'Z');
}

// The program's pointer guard, found by its command line: `ravolet --pointer-guard <pid>`.
std::optional<pid_t> guardOf(pid_t program) {
    const std::string wanted = std::string(RAVOLET_PROGRAM) + '\0' + "--pointer-guard" + '\0' + std::to_string(program) + '\0';
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (contents(entry.path() / "cmdline") == wanted) return static_cast<pid_t>(std::stoi(name));
    }
    return std::nullopt;
}

// Waits up to the bound for the child to end by itself; its exit status, or
// none when it is still running then.
std::optional<int> endedWithin(Child& child, std::chrono::milliseconds bound) {
    std::optional<int> code;
    waitUntil(
        [&] {
            int status = 0;
            if (::waitpid(child.pid(), &status, WNOHANG) != child.pid()) return false;
            code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        },
        bound);
    if (code) child = Child(); // reaped here: nothing left for the child to stop
    return code;
}

enum class Way { windowQuit, controlQ, trayQuit, terminate, hangUp, interrupt, sessionEnd };

struct Quitting {
    const char* what;
    Way way;
    // The X server stops answering (SIGSTOP) once the quit is on its way.
    bool stopsDisplay = false;
    friend void PrintTo(const Quitting& quitting, std::ostream* os) { *os << quitting.what; }
};

class ProgramQuit : public ::testing::TestWithParam<Quitting> {};

// The X server stopped as a hung display is, until resumed (at the latest
// when the test ends, before the server is stopped for good).
struct StoppedServer {
    pid_t pid = -1;
    ~StoppedServer() { resume(); }
    void stop(pid_t server) {
        pid = server;
        ::kill(pid, SIGSTOP);
    }
    void resume() {
        if (pid > 0) ::kill(pid, SIGCONT);
        pid = -1;
    }
};

TEST_P(ProgramQuit, TheProgramAndItsGuardEndWithinTheBoundHavingSavedAndTheNextStartRunsAtOnce) {
    const Quitting quitting = GetParam();
    const bool withTray = quitting.way == Way::trayQuit;
    std::optional<XServer> x;
    x.emplace(std::nullopt, "1024x768x24");
    ASSERT_FALSE(x->display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    std::optional<testing::XScreen> desktop(std::in_place, x->display);
    StoppedServer stopped;
    testing::ProgramHome home(std::string("quit-") + quitting.what);
    const fs::path settings = home.tree.path / "config" / "ravolet";
    Child tray;
    if (withTray) {
        ASSERT_TRUE(platform::testing::installed("trayer")) << "the trayer package is missing";
        tray = Child({.arguments = {"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"},
                      .environment = {{"DISPLAY", x->display}},
                      .log = home.logPath("trayer")});
        ASSERT_TRUE(waitUntil([&] { return desktop->shows("panel"); })) << home.read("trayer");
    }

    const auto startedAt = std::chrono::steady_clock::now();
    Child ravolet = home.startProgram(x->display, "first");
    const fs::path log = home.logPath("first");
    ASSERT_TRUE(home.waitForLog("first", "Ravolet \u2014 ")) << tail(log);
    std::optional<pid_t> guard;
    ASSERT_TRUE(waitUntil([&] { return (guard = guardOf(ravolet.pid())).has_value(); })) << "no pointer guard" << tail(log);

    // Without a tray the settings window is open: a change is made in it
    // just before the quit, within the second before its own save.
    std::optional<bool> changedTo;
    std::optional<xcb_window_t> window;
    std::optional<xcb_window_t> icon;
    if (withTray) {
        ASSERT_TRUE(waitUntil([&] { return (icon = desktop->dockedWindow("ravolet")).has_value(); })) << tail(log);
    } else {
        ASSERT_TRUE(waitUntil([&] { return (window = desktop->shownWindow("\u2014 Ravolet", true)).has_value(); }))
            << "no settings window" << tail(log);
        const auto paced = testing::pacedBy(std::chrono::steady_clock::now() - startedAt);
        paced(300ms); // the window takes keys once its pages are filled
        desktop->press(*window, testing::flipSmoothScrollingBelowTheBanner);
        changedTo = !Config::defaultConfig().profiles.front().scroll.isEnabled;
        paced(200ms); // the keys come through the X server; a signal does not
    }

    switch (quitting.way) {
    case Way::windowQuit:
        // The button sits at the right end of the tab strip, in its middle.
        desktop->click(*window, static_cast<std::int16_t>(desktop->width(*window) - 50), 29);
        break;
    case Way::controlQ:
        desktop->press(*window, {testing::qKey}, XCB_MOD_MASK_CONTROL);
        // Handed to the program before the server stops: the server sends
        // its clients what is due before it answers a request.
        if (quitting.stopsDisplay) desktop->sync();
        break;
    case Way::trayQuit:
        // A click on the icon drops the menu down; "Quit Ravolet" is its last item.
        desktop->click(*icon, 8, 8);
        // The menu, a window of its own that takes the keys while it is open.
        ASSERT_TRUE(waitUntil([&] { return (window = desktop->shownWindow("Ravolet")).has_value(); })) << "no menu" << tail(log);
        desktop->press(*window, {testing::upKey, testing::returnKey});
        break;
    case Way::terminate:
        if (!quitting.stopsDisplay) ::kill(ravolet.pid(), SIGTERM);
        break;
    case Way::hangUp: ::kill(ravolet.pid(), SIGHUP); break;
    case Way::interrupt: ::kill(ravolet.pid(), SIGINT); break;
    case Way::sessionEnd:
        // The X server ends with the session, before anything else is told.
        desktop.reset();
        x->server.stop();
        break;
    }
    if (quitting.stopsDisplay) stopped.stop(x->server.pid());
    if (quitting.way == Way::terminate && quitting.stopsDisplay) ::kill(ravolet.pid(), SIGTERM);
    const auto code = endedWithin(ravolet, quitBound);
    ASSERT_TRUE(code.has_value()) << "still running " << quitBound.count() << " s after the quit" << tail(log);
    EXPECT_EQ(*code, quitting.way == Way::sessionEnd ? 1 : 0) << tail(log);
    EXPECT_TRUE(waitUntil([&] { return gone(*guard); }, quitBound)) << "the pointer guard runs on";
    if (changedTo) {
        const auto saved = Config::decoded(contents(settings / "config.json"));
        ASSERT_TRUE(saved) << contents(settings / "config.json");
        EXPECT_EQ(saved->profiles.front().scroll.isEnabled, *changedTo) << "the change made just before the quit is saved";
    }

    // Started again at once (on the next session's display where the last
    // one ended, or on the same one answering again): it runs, and nothing
    // made it wait.
    stopped.resume();
    if (quitting.way == Way::sessionEnd) {
        x.emplace(std::nullopt, "1024x768x24");
        desktop.emplace(x->display);
    }
    const auto again = std::chrono::steady_clock::now();
    Child next = home.startProgram(x->display, "next");
    ASSERT_TRUE(waitUntil([&] { return !home.read("next").empty(); }, 10s)) << "the next copy waits";
    EXPECT_TRUE(home.waitForLog("next", "Ravolet \u2014 ")) << tail(home.logPath("next"));
    EXPECT_LT(std::chrono::steady_clock::now() - again, 10s) << "the next copy waited";
    EXPECT_EQ(home.read("next").find("does not answer"), std::string::npos) << tail(home.logPath("next"));
    EXPECT_TRUE(next.running());
    // With no tray the window opens; the quit was no close of it, so its
    // first close now says that Ravolet keeps running.
    if (!withTray) {
        const std::string note = "Ravolet";
        std::optional<xcb_window_t> shown;
        ASSERT_TRUE(waitUntil([&] { return (shown = desktop->shownWindow("\u2014 Ravolet", true)).has_value(); }))
            << "no settings window" << tail(home.logPath("next"));
        desktop->close(*shown);
        EXPECT_TRUE(waitUntil([&] { return desktop->shows(note); }))
            << "no note on the first close after a quit; shown: " << testing::joined(desktop->shownTitles());
    }
    ::kill(next.pid(), SIGTERM);
    EXPECT_EQ(endedWithin(next, quitBound), 0) << tail(home.logPath("next"));
}

INSTANTIATE_TEST_SUITE_P(EveryWay, ProgramQuit,
                         ::testing::Values(Quitting{"theWindowsQuitButton", Way::windowQuit},
                                           Quitting{"ControlQ", Way::controlQ},
                                           Quitting{"theTraysQuit", Way::trayQuit},
                                           Quitting{"SIGTERM", Way::terminate}, Quitting{"SIGHUP", Way::hangUp},
                                           Quitting{"SIGINT", Way::interrupt},
                                           Quitting{"theSessionEnding", Way::sessionEnd},
                                           Quitting{"ControlQWhileTheXServerIsStopped", Way::controlQ, true},
                                           Quitting{"SIGTERMWhileTheXServerIsStopped", Way::terminate, true}),
                         [](const ::testing::TestParamInfo<Quitting>& info) { return std::string(info.param.what); });

} // namespace
} // namespace ravolet

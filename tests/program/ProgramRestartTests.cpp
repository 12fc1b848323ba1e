// Restarting Ravolet while it quits: the real program on a real X server
// (Xvfb), without a tray, so that its settings window is open and its Quit
// command (Ctrl+Q) is at hand, as a user restarts it from a launcher right
// after quitting.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <optional>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Core/Config.hpp"
#include "ProgramTestSupport.hpp"

namespace ravolet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::testing::Child;
using platform::testing::waitUntil;
using platform::testing::XServer;
using testing::contents;

// The factory document with 10,000 rules: a settings file of over a megabyte.
std::string largeDocument() {
    Config config = Config::defaultConfig();
    for (int i = 0; i < 10000; ++i)
        config.ruleSet.rules.emplace_back(fmt::format("rule-{:05}", i), BundleIDPattern::exact(fmt::format("org.test.app{}", i)),
                                          "default", 0, true);
    return *config.encoded();
}

struct Scenario {
    const char* what;
    bool largeDocument;
    bool slowDisk;
    friend void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.what; }
};

class ProgramRestart : public ::testing::TestWithParam<Scenario> {};

TEST_P(ProgramRestart, ACopyStartedWhileTheLastQuitsRunsOnceItHasEndedOnTheChangeItSaved) {
    const Scenario scenario = GetParam();
    XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    testing::XScreen desktop(x.display);
    std::string pattern = (fs::path(::testing::TempDir()) / "ravolet-restart-XXXXXX").string();
    const fs::path home = ::mkdtemp(pattern.data());
    const fs::path settings = home / "config" / "ravolet";
    fs::create_directories(settings);
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all);
    // Set up already, so that no set-up window opens beside the settings window.
    std::ofstream(settings / "preferences.json") << "{\n  \"onboarding.completed\": true\n}\n";
    if (scenario.largeDocument) {
        const std::string document = largeDocument();
        ASSERT_GT(document.size(), 1'000'000u);
        std::ofstream(settings / "config.json") << document;
    }
    std::vector<std::pair<std::string, std::string>> environment = {
        {"DISPLAY", x.display},
        {"HOME", home.string()},
        {"XDG_CONFIG_HOME", (home / "config").string()},
        {"XDG_DATA_HOME", (home / "data").string()},
        {"XDG_RUNTIME_DIR", (home / "runtime").string()},
    };
    if (scenario.slowDisk) {
        environment.emplace_back("LD_PRELOAD", RAVOLET_SLOW_FSYNC);
        // A sanitized program wants its runtime first; the shim has no part in what it checks.
        environment.emplace_back("ASAN_OPTIONS", "verify_asan_link_order=0");
    }
    int started = 0;
    const auto start = [&] {
        const fs::path log = home / fmt::format("copy-{}.log", ++started);
        return std::pair(Child({.arguments = {RAVOLET_PROGRAM, "--simulated-mouse"},
                                .environment = environment,
                                .unset = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"},
                                .log = log}),
                         log);
    };
    const auto smoothScrolling = [&] {
        const auto config = Config::decoded(contents(settings / "config.json"));
        return config ? std::optional(config->profiles.front().scroll.isEnabled) : std::nullopt;
    };

    auto [running, log] = start();
    auto startedAt = std::chrono::steady_clock::now();
    std::mt19937 random(40);
    bool expected = Config::defaultConfig().profiles.front().scroll.isEnabled;
    for (int round = 1; round <= 21; ++round) {
        SCOPED_TRACE(fmt::format("round {}", round));
        std::optional<xcb_window_t> window;
        ASSERT_TRUE(waitUntil([&] { return (window = desktop.shownWindow("\u2014 Ravolet", true)).has_value(); }))
            << "no settings window" << platform::testing::tail(log);
        // The pauses below follow the machine's pace.
        const auto paced = testing::pacedBy(std::chrono::steady_clock::now() - startedAt);
        // The window takes keys once its pages are filled, on the turn after it shows.
        paced(300ms);
        desktop.press(*window, testing::flipSmoothScrolling);
        expected = !expected;
        // Quit right after the change, before its own save a second later:
        // the quit saves it. By the window's Quit command (Ctrl+Q), or as the
        // session or a user's `kill` ends the program.
        if (round % 2 == 1) {
            desktop.press(*window, {testing::qKey}, XCB_MOD_MASK_CONTROL);
        } else {
            paced(200ms); // the keys come through the X server, the signal does not
            ::kill(running.pid(), SIGTERM);
        }
        if (round == 21) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution(0, 600)(random)));
        auto [next, nextLog] = start();
        EXPECT_EQ(running.wait(), 0) << platform::testing::tail(log);
        // The next copy shows its window only once this one has ended.
        startedAt = std::chrono::steady_clock::now();
        EXPECT_EQ(smoothScrolling(), expected) << "the change made before quitting is saved";
        ASSERT_TRUE(waitUntil([&] { return contents(nextLog).find("Ravolet \u2014 Active") != std::string::npos; }))
            << platform::testing::tail(nextLog);
        EXPECT_TRUE(next.running()) << "the copy started meanwhile runs on" << platform::testing::tail(nextLog);
        EXPECT_EQ(contents(nextLog).find("already running"), std::string::npos) << platform::testing::tail(nextLog);
        running = std::move(next);
        log = nextLog;
    }
    EXPECT_EQ(running.wait(), 0) << platform::testing::tail(log);
    EXPECT_EQ(smoothScrolling(), expected) << "the last copy ran on the document the one before saved";
    if (!HasFailure()) fs::remove_all(home);
}

INSTANTIATE_TEST_SUITE_P(Restarts, ProgramRestart,
                         ::testing::Values(Scenario{"aLargeDocument", true, false}, Scenario{"aSlowDisk", false, true}),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.what); });

TEST(ProgramInstances, ACopyStartedBesideTheRunningOneReachesItOrSaysInAWindowWhyNot) {
    XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    testing::XScreen desktop(x.display);
    testing::ProgramHome home("instances");
    const fs::path settings = home.tree.path / "config" / "ravolet";
    auto first = home.start(x.display, "first");
    ASSERT_TRUE(waitUntil([&] { return desktop.shownWindow("\u2014 Ravolet", true).has_value(); }))
        << platform::testing::tail(home.logPath("first"));

    // Started with another runtime folder (another session's, or none set
    // the same way): the running copy is reached where it listens.
    const fs::path otherRuntime = home.tree.path / "other-runtime";
    fs::create_directories(otherRuntime);
    auto reaching = home.start(x.display, "reaching", {}, {{"XDG_RUNTIME_DIR", otherRuntime.string()}});
    EXPECT_EQ(reaching.wait(), 0) << platform::testing::tail(home.logPath("reaching"));
    EXPECT_NE(home.read("reaching").find("already running; its settings window comes forward"), std::string::npos)
        << platform::testing::tail(home.logPath("reaching"));

    // Running but not answering (stopped here): after its patience the new
    // copy says so where the user looks, naming the folder.
    ASSERT_EQ(::kill(first.pid(), SIGSTOP), 0);
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{first.pid()};
    auto refused = home.start(x.display, "refused");
    std::optional<xcb_window_t> note;
    ASSERT_TRUE(waitUntil([&] { return (note = desktop.shownWindow("Ravolet")).has_value(); }))
        << platform::testing::tail(home.logPath("refused"));
    std::this_thread::sleep_for(500ms); // painted, for the picture
    desktop.save("unreachable-copy-note");
    EXPECT_NE(home.read("refused").find("Another copy of Ravolet runs on the settings in " + settings.string() + ", but"),
              std::string::npos)
        << platform::testing::tail(home.logPath("refused"));
    desktop.close(*note);
    EXPECT_EQ(refused.wait(), 1) << platform::testing::tail(home.logPath("refused"));
    ::kill(first.pid(), SIGCONT);
    ::kill(first.pid(), SIGTERM);
    EXPECT_EQ(first.wait(), 0) << platform::testing::tail(home.logPath("first"));
}

} // namespace
} // namespace ravolet

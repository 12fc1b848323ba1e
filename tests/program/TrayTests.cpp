// Ravolet on an X server with a tray (trayer) and without one: which windows
// open, what closing them does, where the icon goes and how a second start
// brings the settings window back.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "ProgramTestSupport.hpp"

namespace ravolet {
namespace {

using platform::testing::XServer;
using testing::Child;
using testing::ProgramHome;
using testing::XScreen;
using testing::waitUntil;

constexpr const char* settingsTitle = "Scroll — Ravolet";

// After the program said it is active, the launch has opened what it opens:
// a moment more lets its windows reach the server.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(500)); }

// A small dark tray at the top right of the screen->
Child startTray(const std::string& display, const ProgramHome& home) {
    return Child({.arguments = {"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                                "--tint", "0x303030", "--transparent", "true", "--alpha", "0"},
                  .environment = {{"DISPLAY", display}},
                  .log = home.logPath("trayer")});
}

// An X server of a common screen size, and what shows on it.
struct Tray : ::testing::Test {
    XServer x{std::nullopt, "1024x768x24"};
    std::optional<XScreen> screen;

    void SetUp() override {
        ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
        ASSERT_TRUE(platform::testing::installed("trayer")) << "the trayer package is missing";
        screen.emplace(x.display);
    }
};

TEST_F(Tray, WithoutOneTheWindowOpensClosingItKeepsRavoletRunningAndStartingItAgainBringsItBack) {
    ProgramHome home("shell-no-tray");
    Child ravolet = home.start(x.display, "ravolet");
    ASSERT_TRUE(waitUntil([&] { return screen->shows(settingsTitle); })) << platform::testing::tail(home.logPath("ravolet"));
    screen->save("desktop-without-a-tray");

    ASSERT_TRUE(screen->close(settingsTitle));
    // Said once: Ravolet keeps working with no window.
    ASSERT_TRUE(waitUntil([&] { return screen->shows("Ravolet") && !screen->shows(settingsTitle); }));
    screen->save("desktop-without-a-tray-closed");
    EXPECT_TRUE(ravolet.running());

    // The applications menu starts `ravolet`: the running one shows its window.
    Child again = home.start(x.display, "again");
    EXPECT_EQ(again.wait(), 0) << home.read("again");
    EXPECT_TRUE(waitUntil([&] { return screen->shows(settingsTitle); }));

    // A panel that comes up later (at login, after Ravolet) gets the icon.
    Child tray = startTray(x.display, home);
    EXPECT_TRUE(waitUntil([&] { return screen->docked("ravolet"); })) << home.read("ravolet");
    EXPECT_TRUE(ravolet.stop());
}

TEST_F(Tray, WithoutOneAStartAtLoginOpensNothing) {
    ProgramHome home("shell-login");
    Child ravolet = home.start(x.display, "ravolet", {"--at-login"});
    ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");
    settle();
    EXPECT_TRUE(screen->shownTitles().empty()) << screen->shownTitles().front();
    EXPECT_TRUE(ravolet.running());
}

TEST_F(Tray, WithOneTheIconIsDockedNoWindowOpensAndClosingTheWindowSaysNothing) {
    ProgramHome home("shell-tray");
    Child tray = startTray(x.display, home);
    ASSERT_TRUE(waitUntil([&] { return screen->shows("panel"); })) << home.read("trayer");
    Child ravolet = home.start(x.display, "ravolet");
    ASSERT_TRUE(waitUntil([&] { return screen->docked("ravolet"); })) << home.read("ravolet");
    ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active"));
    settle();
    EXPECT_FALSE(screen->shows(settingsTitle));
    screen->save("desktop-with-a-tray");

    Child again = home.start(x.display, "again");
    EXPECT_EQ(again.wait(), 0) << home.read("again");
    ASSERT_TRUE(waitUntil([&] { return screen->shows(settingsTitle); }));
    ASSERT_TRUE(screen->close(settingsTitle));
    ASSERT_TRUE(waitUntil([&] { return !screen->shows(settingsTitle); }));
    settle();
    EXPECT_FALSE(screen->shows("Ravolet")) << "the tray's icon shows that Ravolet runs";
    EXPECT_TRUE(ravolet.running());
}

} // namespace
} // namespace ravolet

// The Linux workspace on a real KWin: kwin_wayland --virtual on a private
// session bus, two GTK windows of known desktop identifiers, and focus moved
// by a one-off KWin script, as a user's click would.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Desktop/KWinFrontmostSource.hpp"
#include "Platform/Linux/Desktop/LinuxWorkspace.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"

namespace ravolet::platform {
namespace {

using testing::ActivationLog;
using testing::Child;
using testing::PrivateBus;
using testing::TestApplications;

// Runs a script in KWin once, as the test's stand-in for a user's click.
bool runKWinScript(GDBusConnection* bus, const std::filesystem::path& script) {
    const auto call = [bus](const char* path, const char* interface, const char* method, GVariant* parameters) {
        GVariant* reply = g_dbus_connection_call_sync(bus, "org.kde.KWin", path, interface, method, parameters,
                                                      nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        return reply;
    };
    GVariant* loaded = call("/Scripting", "org.kde.kwin.Scripting", "loadScript",
                            g_variant_new("(ss)", script.c_str(), "ravolet-test-focus"));
    if (!loaded) return false;
    gint32 id = -1;
    g_variant_get(loaded, "(i)", &id);
    g_variant_unref(loaded);
    bool ran = false;
    for (const std::string& path : {"/Scripting/Script" + std::to_string(id), "/" + std::to_string(id)}) {
        if (GVariant* reply = call(path.c_str(), "org.kde.kwin.Script", "run", nullptr)) {
            g_variant_unref(reply);
            ran = true;
            break;
        }
    }
    if (GVariant* reply = call("/Scripting", "org.kde.kwin.Scripting", "unloadScript", g_variant_new("(s)", "ravolet-test-focus")))
        g_variant_unref(reply);
    return ran;
}

TEST(KWinWorkspace, FollowsFocusBetweenTwoWindowsThroughItsScriptAndCannotTellOnceKWinHasGone) {
    for (const char* program : {"kwin_wayland", "dbus-daemon", "gjs"})
        ASSERT_TRUE(testing::installed(program)) << program << " is missing: scripts/setup.sh installs it";
    TestApplications applications("kwin-workspace");
    applications.add("org.test.Alpha", "Alpha");
    applications.add("org.test.Beta", "Beta");
    const std::filesystem::path folder = applications.tree.path;
    const std::filesystem::path runtime = folder / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);

    // The installed kwin_wayland carries a file capability that a container
    // may refuse; a copy (which has none) must keep the name, which KWin's
    // own platform plugin checks.
    std::filesystem::create_directories(folder / "kwin");
    const std::filesystem::path kwinProgram = folder / "kwin/kwin_wayland";
    std::filesystem::copy_file("/usr/bin/kwin_wayland", kwinProgram);

    PrivateBus bus(folder / "bus.log");
    ASSERT_FALSE(bus.address.empty()) << "the private session bus did not start";
    // The workspace's D-Bus connection finds the bus as a program would.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address.c_str(), 1);

    const std::vector<std::pair<std::string, std::string>> environment{
        {"XDG_RUNTIME_DIR", runtime.string()}, {"DBUS_SESSION_BUS_ADDRESS", bus.address}, {"KWIN_COMPOSE", "Q"},
        {"NO_AT_BRIDGE", "1"}, {"HOME", folder.string()}, {"XDG_CONFIG_HOME", (folder / "config").string()}};
    Child kwin({.arguments = {kwinProgram.string(), "--virtual", "--no-lockscreen", "--no-global-shortcuts",
                              "--no-kactivities", "--width", "1280", "--height", "800", "--socket", "wl-kw"},
                .environment = environment,
                .unset = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"},
                .log = folder / "kwin.log"});
    GDBusConnection* testBus = testing::connectToBus(bus.address);
    ASSERT_TRUE(testBus);
    ASSERT_TRUE(testing::waitUntil([&] {
        GVariant* reply = g_dbus_connection_call_sync(testBus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                                      "isScriptLoaded", g_variant_new("(s)", "none"), nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
        if (reply) g_variant_unref(reply);
        return reply != nullptr && std::filesystem::exists(runtime / "wl-kw");
    })) << "KWin did not start" << testing::tail(folder / "kwin.log");

    const std::filesystem::path script = std::filesystem::path(RAVOLET_SOURCE_DIR) / "data/kwin/ravolet-front-window.js";
    auto workspace = LinuxWorkspace::make(std::make_unique<KWinFrontmostSource>(script), applications.catalogue(),
                                          std::make_shared<LinuxProcessLauncher>());
    ActivationLog log;
    // A KWin that answers late holds no subscriber up: the source's start,
    // whose calls KWin answers once it goes on, is not the subscriber's to
    // wait for (a subscriber that waited would see each call time out).
    ::kill(kwin.pid(), SIGSTOP);
    Subscription following = log.follow(*workspace);
    EXPECT_EQ(workspace->frontmostTracking().state, FrontmostTracking::State::following);
    ::kill(kwin.pid(), SIGCONT);

    const auto windows = testing::gtkWindows(folder, environment, "wl-kw");
    ASSERT_TRUE(testing::waitUntil([&] { return workspace->runningApplications().size() == 2; }))
        << "the two windows did not appear" << testing::tail(folder / "windows.log");

    const auto switches = testing::switchesBetween(*workspace, "org.test.Alpha", "org.test.Beta");
    for (const std::string& id : switches) {
        SCOPED_TRACE(id);
        log.forget();
        applications.tree.write("focus.js", "for (const w of (workspace.windowList ? workspace.windowList() : "
                                            "workspace.clientList())) if (w.desktopFileName == '" + id +
                                                "') { if (workspace.windowList) workspace.activeWindow = w; "
                                                "else workspace.activeClient = w; }\n");
        ASSERT_TRUE(runKWinScript(testBus, folder / "focus.js"));
        // The "no window" KWin reports on the way is not taken for a switch.
        ASSERT_TRUE(log.awaitBundleID(id)) << "no activation notice";
        EXPECT_EQ(workspace->frontmostApplication()->bundleID, id);
    }
    // Nothing came between the switches but the switches themselves.
    EXPECT_EQ(workspace->frontmostApplication()->bundleID, switches.back());

    // A window class is the window's to choose, tabs and line breaks
    // included; it names no other window than its own.
    const std::string trickyClass = "tricky\norg.test.Phantom\tphantom";
    applications.add("org.test.Phantom", "Phantom");
    applications.tree.write("tricky.js", "imports.gi.versions.Gtk = '3.0';\n"
                                         "const { Gtk, GLib } = imports.gi;\n"
                                         "GLib.set_prgname(ARGV[0]);\n"
                                         "Gtk.init(null);\n"
                                         "const window = new Gtk.Window({ title: 'tricky' });\n"
                                         "window.show_all();\n"
                                         "Gtk.main();\n");
    auto trickyEnvironment = environment;
    trickyEnvironment.insert(trickyEnvironment.end(),
                             {{"WAYLAND_DISPLAY", "wl-kw"}, {"GDK_BACKEND", "wayland"}});
    Child tricky({.arguments = {"gjs", (folder / "tricky.js").string(), trickyClass},
                  .environment = trickyEnvironment,
                  .unset = {"DISPLAY"},
                  .log = folder / "windows.log"});
    ASSERT_TRUE(testing::waitUntil([&] { return workspace->frontmostTracking().unmatchedWindowClass == trickyClass; }))
        << "the window did not come forward" << testing::tail(folder / "windows.log");
    std::vector<std::string> running;
    for (const auto& application : workspace->runningApplications()) running.push_back(*application.bundleID);
    std::ranges::sort(running);
    EXPECT_EQ(running, (std::vector<std::string>{"org.test.Alpha", "org.test.Beta"}));

    ASSERT_TRUE(kwin.stop()) << "KWin did not end";
    ASSERT_TRUE(log.awaitBundleID(std::nullopt));
    EXPECT_EQ(workspace->frontmostTracking().state, FrontmostTracking::State::cannotTell);
    EXPECT_EQ(workspace->frontmostApplication(), std::nullopt);
    following.cancel();
    workspace.reset();
    g_object_unref(testBus);
}

} // namespace
} // namespace ravolet::platform

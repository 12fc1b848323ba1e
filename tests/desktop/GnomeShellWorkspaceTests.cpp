// The Linux workspace on a real GNOME Shell, headless on private session and
// system buses: nothing is installed until the user asks; the extension then
// runs from the next login (a second start of the shell), follows two GTK
// windows of known desktop identifiers (focus moved by a helper extension of
// the test) and tells why it does not run when it does not; removing it stops
// it at once.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <future>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Desktop/GnomeShellExtension.hpp"
#include "Platform/Linux/Desktop/GnomeShellFrontmostSource.hpp"
#include "Platform/Linux/Desktop/LinuxWorkspace.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"

namespace ravolet::platform {
namespace {

using testing::ActivationLog;
using testing::Child;
using testing::PrivateBus;
using testing::TestApplications;

constexpr const char* helperUUID = "test-helper@ravolet.test";

// What a user does with the mouse, done by the test: hide the overview the
// shell opens at start, and bring a window forward.
constexpr const char* helperExtension = R"(const { Gio } = imports.gi;
const Main = imports.ui.main;
const Shell = imports.gi.Shell;
const IFACE = `<node><interface name="org.ravolet.TestHelper">
  <method name="HideOverview"/>
  <method name="Activate"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
</interface></node>`;
class Helper {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(IFACE, this);
        this._object.export(Gio.DBus.session, '/org/ravolet/TestHelper');
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, 'org.ravolet.TestHelper', 0, null, null);
    }
    disable() { Gio.bus_unown_name(this._name); this._object.unexport(); }
    HideOverview() { Main.overview.hide(); }
    Activate(id) {
        const tracker = Shell.WindowTracker.get_default();
        for (const actor of global.get_window_actors()) {
            const window = actor.get_meta_window();
            const app = tracker.get_window_app(window);
            if (window.get_gtk_application_id() === id || (app && app.get_id() === id + '.desktop')) {
                Main.activateWindow(window, global.get_current_time());
                return true;
            }
        }
        return false;
    }
}
function init() { return new Helper(); }
)";

struct GnomeSession {
    explicit GnomeSession(const std::filesystem::path& folder) : folder(folder) {
        std::filesystem::create_directories(folder / "runtime");
        std::filesystem::permissions(folder / "runtime", std::filesystem::perms::owner_all);
        environment = {{"XDG_RUNTIME_DIR", (folder / "runtime").string()},
                       {"HOME", folder.string()},
                       {"XDG_DATA_HOME", folder.string()},
                       {"XDG_CONFIG_HOME", (folder / "config").string()},
                       {"NO_AT_BRIDGE", "1"},
                       {"GSETTINGS_BACKEND", "dconf"}};
        session = PrivateBus(folder / "session-bus.log", environment);
        system = PrivateBus(folder / "system-bus.log");
        environment.emplace_back("DBUS_SESSION_BUS_ADDRESS", session.address);
        // The shell asks logind on the system bus; a bus of its own, where
        // nothing answers, is enough.
        environment.emplace_back("DBUS_SYSTEM_BUS_ADDRESS", system.address);
        // The workspace's connections and settings find the session as a
        // program inside it would.
        for (const auto& [name, value] : environment)
            if (name != "HOME") ::setenv(name.c_str(), value.c_str(), 1);
    }
    // GSettings reaches dconf through a session-bus connection of dconf's own,
    // which ends the process with SIGTERM when the bus goes, as it does at the
    // end of a desktop session; here the bus goes before the test does.
    ~GnomeSession() { ::signal(SIGTERM, SIG_IGN); }

    bool gsettings(const std::string& key, const std::string& value) {
        return Child({.arguments = {"gsettings", "set", "org.gnome.shell", key, value},
                      .environment = environment,
                      .log = folder / "gsettings.log"})
                   .wait() == 0;
    }
    std::string gsettings(const std::string& key) {
        std::filesystem::remove(folder / "gsettings-get.log");
        Child({.arguments = {"gsettings", "get", "org.gnome.shell", key},
               .environment = environment,
               .log = folder / "gsettings-get.log"})
            .wait();
        std::ifstream stream(folder / "gsettings-get.log");
        return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    }

    // One login: the shell, up when the test's helper is on the bus, with the
    // overview it opens at start closed.
    bool login(GDBusConnection* bus) {
        shell = Child({.arguments = {"gnome-shell", "--headless", "--wayland", "--no-x11", "--virtual-monitor",
                                     "1280x800", "--wayland-display", "wl-gs"},
                       .environment = environment,
                       .unset = {"WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"},
                       .log = folder / "gnome-shell.log"});
        return testing::waitUntil([&] { return helper(bus, "HideOverview", nullptr); });
    }

    // What the Extensions app does with the switch of an extension.
    static bool extensions(GDBusConnection* bus, const char* method) {
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions", method,
            g_variant_new("(s)", GnomeShellExtension::uuid), nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        if (reply) g_variant_unref(reply);
        return reply != nullptr;
    }

    static bool helper(GDBusConnection* bus, const char* method, GVariant* parameters, bool* answer = nullptr) {
        GVariant* reply = g_dbus_connection_call_sync(bus, "org.ravolet.TestHelper", "/org/ravolet/TestHelper",
                                                      "org.ravolet.TestHelper", method, parameters, nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        if (!reply) return false;
        if (answer) g_variant_get(reply, "(b)", answer);
        g_variant_unref(reply);
        return true;
    }

    std::filesystem::path folder;
    PrivateBus session;
    PrivateBus system;
    std::vector<std::pair<std::string, std::string>> environment;
    Child shell;
};

// What the user's press of Install or Remove reports.
std::optional<std::string> pressed(Workspace& workspace, bool installing) {
    FrontmostExtension* extension = workspace.frontmostExtension();
    if (!extension) return "no extension to install";
    auto outcome = std::make_shared<std::promise<std::optional<std::string>>>();
    auto done = [outcome](std::optional<std::string> error) { outcome->set_value(std::move(error)); };
    if (installing) extension->install(std::make_shared<testing::InlineExecutor>(), done);
    else extension->remove(std::make_shared<testing::InlineExecutor>(), done);
    auto answer = outcome->get_future();
    if (answer.wait_for(testing::patience) != std::future_status::ready) return "no answer";
    return answer.get();
}

bool reaches(const Workspace& workspace, FrontmostTracking::State state) {
    return testing::waitUntil([&] { return workspace.frontmostTracking().state == state; });
}

TEST(GnomeShellWorkspace, InstallsItsExtensionOnlyWhenAskedFollowsFocusFromTheNextLoginAndSaysWhyItDoesNotRun) {
    using State = FrontmostTracking::State;
    for (const char* program : {"gnome-shell", "gsettings", "dbus-daemon", "gjs"})
        ASSERT_TRUE(testing::installed(program)) << program << " is missing: scripts/setup.sh installs it";
    TestApplications applications("gnome-workspace");
    applications.add("org.test.Alpha", "Alpha");
    applications.add("org.test.Beta", "Beta");
    const std::filesystem::path folder = applications.tree.path;
    const std::filesystem::path extensions = folder / "gnome-shell/extensions";
    const std::filesystem::path ours = extensions / GnomeShellExtension::uuid;
    const std::filesystem::path builds = std::filesystem::path(RAVOLET_SOURCE_DIR) / "data/gnome-shell";
    applications.tree.write("gnome-shell/extensions/" + std::string(helperUUID) + "/metadata.json",
                            R"({"uuid": "test-helper@ravolet.test", "name": "Test helper", "description": "Does what a user would",)"
                            R"( "shell-version": ["43", "44"]})");
    applications.tree.write("gnome-shell/extensions/" + std::string(helperUUID) + "/extension.js", helperExtension);

    GnomeSession gnome(folder);
    ASSERT_FALSE(gnome.session.address.empty() || gnome.system.address.empty()) << "the private buses did not start";
    ASSERT_TRUE(gnome.gsettings("disable-user-extensions", "false"));
    ASSERT_TRUE(gnome.gsettings("enabled-extensions", "['" + std::string(helperUUID) + "']"));
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        gnome.session.address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_TRUE(bus);
    const auto makeWorkspace = [&] {
        return LinuxWorkspace::make(std::make_unique<GnomeShellFrontmostSource>(builds, extensions),
                                    applications.catalogue(), std::make_shared<LinuxProcessLauncher>());
    };
    const auto enabled = [&] { return gnome.gsettings("enabled-extensions").find(GnomeShellExtension::uuid) != std::string::npos; };

    // First login: the shell has no such extension, and nothing is installed
    // or switched on until the user asks; then it runs from the next login.
    ASSERT_TRUE(gnome.login(bus)) << "GNOME Shell did not start" << testing::tail(folder / "gnome-shell.log");
    {
        auto workspace = makeWorkspace();
        ASSERT_TRUE(reaches(*workspace, State::extensionNotInstalled)) << toString(workspace->frontmostTracking().state);
        EXPECT_EQ(workspace->frontmostTracking().source, FrontmostTracking::Source::gnomeShell);
        EXPECT_FALSE(std::filesystem::exists(ours));
        EXPECT_FALSE(enabled());
        EXPECT_EQ(pressed(*workspace, true), std::nullopt);
        EXPECT_TRUE(reaches(*workspace, State::waitingForLogin)) << toString(workspace->frontmostTracking().state);
        EXPECT_TRUE(std::filesystem::exists(ours / "extension.js"));
        EXPECT_TRUE(enabled());
    }
    ASSERT_TRUE(gnome.shell.stop());

    // The next login runs it.
    ASSERT_TRUE(gnome.login(bus)) << "GNOME Shell did not start again" << testing::tail(folder / "gnome-shell.log");
    auto workspace = makeWorkspace();
    ActivationLog log;
    Subscription following = log.follow(*workspace);
    ASSERT_TRUE(reaches(*workspace, State::following)) << "the extension did not come up" << testing::tail(folder / "gnome-shell.log");

    const auto windows = testing::gtkWindows(folder, gnome.environment, "wl-gs");
    ASSERT_TRUE(testing::waitUntil([&] { return workspace->runningApplications().size() == 2; }))
        << "the two windows did not appear" << testing::tail(folder / "windows.log");

    // A window that has just appeared may still take the focus from the one
    // activated, as the shell gives new windows the focus: the test clicks
    // again until the one it wants is in front.
    for (const std::string& id : testing::switchesBetween(*workspace, "org.test.Alpha", "org.test.Beta")) {
        SCOPED_TRACE(id);
        log.forget();
        const auto inFront = [&] {
            const auto front = workspace->frontmostApplication();
            return front && front->bundleID == id;
        };
        ASSERT_TRUE(testing::waitUntil([&] {
            bool found = false;
            return GnomeSession::helper(bus, "Activate", g_variant_new("(s)", id.c_str()), &found) && found &&
                   testing::waitUntil(inFront, std::chrono::milliseconds(500));
        })) << "the window did not come forward";
        EXPECT_TRUE(log.awaitBundleID(id)) << "no activation notice";
    }

    // A shell that does not answer holds up no one who asks: they get what
    // it last said.
    ::kill(gnome.shell.pid(), SIGSTOP);
    EXPECT_EQ(workspace->runningApplications().size(), 2u);
    EXPECT_EQ(workspace->frontmostTracking().state, State::following);
    ::kill(gnome.shell.pid(), SIGCONT);

    // Switched off in Extensions, then every extension switched off: each
    // said, and running again once switched back on.
    ASSERT_TRUE(GnomeSession::extensions(bus, "DisableExtension"));
    EXPECT_TRUE(reaches(*workspace, State::switchedOff)) << toString(workspace->frontmostTracking().state);
    ASSERT_TRUE(GnomeSession::extensions(bus, "EnableExtension"));
    EXPECT_TRUE(reaches(*workspace, State::following));
    ASSERT_TRUE(gnome.gsettings("disable-user-extensions", "true"));
    EXPECT_TRUE(reaches(*workspace, State::extensionsOff)) << toString(workspace->frontmostTracking().state);
    ASSERT_TRUE(gnome.gsettings("disable-user-extensions", "false"));
    EXPECT_TRUE(reaches(*workspace, State::following));

    // Removing it stops it at once and leaves nothing behind.
    EXPECT_EQ(pressed(*workspace, false), std::nullopt);
    EXPECT_TRUE(reaches(*workspace, State::extensionNotInstalled)) << toString(workspace->frontmostTracking().state);
    EXPECT_FALSE(std::filesystem::exists(ours));
    EXPECT_FALSE(enabled());
    following.cancel();
    workspace.reset();
    ASSERT_TRUE(gnome.shell.stop());

    // A copy an older Ravolet made for an older shell, still switched on: the
    // shell leaves it out of date, which is said; an update runs from the
    // next login.
    applications.tree.write("gnome-shell/extensions/" + std::string(GnomeShellExtension::uuid) + "/metadata.json",
                            R"({"uuid": "front-window@ravolet.ai", "name": "Ravolet front window", "description": "",)"
                            R"( "shell-version": ["3.38"]})");
    std::filesystem::copy_file(builds / "up-to-44/extension.js", ours / "extension.js");
    ASSERT_TRUE(gnome.gsettings("enabled-extensions",
                                "['" + std::string(helperUUID) + "', '" + GnomeShellExtension::uuid + "']"));
    ASSERT_TRUE(gnome.login(bus)) << "GNOME Shell did not start a third time" << testing::tail(folder / "gnome-shell.log");
    workspace = makeWorkspace();
    EXPECT_TRUE(reaches(*workspace, State::extensionOutOfDate)) << toString(workspace->frontmostTracking().state);
    EXPECT_EQ(pressed(*workspace, true), std::nullopt);
    EXPECT_TRUE(reaches(*workspace, State::waitingForLogin)) << toString(workspace->frontmostTracking().state);

    ASSERT_TRUE(gnome.shell.stop()) << "GNOME Shell did not end";
    ASSERT_TRUE(reaches(*workspace, State::cannotTell));
    EXPECT_EQ(workspace->frontmostApplication(), std::nullopt);
    workspace.reset();
    g_object_unref(bus);
}

} // namespace
} // namespace ravolet::platform

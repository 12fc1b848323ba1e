// The Linux workspace on a real GNOME Shell, headless on private session and
// system buses: the workspace installs and enables its extension, which runs
// from the next login (a second start of the shell); then two GTK windows of
// known desktop identifiers, focus moved by a helper extension of the test.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "DesktopTestSupport.hpp"
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

TEST(GnomeShellWorkspace, InstallsItsExtensionForTheNextLoginThenFollowsFocusAndCannotTellOnceTheShellHasGone) {
    for (const char* program : {"gnome-shell", "gsettings", "dbus-daemon", "gjs"})
        ASSERT_TRUE(testing::installed(program)) << program << " is missing: scripts/setup.sh installs it";
    TestApplications applications("gnome-workspace");
    applications.add("org.test.Alpha", "Alpha");
    applications.add("org.test.Beta", "Beta");
    const std::filesystem::path folder = applications.tree.path;
    const std::filesystem::path extensions = folder / "gnome-shell/extensions";
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
        return LinuxWorkspace::make(std::make_unique<GnomeShellFrontmostSource>(
                                        std::filesystem::path(RAVOLET_SOURCE_DIR) / "data/gnome-shell", extensions),
                                    applications.catalogue(), std::make_shared<LinuxProcessLauncher>());
    };

    // First login: the shell does not know the extension, so the workspace
    // installs it and enables it for the next login.
    ASSERT_TRUE(gnome.login(bus)) << "GNOME Shell did not start" << testing::tail(folder / "gnome-shell.log");
    {
        auto workspace = makeWorkspace();
        // The source starts beside the caller.
        EXPECT_TRUE(testing::waitUntil([&] {
            return workspace->frontmostTracking() ==
                   FrontmostTracking{FrontmostTracking::Source::gnomeShell, FrontmostTracking::State::waitingForLogin,
                                     std::nullopt};
        }));
        EXPECT_TRUE(std::filesystem::exists(extensions / GnomeShellFrontmostSource::uuid / "extension.js"));
    }
    ASSERT_TRUE(gnome.shell.stop());

    // The next login runs it.
    ASSERT_TRUE(gnome.login(bus)) << "GNOME Shell did not start again" << testing::tail(folder / "gnome-shell.log");
    auto workspace = makeWorkspace();
    ActivationLog log;
    Subscription following = log.follow(*workspace);
    ASSERT_TRUE(testing::waitUntil([&] {
        return workspace->frontmostTracking().state == FrontmostTracking::State::following;
    })) << "the extension did not come up" << testing::tail(folder / "gnome-shell.log");

    const auto windows = testing::gtkWindows(folder, gnome.environment, "wl-gs");
    ASSERT_TRUE(testing::waitUntil([&] { return workspace->runningApplications().size() == 2; }))
        << "the two windows did not appear" << testing::tail(folder / "windows.log");

    for (const std::string& id : testing::switchesBetween(*workspace, "org.test.Alpha", "org.test.Beta")) {
        SCOPED_TRACE(id);
        log.forget();
        bool found = false;
        ASSERT_TRUE(GnomeSession::helper(bus, "Activate", g_variant_new("(s)", id.c_str()), &found) && found);
        ASSERT_TRUE(log.awaitBundleID(id)) << "no activation notice";
        EXPECT_EQ(workspace->frontmostApplication()->bundleID, id);
    }

    ASSERT_TRUE(gnome.shell.stop()) << "GNOME Shell did not end";
    ASSERT_TRUE(testing::waitUntil([&] {
        return workspace->frontmostTracking().state == FrontmostTracking::State::cannotTell;
    }));
    EXPECT_EQ(workspace->frontmostApplication(), std::nullopt);
    following.cancel();
    workspace.reset();
    g_object_unref(bus);
}

} // namespace
} // namespace ravolet::platform

// The Linux workspace on a real X server (Xvfb), with windows the test makes
// and the root's _NET_ACTIVE_WINDOW set by the test, as a window manager would.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <string_view>
#include <thread>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Desktop/LinuxWorkspace.hpp"
#include "Platform/Linux/Desktop/X11FrontmostSource.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "Platform/Linux/X11Connection.hpp"

namespace ravolet::platform {
namespace {

using testing::ActivationLog;
using testing::Child;
using testing::TestApplications;
using testing::XServer;

class X11Client {
public:
    explicit X11Client(const std::string& display) : connection_(connectToXServer(display.c_str(), nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~X11Client() { xcb_disconnect(connection_); }

    xcb_atom_t atom(std::string_view name) {
        auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, name.size(), name.data()), nullptr);
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    }
    xcb_window_t window() {
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        return window;
    }
    void text(xcb_window_t window, std::string_view property, std::string_view value, std::string_view type = "UTF8_STRING") {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom(property), atom(type), 8, value.size(),
                            value.data());
    }
    void cardinal(xcb_window_t window, std::string_view property, std::uint32_t value) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom(property), XCB_ATOM_CARDINAL, 32, 1, &value);
    }
    void windows(std::string_view property, const std::vector<xcb_window_t>& windows) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, root_, atom(property), XCB_ATOM_WINDOW, 32,
                            windows.size(), windows.data());
        xcb_flush(connection_);
    }
    void activate(xcb_window_t window) { windows("_NET_ACTIVE_WINDOW", {window}); }

    // Shows the window, for a window manager to take.
    void map(xcb_window_t window) {
        xcb_map_window(connection_, window);
        xcb_flush(connection_);
    }
    // Asks the window manager to put the window in front, as a pager would.
    void requestActivation(xcb_window_t window) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("_NET_ACTIVE_WINDOW");
        message.data.data32[0] = 2; // from a pager: always obeyed
        xcb_send_event(connection_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }
    // A window list property of the root as the server has it now.
    std::vector<xcb_window_t> windowsOf(std::string_view property) {
        auto* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, root_, atom(property), XCB_ATOM_WINDOW, 0, 1024), nullptr);
        std::vector<xcb_window_t> windows;
        if (!reply) return windows;
        const auto* first = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        windows.assign(first, first + xcb_get_property_value_length(reply) / sizeof(xcb_window_t));
        std::free(reply);
        return windows;
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
};

std::string ownExecutable() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

TEST(X11Workspace, NamesTheActiveWindowsApplicationByEachKindOfClueAndLosesNothingWhenTheServerGoes) {
    XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    TestApplications applications("x11-workspace");
    applications.add("org.test.Gtk", "Gtk App");
    applications.add("org.kde.TestKde", "Kde App");
    applications.add("alpha-app", "Alpha", "StartupWMClass=AlphaWindow\n");
    applications.add("org.test.ByName", "By Name");
    applications.add("own-program", "Own Program", "Exec=" + ownExecutable() + " --flag %U\n");

    auto workspace = LinuxWorkspace::make(std::make_unique<X11FrontmostSource>(x.display), applications.catalogue(),
                                          std::make_shared<LinuxProcessLauncher>());
    ActivationLog log;
    Subscription following = log.follow(*workspace);
    EXPECT_EQ(workspace->frontmostTracking().source, FrontmostTracking::Source::x11);
    EXPECT_EQ(workspace->frontmostTracking().state, FrontmostTracking::State::following);

    X11Client client(x.display);
    struct Case {
        std::string_view what;
        std::function<void(xcb_window_t)> label;
        std::optional<std::string> bundleID;
        std::optional<std::string> unmatchedClass;
    };
    const Case cases[] = {
        // The declared identifier wins over a class that names another entry.
        {"GTK application id", [&](xcb_window_t w) {
             client.text(w, "_GTK_APPLICATION_ID", "org.test.Gtk");
             client.text(w, "WM_CLASS", std::string_view("alpha\0AlphaWindow\0", 18), "STRING");
         }, "org.test.Gtk", std::nullopt},
        {"KDE desktop file", [&](xcb_window_t w) { client.text(w, "_KDE_NET_WM_DESKTOP_FILE", "org.kde.TestKde"); },
         "org.kde.TestKde", std::nullopt},
        {"WM_CLASS against StartupWMClass, any case", [&](xcb_window_t w) {
             client.text(w, "WM_CLASS", std::string_view("whatever\0alphawindow\0", 21), "STRING");
         }, "alpha-app", std::nullopt},
        {"WM_CLASS instance against the file name, any case", [&](xcb_window_t w) {
             client.text(w, "WM_CLASS", std::string_view("ORG.TEST.BYNAME\0Unrelated\0", 26), "STRING");
         }, "org.test.ByName", std::nullopt},
        {"the executable of _NET_WM_PID against Exec", [&](xcb_window_t w) {
             client.cardinal(w, "_NET_WM_PID", static_cast<std::uint32_t>(::getpid()));
         }, "own-program", std::nullopt},
        {"an unknown class", [&](xcb_window_t w) {
             client.text(w, "WM_CLASS", std::string_view("xterm\0XTermTest\0", 16), "STRING");
         }, std::nullopt, "XTermTest"},
        {"no clue at all", [](xcb_window_t) {}, std::nullopt, std::nullopt},
    };
    std::vector<xcb_window_t> made;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const xcb_window_t window = client.window();
        c.label(window);
        made.push_back(window);
        client.activate(window);
        // Every case differs from the one before, so each brings a notice.
        const auto activation = log.next();
        ASSERT_TRUE(activation) << "no activation notice";
        EXPECT_EQ(activation->bundleID(), c.bundleID);
        const auto frontmost = workspace->frontmostApplication();
        ASSERT_TRUE(frontmost);
        EXPECT_EQ(frontmost->bundleID, c.bundleID);
        EXPECT_EQ(workspace->frontmostTracking().unmatchedWindowClass, c.unmatchedClass);
    }

    client.windows("_NET_CLIENT_LIST", made);
    // The list comes with no notice: the source takes it as the server tells.
    ASSERT_TRUE(testing::waitUntil([&] { return workspace->runningApplications().size() == 5; }));
    std::vector<std::string> running;
    for (const auto& application : workspace->runningApplications()) running.push_back(*application.bundleID);
    EXPECT_EQ(running, (std::vector<std::string>{"org.test.Gtk", "org.kde.TestKde", "alpha-app", "org.test.ByName",
                                                 "own-program"}));
    EXPECT_EQ(workspace->runningApplications().front().localizedName, "Gtk App");

    // No active window: nothing in front, but the source still follows.
    client.activate(made.front());
    ASSERT_TRUE(log.awaitBundleID("org.test.Gtk"));
    client.activate(XCB_WINDOW_NONE);
    ASSERT_TRUE(log.awaitBundleID(std::nullopt));
    EXPECT_EQ(workspace->frontmostTracking().state, FrontmostTracking::State::following);

    client.activate(made.front());
    ASSERT_TRUE(log.awaitBundleID("org.test.Gtk"));
    ASSERT_TRUE(x.server.stop());
    const auto lost = log.next();
    ASSERT_TRUE(lost) << "no notice when the X server went away";
    EXPECT_EQ(lost->bundleID(), std::nullopt);
    EXPECT_EQ(workspace->frontmostTracking().state, FrontmostTracking::State::cannotTell);
    EXPECT_EQ(workspace->frontmostApplication(), std::nullopt);
    EXPECT_TRUE(workspace->runningApplications().empty());
}

// The source must never stay behind the server: a look at the server is
// made of round trips, and whatever the server says in the middle of one
// must still be heard. Openbox writes _NET_ACTIVE_WINDOW twice a focus change
// (no window, then the new one); the test's own double writes come 0.1 to 3
// ms apart. A source that missed the second write stays behind until the next
// change, so the test waits for each change to show, far longer than the 300
// ms it may take.
TEST(X11FrontmostSource, StaysWithTheServerThroughFastFocusChangesAndDoubleWritesUnderOpenbox) {
    ASSERT_TRUE(testing::installed("openbox")) << "openbox is missing: scripts/setup.sh installs it";
    XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    testing::FolderTree folder("x11-openbox");
    Child openbox({.arguments = {"openbox", "--sm-disable"},
                   .environment = {{"DISPLAY", x.display}, {"HOME", folder.path.string()}},
                   .log = folder.path / "openbox.log"});
    X11Client client(x.display);
    std::vector<xcb_window_t> windows;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "Window" + std::to_string(i);
        windows.push_back(client.window());
        client.text(windows.back(), "WM_CLASS", name + '\0' + name + '\0', "STRING");
    }
    // Openbox passes over what is shown while it starts: the windows are
    // shown again until it has taken them all.
    ASSERT_TRUE(testing::waitUntil([&] {
        const auto managed = client.windowsOf("_NET_CLIENT_LIST");
        for (const xcb_window_t window : windows)
            if (std::ranges::find(managed, window) == managed.end()) client.map(window);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return managed.size() == windows.size();
    })) << "openbox did not take the windows" << testing::tail(folder.path / "openbox.log");

    X11FrontmostSource source(x.display);
    ASSERT_TRUE(source.start([] {}));
    const auto shows = [&](xcb_window_t window) {
        const auto front = source.front();
        const auto index = std::ranges::find(windows, window) - windows.begin();
        return front.window && front.window->classes == std::vector<std::string>{"Window" + std::to_string(index)};
    };
    constexpr auto staleLimit = std::chrono::seconds(3);
    int stale = 0;
    for (int change = 0; change < 200; ++change) {
        // Every window but the one in front, in turn.
        const xcb_window_t next = windows[static_cast<std::size_t>(change * 3 + 1) % windows.size()];
        client.requestActivation(next);
        ASSERT_TRUE(testing::waitUntil([&] { return client.windowsOf("_NET_ACTIVE_WINDOW") == std::vector{next}; }))
            << "openbox did not put the window in front";
        if (!testing::waitUntil([&] { return shows(next); }, staleLimit)) ++stale;
    }
    EXPECT_EQ(stale, 0) << "focus changes the source missed";

    stale = 0;
    for (int write = 0; write < 40; ++write) {
        const xcb_window_t first = windows[static_cast<std::size_t>(write) % windows.size()];
        const xcb_window_t second = windows[static_cast<std::size_t>(write + 1) % windows.size()];
        client.activate(first);
        std::this_thread::sleep_for(std::chrono::microseconds(100 + write * 75));
        client.activate(second);
        if (!testing::waitUntil([&] { return shows(second); }, staleLimit)) ++stale;
    }
    EXPECT_EQ(stale, 0) << "second writes the source missed";
    source.stop();
}

TEST(X11Workspace, CannotTellWithoutAnXServer) {
    TestApplications applications("x11-none");
    auto workspace = LinuxWorkspace::make(std::make_unique<X11FrontmostSource>(":999"), applications.catalogue(),
                                          std::make_shared<LinuxProcessLauncher>());
    EXPECT_TRUE(testing::waitUntil([&] {
        return workspace->frontmostTracking() ==
               FrontmostTracking{FrontmostTracking::Source::x11, FrontmostTracking::State::cannotTell, std::nullopt};
    }));
    EXPECT_EQ(workspace->frontmostApplication(), std::nullopt);
}

} // namespace
} // namespace ravolet::platform

// The Linux workspace on a real wlroots compositor: sway, headless, with two
// GTK windows of known desktop identifiers and focus moved by swaymsg.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Desktop/LinuxWorkspace.hpp"
#include "Platform/Linux/Desktop/WlrootsFrontmostSource.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"

namespace ravolet::platform {
namespace {

using testing::ActivationLog;
using testing::Child;
using testing::TestApplications;

// sway refuses to run as root: as root, the test runs it (and its windows)
// as a user of its own, made when missing.
std::optional<std::pair<uid_t, gid_t>> compositorUser() {
    if (::geteuid() != 0) return std::nullopt;
    constexpr const char* name = "ravolet-desktop-test";
    if (!::getpwnam(name)) Child({.arguments = {"useradd", "--system", "--no-create-home", name}}).wait();
    const passwd* user = ::getpwnam(name);
    if (!user) return std::nullopt;
    return std::pair{user->pw_uid, user->pw_gid};
}

TEST(WlrootsWorkspace, FollowsFocusBetweenTwoWindowsAndCannotTellOnceSwayHasGone) {
    for (const char* program : {"sway", "swaymsg", "gjs"})
        ASSERT_TRUE(testing::installed(program)) << program << " is missing: scripts/setup.sh installs it";
    TestApplications applications("wlroots-workspace");
    applications.add("org.test.Alpha", "Alpha");
    applications.add("org.test.Beta", "Beta");
    const std::filesystem::path folder = applications.tree.path;
    const auto user = compositorUser();
    if (::geteuid() == 0) {
        ASSERT_TRUE(user) << "could not make a user to run sway as";
    }

    const std::filesystem::path runtime = applications.tree.path / "runtime";
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    ::chmod(applications.tree.path.c_str(), 0755);
    if (user) {
        ASSERT_EQ(::chown(runtime.c_str(), user->first, user->second), 0);
    }
    applications.tree.write("config", "output HEADLESS-1 resolution 1280x800\n");
    const std::vector<std::pair<std::string, std::string>> environment{
        {"XDG_RUNTIME_DIR", runtime.string()}, {"WLR_BACKENDS", "headless"}, {"WLR_LIBINPUT_NO_DEVICES", "1"},
        {"WLR_RENDERER", "pixman"}, {"HOME", applications.tree.path.string()}};
    Child sway({.arguments = {"sway", "-c", (applications.tree.path / "config").string()},
                .environment = environment,
                .unset = {"WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK"},
                .log = applications.tree.path / "sway.log",
                .user = user});
    const std::filesystem::path socket = runtime / "wayland-1";
    std::filesystem::path ipc;
    ASSERT_TRUE(testing::waitUntil([&] {
        for (const auto& file : std::filesystem::directory_iterator(runtime))
            if (file.path().filename().string().starts_with("sway-ipc.")) ipc = file.path();
        return std::filesystem::exists(socket) && !ipc.empty();
    })) << "sway did not start" << testing::tail(folder / "sway.log");

    auto workspace = LinuxWorkspace::make(std::make_unique<WlrootsFrontmostSource>(socket.string()),
                                          applications.catalogue(), std::make_shared<LinuxProcessLauncher>());
    ActivationLog log;
    Subscription following = log.follow(*workspace);
    ASSERT_EQ(workspace->frontmostTracking(),
              (FrontmostTracking{FrontmostTracking::Source::wlroots, FrontmostTracking::State::following, std::nullopt}));

    auto windows = testing::gtkWindows(folder, environment, "wayland-1", user);
    ASSERT_TRUE(testing::waitUntil([&] { return workspace->runningApplications().size() == 2; }))
        << "the two windows did not appear" << testing::tail(folder / "windows.log");
    auto running = workspace->runningApplications();
    // In the order the windows came up, which is theirs to decide.
    std::ranges::sort(running, {}, &RunningApplication::localizedName);
    EXPECT_EQ(running, (std::vector<RunningApplication>{{"org.test.Alpha", "Alpha"}, {"org.test.Beta", "Beta"}}));

    const auto focus = [&](const std::string& id) {
        return Child({.arguments = {"swaymsg", "-s", ipc.string(), "[app_id=" + id + "] focus"}}).wait() == 0;
    };
    // The windows' own focus on coming up may still be on its way once both
    // are listed: settle it first (Alpha in front, then Beta's notice taken),
    // so that each switch below is answered by its own notice.
    ASSERT_TRUE(focus("org.test.Alpha"));
    ASSERT_TRUE(testing::waitUntil([&] {
        const auto front = workspace->frontmostApplication();
        return front && front->bundleID == "org.test.Alpha";
    }));
    log.forget();
    ASSERT_TRUE(focus("org.test.Beta"));
    ASSERT_TRUE(log.awaitBundleID("org.test.Beta"));
    for (const std::string id : {"org.test.Alpha", "org.test.Beta", "org.test.Alpha"}) {
        SCOPED_TRACE(id);
        log.forget();
        ASSERT_TRUE(focus(id));
        // One notice a switch: the moment between the old window's
        // deactivation and the new one's activation is no front of its own.
        const auto notice = log.next();
        ASSERT_TRUE(notice) << "no activation notice";
        EXPECT_EQ(notice->bundleID(), id);
        ASSERT_TRUE(workspace->frontmostApplication());
        EXPECT_EQ(workspace->frontmostApplication()->bundleID, id);
    }

    // A window that closes leaves the list (and its handle is let go).
    windows.back().stop();
    ASSERT_TRUE(testing::waitUntil([&] { return workspace->runningApplications().size() == 1; }));

    // With a window still open: what ends is the compositor.
    ASSERT_TRUE(sway.stop()) << "sway did not end";
    ASSERT_TRUE(log.awaitBundleID(std::nullopt));
    EXPECT_EQ(workspace->frontmostTracking().state, FrontmostTracking::State::cannotTell);
    EXPECT_EQ(workspace->frontmostApplication(), std::nullopt);
    EXPECT_TRUE(workspace->runningApplications().empty());
}

} // namespace
} // namespace ravolet::platform

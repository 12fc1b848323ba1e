#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "Platform/Linux/LinuxPermissionProbe.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "FolderTree.hpp"

namespace ravolet::platform {
namespace {

namespace fs = std::filesystem;

struct TemporaryFolder : testing::FolderTree {
    TemporaryFolder() : FolderTree("host") {}
};

bool eventually(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Looks at the process's children without reaping any of them.
enum class Children { none, running, zombie };
Children children() {
    siginfo_t info{};
    if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) return Children::none;
    return info.si_pid != 0 ? Children::zombie : Children::running;
}

TEST(LinuxProcessLauncher, EveryChildIsReapedEvenWhileAnEarlierOneStillRuns) {
    TemporaryFolder folder;
    const std::string pidFile = (folder.path / "sleeper.pid").string();
    LinuxProcessLauncher launcher;
    // A long-running first child must not hold up the reaping of later ones.
    ASSERT_TRUE(launcher.launchDetached("/bin/sh", {"-c", "echo $$ > \"$0\"; exec sleep 60", pidFile}));
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(launcher.launchDetached("/usr/bin/true", {}));

    EXPECT_TRUE(eventually([] { return children() == Children::running; })) << "zombies left behind";
    pid_t sleeper = 0;
    ASSERT_TRUE(eventually([&] { return (std::ifstream(pidFile) >> sleeper) && sleeper > 0; }));
    ::kill(sleeper, SIGTERM);
    EXPECT_TRUE(eventually([] { return children() == Children::none; }));
}

TEST(LinuxProcessLauncher, ArgumentsArriveAsGivenAndAMissingProgramDoesNotStart) {
    TemporaryFolder folder;
    const std::string name = (folder.path / "a \"quoted\" name; $HOME 'and' *").string();
    LinuxProcessLauncher launcher;
    ASSERT_TRUE(launcher.launchDetached("/usr/bin/touch", {name}));
    EXPECT_TRUE(eventually([&] { return fs::exists(name); }));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1);

    EXPECT_FALSE(launcher.launchDetached("/usr/bin/shortcuts-that-is-not-here", {"run", "x"}));
    EXPECT_TRUE(eventually([] { return children() == Children::none; }));
}

TEST(LinuxPermissionProbe, GrantsFollowTheTargetMouseNodes) {
    TemporaryFolder root;
    // The mouse: event3 and hidraw1; another device: event4 and hidraw0.
    root.write("sys/class/input/event3/device/id/vendor", "046d\n");
    root.write("sys/class/input/event3/device/id/product", "c099\n");
    root.write("sys/class/input/event4/device/id/vendor", "1234\n");
    root.write("sys/class/input/event4/device/id/product", "c099\n");
    root.write("sys/class/input/mouse0/device/id/vendor", "046d\n");
    root.write("sys/class/hidraw/hidraw0/device/uevent", "DRIVER=hid-generic\nHID_ID=0003:00001234:0000C099\n");
    root.write("sys/class/hidraw/hidraw1/device/uevent", "DRIVER=hid-generic\nHID_ID=0003:0000046D:0000C099\n");
    for (const char* node : {"dev/input/event3", "dev/input/event4", "dev/hidraw0", "dev/hidraw1"}) root.write(node, "");
    const std::string dev = (root.path / "dev").string();

    struct Case {
        const char* name;
        std::map<std::string, int> allowed; // node under dev/ → modes granted
        bool unplugged;
        bool accessibility;
        bool listen;
        HIDAccessType hid;
        // The nodes named as still closed (under dev/): to post, then the mouse's.
        std::vector<std::string> closedPosting;
        std::vector<std::string> closedListening;
    };
    const std::vector<std::string> mouseNodes{"input/event3", "hidraw1"};
    const std::vector<Case> cases = {
        {"nothing granted", {}, false, false, false, HIDAccessType::denied, {"uinput"}, mouseNodes},
        {"everything granted",
         {{"uinput", W_OK}, {"input/event3", R_OK}, {"hidraw1", R_OK | W_OK}},
         false, true, true, HIDAccessType::granted, {}, {}},
        {"everything but writing to hidraw",
         {{"uinput", W_OK}, {"input/event3", R_OK}, {"hidraw1", R_OK}},
         false, true, true, HIDAccessType::denied, {}, {"hidraw1"}},
        {"only another device's nodes", {{"input/event4", R_OK}, {"hidraw0", R_OK | W_OK}}, false, false, false,
         HIDAccessType::denied, {"uinput"}, mouseNodes},
        {"hidraw readable but not writable", {{"hidraw1", R_OK}}, false, false, false, HIDAccessType::denied,
         {"uinput"}, mouseNodes},
        {"uinput readable only", {{"uinput", R_OK}}, false, false, false, HIDAccessType::denied, {"uinput"},
         mouseNodes},
        {"unplugged, another event node readable", {{"input/event4", R_OK}}, true, false, true, HIDAccessType::unknown,
         {"uinput"}, {}},
        {"unplugged, nothing readable", {}, true, false, false, HIDAccessType::unknown, {"uinput"}, {}},
    };
    const auto underDev = [&](const std::vector<std::string>& nodes) {
        std::vector<std::string> paths;
        for (const std::string& node : nodes) paths.push_back(dev + "/" + node);
        return paths;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::map<std::string, int> allowed;
        for (const auto& [node, modes] : c.allowed) allowed[dev + "/" + node] = modes;
        LinuxPermissionProbe::Roots roots{(root.path / (c.unplugged ? "nowhere" : "sys")).string(), dev};
        LinuxPermissionProbe probe(0x046D, 0xC099, roots, [&](const std::string& path, int mode) {
            auto found = allowed.find(path);
            return found != allowed.end() && (found->second & mode) == mode;
        });
        EXPECT_EQ(probe.isAccessibilityTrusted(), c.accessibility);
        EXPECT_EQ(probe.canListenToEvents(), c.listen);
        EXPECT_EQ(probe.hidListenAccess().rawValue, c.hid.rawValue);
        EXPECT_EQ(probe.closedPostingNodes(), underDev(c.closedPosting));
        EXPECT_EQ(probe.closedListeningNodes(), underDev(c.closedListening));
    }
    LinuxPermissionProbe probe(0x046D, 0xC099, {(root.path / "sys").string(), dev}, {});
    EXPECT_EQ(probe.eventNodes(), std::vector<std::string>{dev + "/input/event3"});
    EXPECT_EQ(probe.hidrawNodes(), std::vector<std::string>{dev + "/hidraw1"});
}

} // namespace
} // namespace ravolet::platform

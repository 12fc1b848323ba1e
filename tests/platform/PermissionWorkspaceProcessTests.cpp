#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "Platform/Linux/AutostartLoginItemService.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/LinuxPermissionProbe.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "Platform/SerialQueue.hpp"
#include "FakeHidrawTree.hpp"
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

// The parent of a process, from /proc; 0 when it has gone.
pid_t parentOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto end = line.rfind(')');
    if (end == std::string::npos) return 0;
    char state = 0;
    pid_t parent = 0;
    std::istringstream(line.substr(end + 1)) >> state >> parent;
    return state == 'Z' ? 0 : parent;
}

TEST(LinuxProcessLauncher, ALaunchedProgramIsNeverAChildOfOursAndLeavesNoZombie) {
    TemporaryFolder folder;
    const std::string pidFile = (folder.path / "sleeper.pid").string();
    LinuxProcessLauncher launcher;
    ASSERT_TRUE(launcher.launchDetached("/bin/sh", {"-c", "echo $$ > \"$0\"; exec sleep 60", pidFile}));
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(launcher.launchDetached("/usr/bin/true", {}));

    // Nothing here to wait for, running or ended: another process adopted them.
    EXPECT_EQ(children(), Children::none);
    pid_t sleeper = 0;
    ASSERT_TRUE(eventually([&] { return (std::ifstream(pidFile) >> sleeper) && sleeper > 0; }));
    EXPECT_NE(parentOf(sleeper), 0) << "it runs";
    EXPECT_NE(parentOf(sleeper), ::getpid());
    ::kill(sleeper, SIGTERM);
    EXPECT_EQ(children(), Children::none);
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

// The grants are judged by the mouse's nodes that Ravolet opens, and only by
// them: its pointer event node and its HID++ hidraw node, not its keyboard's
// event node, its pointer interface's hidraw node nor any other device's.
TEST(LinuxPermissionProbe, GrantsFollowOnlyTheMouseNodesRavoletOpens) {
    testing::FakeHidrawTree tree;
    tree.plugG502X("1-2", 1, 1); // hidraw1: the pointer interface, hidraw2: HID++
    const auto eventNode = [&](const std::string& node, const std::string& vendor, const std::string& rel) {
        const std::string folder = "sys/devices/virtual/fake/" + node;
        tree.write(folder + "/id/vendor", vendor + "\n");
        tree.write(folder + "/id/product", "c099\n");
        tree.write(folder + "/capabilities/rel", rel + "\n");
        tree.link("sys/class/input/" + node + "/device", folder);
    };
    eventNode("event3", "046d", "143"); // the mouse's pointer: REL_X, REL_Y, the wheels
    eventNode("event5", "046d", "0");   // the mouse's keyboard interface
    eventNode("event4", "1234", "3");   // another mouse
    const std::string dev = tree.roots().dev;
    for (const char* node : {"uinput", "input/event3", "input/event4", "input/event5", "hidraw1", "hidraw2"})
        tree.write("dev/" + std::string(node), "");

    struct Case {
        const char* name;
        std::map<std::string, int> allowed; // node under dev/ → modes granted
        bool unplugged;
        bool accessibility;
        bool listen;
        bool waiting;
        HIDAccessType hid;
        // The nodes named as still closed (under dev/): to post, then the mouse's.
        std::vector<std::string> closedPosting;
        std::vector<std::string> closedListening;
    };
    const std::vector<std::string> mouseNodes{"input/event3", "hidraw2"};
    const std::vector<Case> cases = {
        {"nothing granted", {}, false, false, false, false, HIDAccessType::denied, {"uinput"}, mouseNodes},
        {"what Ravolet opens, and only that",
         {{"uinput", W_OK}, {"input/event3", R_OK}, {"hidraw2", R_OK | W_OK}},
         false, true, true, false, HIDAccessType::granted, {}, {}},
        {"everything but writing to the HID++ node",
         {{"uinput", W_OK}, {"input/event3", R_OK}, {"hidraw2", R_OK}},
         false, true, true, false, HIDAccessType::denied, {}, {"hidraw2"}},
        {"the nodes Ravolet never opens",
         {{"input/event4", R_OK}, {"input/event5", R_OK}, {"hidraw1", R_OK | W_OK}},
         false, false, false, false, HIDAccessType::denied, {"uinput"}, mouseNodes},
        {"uinput readable only", {{"uinput", R_OK}}, false, false, false, false, HIDAccessType::denied, {"uinput"},
         mouseNodes},
        // Nothing to judge: waiting for the mouse, whatever else is readable.
        {"unplugged", {}, true, false, true, true, HIDAccessType::unknown, {"uinput"}, {}},
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
        LinuxPermissionProbe::Roots roots{c.unplugged ? (tree.path / "nowhere").string() : tree.roots().sys, dev};
        LinuxPermissionProbe probe(0x046D, 0xC099, roots, [&](const std::string& path, int mode) {
            if (mode == F_OK) return fs::exists(path);
            auto found = allowed.find(path);
            return found != allowed.end() && (found->second & mode) == mode;
        });
        EXPECT_EQ(probe.isAccessibilityTrusted(), c.accessibility);
        EXPECT_EQ(probe.canListenToEvents(), c.listen);
        EXPECT_EQ(probe.isWaitingForMouse(), c.waiting);
        EXPECT_EQ(probe.hidListenAccess().rawValue, c.hid.rawValue);
        EXPECT_EQ(probe.closedPostingNodes(), underDev(c.closedPosting));
        EXPECT_EQ(probe.closedListeningNodes(), underDev(c.closedListening));
        EXPECT_FALSE(probe.isPostingDeviceMissing());
    }

    // Without the uinput module there is no /dev/uinput: missing, not closed.
    fs::remove(tree.path / "dev/uinput");
    LinuxPermissionProbe probe(0x046D, 0xC099, tree.roots(), {});
    EXPECT_TRUE(probe.isPostingDeviceMissing());
    EXPECT_EQ(probe.closedPostingNodes(), std::vector<std::string>{});
}

TEST(HostNotices, AccessToTheMouseNodesAndTheAutostartEntryAreToldOfAsTheyChange) {
    TemporaryFolder root;
    for (const char* node : {"dev/input/event3", "dev/input/mouse0", "dev/hidraw1", "dev/uinput", "dev/tty0"})
        root.write(node, "");
    // The autostart folder comes only with the first entry, as on a new account.
    const fs::path entry = root.path / "config" / "autostart" / "ravolet.desktop";
    const auto queue = std::make_shared<SerialQueue>("host-notices-test", QueuePriority::userInitiated);
    LinuxPermissionProbe probe(0x046D, 0xC099, {(root.path / "sys").string(), (root.path / "dev").string()}, {});
    AutostartLoginItemService autostart(entry, "/usr/bin/ravolet", LinuxFileSystem::shared());
    std::atomic<int> access = 0;
    std::atomic<int> login = 0;
    const Subscription accessNotices = probe.observeChanges(queue, [&] { ++access; });
    const Subscription loginNotices = autostart.observeChanges(queue, [&] { ++login; });

    const auto chmod = [&](const char* node) {
        return [&root, node] { fs::permissions(root.path / node, fs::perms::others_read, fs::perm_options::add); };
    };
    struct Case {
        const char* what;
        std::function<void()> change;
        bool toldOfAccess, toldOfLogin;
    } cases[] = {
        {"the mouse's event node", chmod("dev/input/event3"), true, false},
        {"a hidraw node", chmod("dev/hidraw1"), true, false},
        {"the virtual input node", chmod("dev/uinput"), true, false},
        {"another kind of input node", chmod("dev/input/mouse0"), false, false},
        {"a node Ravolet never opens", chmod("dev/tty0"), false, false},
        {"the entry written, its folder new", [&] { ASSERT_TRUE(autostart.registerItem()); }, false, true},
        {"another program's entry", [&] { root.write("config/autostart/other.desktop", "x"); }, false, false},
        {"the entry removed by the desktop", [&] { fs::remove(entry); }, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int accessBefore = access.load();
        const int loginBefore = login.load();
        c.change();
        const auto told = [&] { return access.load() > accessBefore || login.load() > loginBefore; };
        // One change can come as two notices (a new folder, then the entry in it): let the last of them
        // arrive before the next change, so it is not counted against that one.
        if (c.toldOfAccess || c.toldOfLogin) {
            EXPECT_TRUE(eventually(told));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(access.load() > accessBefore, c.toldOfAccess);
        EXPECT_EQ(login.load() > loginBefore, c.toldOfLogin);
    }
}

} // namespace
} // namespace ravolet::platform

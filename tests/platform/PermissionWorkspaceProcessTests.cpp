#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Linux/AutostartLoginItemService.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/LinuxPermissionProbe.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Thread.hpp"
#include "FakeHidrawTree.hpp"
#include "FolderTree.hpp"
#include "ThreadTestSupport.hpp"

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
    if (ravolet::platform::testing::underThreadSanitizer) GTEST_SKIP() << "ThreadSanitizer cannot follow the launcher's child";
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
    if (ravolet::platform::testing::underThreadSanitizer) GTEST_SKIP() << "ThreadSanitizer cannot follow the launcher's child";
    TemporaryFolder folder;
    const std::string name = (folder.path / "a \"quoted\" name; $HOME 'and' *").string();
    LinuxProcessLauncher launcher;
    ASSERT_TRUE(launcher.launchDetached("/usr/bin/touch", {name}));
    EXPECT_TRUE(eventually([&] { return fs::exists(name); }));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path), fs::directory_iterator()), 1);

    EXPECT_FALSE(launcher.launchDetached("/usr/bin/shortcuts-that-is-not-here", {"run", "x"}));
    EXPECT_TRUE(eventually([] { return children() == Children::none; }));
}

std::string fileText(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The value after "name:" in a /proc status or sched text, trimmed.
std::string field(const std::string& text, const std::string& name) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with(name)) continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos || line.substr(0, colon).find_first_not_of(' ', name.size()) != std::string::npos)
            continue;
        const auto begin = line.find_first_not_of(" \t", colon + 1);
        return begin == std::string::npos ? std::string() : line.substr(begin);
    }
    return {};
}

// Field `n` (from 1) of a task's stat.
std::string statField(const fs::path& task, int n) {
    const std::string stat = fileText(task / "stat");
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string value;
    for (int i = 3; i <= n; ++i) rest >> value;
    return value;
}

// A thread's treatment as the kernel shows it.
struct Treatment {
    std::string nice, timerSlack, slice;
    friend bool operator==(const Treatment&, const Treatment&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Treatment& t) {
        return os << "nice " << t.nice << ", timer slack " << t.timerSlack << " ns, slice " << t.slice;
    }
};
// The kernel shows a thread's timer slack only to itself, and a process's (its first thread's) to others.
std::string ownTimerSlack() { return std::to_string(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)); }
Treatment treatmentOf(const fs::path& task, std::string timerSlack) {
    while (!timerSlack.empty() && timerSlack.back() == '\n') timerSlack.pop_back();
    return {statField(task, 19), std::move(timerSlack), field(fileText(task / "sched"), "se.slice")};
}

// Launched from a thread with the macro thread's treatment (urgent, a short
// slice, 1 µs of timer slack) and a signal blocked, in a process that
// ignores two signals (one of them the C library's own, which its
// sigaction refuses to touch) and holds a descriptor without close-on-exec,
// a program starts as this process's main thread started: none of that
// reaches it, it has a session of its own, and it is not our child.
TEST(LinuxProcessLauncher, AProgramStartsAsThisProcessWasStartedWhateverTheThreadThatLaunchesIt) {
    if (ravolet::platform::testing::underThreadSanitizer) GTEST_SKIP() << "ThreadSanitizer cannot follow the launcher's child";
    const pid_t self = ::getpid();
    const Treatment plain = treatmentOf("/proc/self/task/" + std::to_string(self), ownTimerSlack());
    const int cancel = 32; // the first real-time signal: the C library keeps it for cancelling threads
    unsigned long ignore[8] = {reinterpret_cast<unsigned long>(SIG_IGN)}, previous[8] = {};
    ASSERT_EQ(::syscall(SYS_rt_sigaction, cancel, ignore, previous, 8), 0);
    const auto previousHangUp = ::signal(SIGHUP, SIG_IGN);
    const int inherited = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(inherited, 3);
    const std::string duration = "37." + std::to_string(self); // tells our sleep from any other
    bool launched = false;
    Treatment urgent;
    Thread({"ai.ravolet.test.macro", ThreadPriority::userInteractive, 0}, [&] {
        sigset_t user;
        ::sigemptyset(&user);
        ::sigaddset(&user, SIGUSR1);
        ::pthread_sigmask(SIG_BLOCK, &user, nullptr);
        const auto tid = static_cast<pid_t>(::syscall(SYS_gettid));
        urgent = treatmentOf("/proc/self/task/" + std::to_string(tid), ownTimerSlack());
        launched = LinuxProcessLauncher().launchDetached("/bin/sleep", {duration});
    }).join();
    ::close(inherited);
    ::signal(SIGHUP, previousHangUp);
    ::syscall(SYS_rt_sigaction, cancel, previous, nullptr, 8);
    ASSERT_TRUE(launched);
    ASSERT_NE(urgent.timerSlack, plain.timerSlack) << "the launching thread has a treatment of its own";

    const std::string command = std::string("/bin/sleep") + '\0' + duration + '\0';
    pid_t program = 0;
    ASSERT_TRUE(eventually([&] {
        for (const auto& entry : fs::directory_iterator("/proc"))
            if (fileText(entry.path() / "cmdline") == command) program = std::stoi(entry.path().filename().string());
        return program != 0;
    }));
    const fs::path proc = "/proc/" + std::to_string(program);
    // Read once it sleeps: until then the dynamic loader may hold a library open.
    ASSERT_TRUE(eventually([&] {
        const std::string call = fileText(proc / "syscall");
        return call.starts_with(std::to_string(SYS_clock_nanosleep) + " ") || call.starts_with(std::to_string(SYS_nanosleep) + " ");
    })) << "the program never went to sleep";
    const std::string status = fileText(proc / "status");
    EXPECT_EQ(treatmentOf(proc, fileText(proc / "timerslack_ns")), plain) << "launched from a thread with " << urgent;
    EXPECT_EQ(field(status, "SigBlk"), "0000000000000000");
    EXPECT_EQ(field(status, "SigIgn"), "0000000000000000");
    std::vector<std::string> descriptors;
    for (const auto& entry : fs::directory_iterator(proc / "fd")) descriptors.push_back(entry.path().filename().string());
    std::ranges::sort(descriptors);
    EXPECT_EQ(descriptors, (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_NE(std::stoi(statField(proc, 6)), ::getsid(0)) << "a session of its own";
    EXPECT_NE(std::stoi(field(status, "PPid")), self);
    ::kill(program, SIGKILL);
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

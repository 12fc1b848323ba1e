#include "Platform/Linux/LinuxProcessLauncher.hpp"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Platform/Thread.hpp"

extern char** environ;

namespace ravolet::platform {

namespace {

// Waits for the children the launcher started and reaps each one as it ends.
// One thread serves the whole process; it runs while there are children to
// wait for and ends when there are none. It waits on each child's process
// descriptor; where the kernel has none to give, it looks at that child
// every 50 ms instead.
class ChildReaper {
public:
    // Never destroyed: its thread may still be waiting when the process exits.
    static ChildReaper& shared() {
        static ChildReaper* reaper = new ChildReaper;
        return *reaper;
    }

    void adopt(pid_t pid) {
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        bool startThread = false;
        {
            std::lock_guard lock(mutex_);
            children_.push_back({pid, pidfd});
            startThread = !running_;
            running_ = true;
        }
        if (!startThread) return wake();
        Thread thread({"ai.ravolet.reaper", ThreadPriority::utility, 0}, [this] { run(); });
        if (thread.started()) return thread.detach();
        // Tried again at the next launch.
        std::lock_guard lock(mutex_);
        running_ = false;
    }

private:
    struct Child {
        pid_t pid;
        int pidfd; // -1 when the kernel gave none
    };

    static constexpr int sweepMillis = 50;

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
    }

    void run() {
        for (;;) {
            std::vector<pollfd> fds{{wake_, POLLIN, 0}};
            std::vector<Child> children;
            {
                std::lock_guard lock(mutex_);
                if (children_.empty()) {
                    running_ = false;
                    return;
                }
                children = children_;
            }
            bool sweep = false;
            for (const Child& child : children) {
                if (child.pidfd >= 0) {
                    fds.push_back({child.pidfd, POLLIN, 0});
                } else {
                    sweep = true;
                }
            }
            ::poll(fds.data(), fds.size(), sweep ? sweepMillis : -1);
            std::uint64_t count = 0;
            [[maybe_unused]] auto read = ::read(wake_, &count, sizeof count);
            reap(children);
        }
    }

    // Reaps every child in `children` that has ended. Only this thread
    // removes children, so the copy stays true.
    void reap(const std::vector<Child>& children) {
        std::vector<pid_t> ended;
        for (const Child& child : children) {
            const pid_t result = ::waitpid(child.pid, nullptr, WNOHANG);
            // ECHILD: already reaped elsewhere (or children are not kept).
            if (result == child.pid || (result < 0 && errno == ECHILD)) ended.push_back(child.pid);
        }
        if (ended.empty()) return;
        std::vector<int> closing;
        {
            std::lock_guard lock(mutex_);
            std::erase_if(children_, [&](const Child& child) {
                if (std::ranges::find(ended, child.pid) == ended.end()) return false;
                if (child.pidfd >= 0) closing.push_back(child.pidfd);
                return true;
            });
        }
        for (int fd : closing) ::close(fd);
    }

    const int wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::mutex mutex_;
    std::vector<Child> children_;
    bool running_ = false;
};

} // namespace

bool LinuxProcessLauncher::launchDetached(const std::string& executable, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0) return false;
    sigset_t noSignals;
    sigset_t allSignals;
    ::sigemptyset(&noSignals);
    ::sigfillset(&allSignals);
    ::posix_spawnattr_setsigmask(&attributes, &noSignals);
    ::posix_spawnattr_setsigdefault(&attributes, &allSignals);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int result = ::posix_spawn(&pid, executable.c_str(), nullptr, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    if (result != 0) return false;
    ChildReaper::shared().adopt(pid);
    return true;
}

} // namespace ravolet::platform

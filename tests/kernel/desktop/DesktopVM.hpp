#pragma once

// What the desktops' kernel tests share: starting programs (a server, a
// compositor) as root or as an ordinary user, udev, and measuring how far
// the fake G502 X's motion through Ravolet's engine moves the cursor against
// what Ravolet's virtual pointer carried.

#include <fcntl.h>
#include <grp.h>
#include <linux/input.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FakeMouse/EventNodeReader.hpp"
#include "FakeMouse/FakeUSBMouse.hpp"

namespace ravolet::testing {

// A program of the test's, with its output in a log file; killed (and
// reaped) when the object goes.
class Process {
public:
    struct Options {
        std::vector<std::string> argv;
        std::vector<std::string> environment; // "NAME=value", the whole environment
        std::string log;                      // where its output goes
        std::optional<uid_t> user;            // run as this user (and group of the same number)
        std::vector<gid_t> groups;
    };

    explicit Process(const Options& options) {
        pid_ = ::fork();
        if (pid_ != 0) return;
        const int out = ::open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        ::setsid();
        if (options.user) {
            if (::setgroups(options.groups.size(), options.groups.data()) != 0 || ::setgid(*options.user) != 0 ||
                ::setuid(*options.user) != 0)
                ::_exit(126);
        }
        std::vector<char*> argv, env;
        for (const auto& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
        for (const auto& e : options.environment) env.push_back(const_cast<char*>(e.c_str()));
        argv.push_back(nullptr);
        env.push_back(nullptr);
        ::execve(argv[0], argv.data(), env.data());
        ::_exit(127);
    }
    ~Process() { stop(SIGTERM); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
        return pid_ > 0;
    }
    void stop(int signal) {
        if (pid_ <= 0) return;
        ::kill(-pid_, signal);
        ::kill(pid_, signal);
        int status = 0;
        for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

inline std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A program of the build that goes into the VM beside the test's executable.
inline std::string besideThisTest(const std::string& name) {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

// What the Wayland cursor probe (WaylandCursorProbe.cpp) last said in its
// log: the cursor's x in pixels, exact to 1/256 (-1 before it saw the
// cursor), and the width its full-screen window was given (0 before).
struct ProbeReport {
    double cursorX = -1;
    int width = 0;
};
inline ProbeReport probeReport(const std::string& log) {
    ProbeReport report;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        int x = 0, y = 0;
        if (std::sscanf(line.c_str(), "motion %d %d", &x, &y) == 2 || std::sscanf(line.c_str(), "enter %d %d", &x, &y) == 2)
            report.cursorX = x / 256.0;
        else if (std::sscanf(line.c_str(), "size %d %d", &x, &y) == 2)
            report.width = x;
    }
    return report;
}

// Waits until `ready` or the limit; whether it became ready.
inline bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// udev, which tags input devices for libinput and keeps their properties
// (udev's database) where the desktops and Ravolet read them. Once per boot.
inline bool startUdev() {
    static const bool started = std::system("/usr/lib/systemd/systemd-udevd --daemon") == 0 &&
                                std::system("udevadm trigger --action=add && udevadm settle") == 0;
    return started;
}

// One measurement: `frames` reports of `counts` in +x from the mouse, one
// every `interval`; what Ravolet's virtual pointer carried (REL_X summed) and
// how far the cursor went, once both have come to rest.
struct Travel {
    std::int64_t emitted = 0;
    double moved = 0;
};

inline Travel measureTravel(FakeUSBMouse& mouse, EventNodeReader& virtualPointer, const std::function<double()>& cursorX,
                            int frames, int counts, std::chrono::microseconds interval) {
    virtualPointer.readFrames(1000, std::chrono::milliseconds(50)); // what came before
    const double start = cursorX();
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        (void)mouse.move(counts, 0);
        next += interval;
        std::this_thread::sleep_until(next);
    }
    Travel travel;
    // Quiet for half a second on the virtual pointer, then the cursor still
    // for a second (a desktop in a busy emulated machine may lag behind).
    for (;;) {
        const auto got = virtualPointer.readFrames(1000, std::chrono::milliseconds(500));
        if (got.empty()) break;
        for (const auto& frame : got)
            for (const auto& e : frame)
                if (e.type == EV_REL && e.code == REL_X) travel.emitted += e.value;
    }
    double last = cursorX();
    for (int still = 0; still < 10;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double now = cursorX();
        still = now == last ? still + 1 : 0;
        last = now;
    }
    travel.moved = last - start;
    return travel;
}

} // namespace ravolet::testing

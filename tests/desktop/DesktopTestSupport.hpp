#pragma once

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Executor.hpp"
#include "Platform/Linux/DesktopEntryCatalogue.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Workspace.hpp"
#include "tests/platform/FolderTree.hpp"

namespace ravolet::platform::testing {

// How long a desktop may take to answer before a test gives up on it: far
// beyond what any of them needs, only so that a broken one fails instead of
// hanging.
inline constexpr std::chrono::seconds patience{30};

// Waits until `ready` holds, looking again every few milliseconds; false when
// it never did within `patience`.
inline bool waitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit = patience) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A program a test starts (a display server, a compositor, a bus, a window),
// ended with SIGTERM (then SIGKILL) when dropped. Its output goes to `log`.
class Child {
public:
    struct Options {
        std::vector<std::string> arguments = {};
        // Added to (or replacing in) the test's environment.
        std::vector<std::pair<std::string, std::string>> environment = {};
        // Taken out of the test's environment.
        std::vector<std::string> unset = {};
        std::filesystem::path log = "/dev/null";
        // Run as this user and group (a compositor that refuses root).
        std::optional<std::pair<uid_t, gid_t>> user = {};
        // A descriptor handed to the child as this number (a readiness pipe).
        std::optional<std::pair<int, int>> descriptor = {};
    };

    Child() = default;
    explicit Child(const Options& options) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            bool replaced = std::ranges::find(options.unset, name) != options.unset.end();
            for (const auto& [key, value] : options.environment) replaced = replaced || key == name;
            if (!replaced) environment.push_back(text);
        }
        for (const auto& [key, value] : options.environment) environment.push_back(key + "=" + value);
        std::vector<char*> argv, envp;
        for (const auto& argument : options.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ != 0) return;
        ::setpgid(0, 0);
        ::signal(SIGTERM, SIG_DFL);
        const int log = ::open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        if (options.descriptor) ::dup2(options.descriptor->first, options.descriptor->second);
        if (options.user) {
            if (::setgid(options.user->second) != 0 || ::setuid(options.user->first) != 0) ::_exit(126);
        }
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ~Child() { stop(); }
    Child(Child&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
    Child& operator=(Child&& other) noexcept {
        stop();
        pid_ = std::exchange(other.pid_, -1);
        return *this;
    }

    pid_t pid() const { return pid_; }
    // Waits for the program to end by itself; its exit status, or -1.
    int wait() {
        int status = 0;
        if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool running() const {
        if (pid_ <= 0) return false;
        int status = 0;
        return ::waitpid(pid_, &status, WNOHANG) == 0;
    }
    // Ends the program and its own children; true when it ended within the patience.
    bool stop() {
        if (pid_ <= 0) return true;
        ::kill(-pid_, SIGTERM);
        ::kill(pid_, SIGTERM);
        const bool ended = waitUntil([this] {
            int status = 0;
            return ::waitpid(pid_, &status, WNOHANG) != 0;
        }, std::chrono::seconds(10));
        if (!ended) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
        return ended;
    }

private:
    pid_t pid_ = -1;
};

// A bus of its own; ready once it has printed its address.
struct PrivateBus {
    PrivateBus() = default;
    // `environment`: what the services it starts on demand (dconf) see.
    explicit PrivateBus(const std::filesystem::path& log,
                        const std::vector<std::pair<std::string, std::string>>& environment = {}) {
        int pipe[2];
        if (::pipe(pipe) != 0) return;
        daemon = Child({.arguments = {"dbus-daemon", "--session", "--nofork", "--print-address=9"},
                        .environment = environment,
                        .log = log,
                        .descriptor = std::pair{pipe[1], 9}});
        ::close(pipe[1]);
        char c;
        while (::read(pipe[0], &c, 1) == 1 && c != '\n') address += c;
        ::close(pipe[0]);
    }
    Child daemon;
    std::string address;
};

// A connection of the test's own to a bus, to act on what is there; null
// when it cannot be reached.
inline GDBusConnection* connectToBus(const std::string& address) {
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

// Xvfb on a display number of its choosing; ready once it has written it.
// With `authority`, it lets in only clients that show the cookie the file
// then holds for it (as a desktop's X server does; XAUTHORITY names the file
// to clients).
struct XServer {
    explicit XServer(const std::optional<std::filesystem::path>& authority = std::nullopt,
                     const std::string& screen = "640x480x24") {
        const std::string cookie = "0123456789abcdef0123456789abcdef";
        std::vector<std::string> arguments{"Xvfb", "-displayfd", "9", "-nolisten", "tcp", "-screen", "0", screen};
        if (authority) {
            Child({.arguments = {"xauth", "-f", authority->string() + ".server", "add", ":0", ".", cookie}}).wait();
            arguments.insert(arguments.end(), {"-auth", authority->string() + ".server"});
        }
        int pipe[2];
        if (::pipe(pipe) != 0) return;
        server = Child({.arguments = arguments, .descriptor = std::pair{pipe[1], 9}});
        ::close(pipe[1]);
        std::string number;
        char c;
        while (::read(pipe[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(pipe[0]);
        if (number.empty()) return;
        display = ":" + number;
        if (authority) Child({.arguments = {"xauth", "-f", authority->string(), "add", display, ".", cookie}}).wait();
    }
    Child server;
    std::string display;
};

// Runs work at once on the thread that posts it (the source's), for a test
// that waits on what arrives.
class InlineExecutor final : public Executor {
public:
    void post(Task task) override { task(); }
    bool isCurrent() const override { return true; }
};

// Every activation a workspace delivers, for a test to wait on.
class ActivationLog {
public:
    Subscription follow(Workspace& workspace) {
        return workspace.subscribeToActivations(std::make_shared<InlineExecutor>(),
                                                [this](const ApplicationActivation& activation) {
                                                    std::lock_guard guard(lock_);
                                                    activations_.push_back(activation);
                                                    arrived_.notify_all();
                                                });
    }
    // The next activation that arrives (or one not yet taken); none when none
    // came within the patience.
    std::optional<ApplicationActivation> next() {
        std::unique_lock guard(lock_);
        if (!arrived_.wait_for(guard, patience, [this] { return !activations_.empty(); })) return std::nullopt;
        ApplicationActivation activation = activations_.front();
        activations_.pop_front();
        return activation;
    }
    // Skips activations until one for `bundleID` (none: for no identifier);
    // false when none came.
    bool awaitBundleID(const std::optional<std::string>& bundleID) {
        while (auto activation = next())
            if (activation->bundleID() == bundleID) return true;
        return false;
    }
    // Drops what has arrived, so that what comes next answers what the test
    // does next.
    void forget() {
        std::lock_guard guard(lock_);
        activations_.clear();
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<ApplicationActivation> activations_;
};

// Three focus moves between the windows of `a` and `b`, the first to the one
// not in front: a compositor puts a new window in front, and which of the two
// came last is its to decide.
inline std::vector<std::string> switchesBetween(const Workspace& workspace, const std::string& a,
                                                const std::string& b) {
    const auto front = workspace.frontmostApplication();
    if (front && front->bundleID == a) return {b, a, b};
    return {a, b, a};
}

// The GTK windows of the test applications org.test.Alpha and org.test.Beta
// on the Wayland display `display`, each with its id as its app_id (and GNOME
// Shell's application id, with a desktop entry of that name); run with
// `environment` (as `user`), their output in windows.log in `folder`.
inline std::vector<Child> gtkWindows(const std::filesystem::path& folder,
                                     std::vector<std::pair<std::string, std::string>> environment,
                                     const std::string& display, std::optional<std::pair<uid_t, gid_t>> user = {}) {
    std::ofstream(folder / "window.js")
        << "imports.gi.versions.Gtk = '3.0';\n"
           "const { Gtk, Gio, GLib } = imports.gi;\n"
           // Without a session bus GTK names the window after the program.
           "GLib.set_prgname(ARGV[0]);\n"
           "const app = new Gtk.Application({ application_id: ARGV[0], flags: Gio.ApplicationFlags.NON_UNIQUE });\n"
           "app.connect('activate', () => {\n"
           "    const window = new Gtk.ApplicationWindow({ application: app, title: ARGV[0] });\n"
           "    window.set_default_size(200, 100);\n"
           "    window.show_all();\n"
           "});\n"
           "app.run([]);\n";
    environment.insert(environment.end(),
                       {{"WAYLAND_DISPLAY", display}, {"GDK_BACKEND", "wayland"}, {"NO_AT_BRIDGE", "1"}});
    std::vector<Child> windows;
    for (const char* id : {"org.test.Alpha", "org.test.Beta"}) {
        windows.emplace_back(Child::Options{.arguments = {"gjs", (folder / "window.js").string(), id},
                                            .environment = environment,
                                            .unset = {"DISPLAY"},
                                            .log = folder / "windows.log",
                                            .user = user});
    }
    return windows;
}

// The end of a log, for a failure message.
inline std::string tail(const std::filesystem::path& log, std::size_t bytes = 3000) {
    std::ifstream stream(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    return "\n--- " + log.filename().string() + " ---\n" + (text.size() > bytes ? text.substr(text.size() - bytes) : text);
}

// Whether a program is installed, for a test to fail with a clear message
// when a package is missing.
inline bool installed(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        if (::access((folders.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Desktop entries a test installs for its windows, in a data folder of its own.
struct TestApplications {
    explicit TestApplications(const std::string& name) : tree(name) {}

    void add(const std::string& id, const std::string& name, const std::string& extra = {}) const {
        tree.write("applications/" + id + ".desktop",
                   "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\n" + extra);
    }
    std::shared_ptr<DesktopEntryCatalogue> catalogue() const {
        return std::make_shared<DesktopEntryCatalogue>(LinuxFileSystem::shared(), tree.path,
                                                       std::vector<std::filesystem::path>{});
    }

    FolderTree tree;
};

} // namespace ravolet::platform::testing

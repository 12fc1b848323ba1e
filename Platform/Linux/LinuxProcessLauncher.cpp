#include "Platform/Linux/LinuxProcessLauncher.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace ravolet::platform {

namespace {

// Between the fork and the exec the copies may only make async-signal-safe
// calls: the process they were copied from has other threads, whose locks
// stay held in the copies.
[[noreturn]] void reportAndEnd(int report, int code) {
    [[maybe_unused]] const auto written = ::write(report, &code, sizeof code);
    ::_exit(127);
}

[[noreturn]] void startProgram(int report, const char* executable, char* const* argv) {
    // Nothing of this process's signal handling reaches the program.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) (void)::sigaction(signal, &standard, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(executable, argv, environ);
    reportAndEnd(report, errno);
}

} // namespace

bool LinuxProcessLauncher::launchDetached(const std::string& executable, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // The program's exec closes this pipe; a failed one writes its errno first.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    // No handler of this process may run in a copy before it has reset them
    // (one writes to a descriptor this process reads).
    sigset_t all;
    sigset_t previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t intermediate = ::_Fork();
    if (intermediate == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t program = ::_Fork();
        if (program == 0) startProgram(report[1], executable.c_str(), argv.data());
        if (program < 0) reportAndEnd(report[1], errno);
        ::_exit(0);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(report[1]);
    if (intermediate < 0) {
        ::close(report[0]);
        return false;
    }
    // It ends as soon as it has forked: the only wait, and a short one.
    while (::waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
    }
    int code = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &code, sizeof code);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    return got == 0;
}

} // namespace ravolet::platform

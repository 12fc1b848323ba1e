#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

namespace ravolet::testing {

// Whether this process runs inside the kernel test VM: scripts/kernel-test.sh
// puts its mark on the kernel's command line. Programs that need the VM's
// kernel (the kernel tests, the kernel benchmarks) refuse to run elsewhere.
inline bool insideKernelTestVM() {
    std::ifstream file("/proc/cmdline");
    std::string word;
    while (file >> word) {
        if (word == "ravolet.kerneltest=1") return true;
    }
    return false;
}

// Runs `body` in a child that has become "nobody", as a user without root's
// override; its result is the child's exit code (99 when the privileges
// could not be dropped), -1 when the child did not end normally.
inline int asNobody(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

} // namespace ravolet::testing

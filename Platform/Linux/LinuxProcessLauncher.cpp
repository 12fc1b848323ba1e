#include "Platform/Linux/LinuxProcessLauncher.hpp"

#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "Platform/SchedulingAttributes.hpp"

extern char** environ;

namespace ravolet::platform {

namespace {

// How the process itself was started, read before any thread of ours changed
// its own treatment (this runs on the main thread, as the program loads): a
// launched program is given the same, whichever thread launches it.
struct Treatment {
    int nice;
    unsigned long timerSlack;
};
const Treatment startedWith{[] {
                                errno = 0;
                                const int nice = ::getpriority(PRIO_PROCESS, 0);
                                return errno == 0 ? nice : 0;
                            }(),
                            [] {
                                const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
                                return slack > 0 ? static_cast<unsigned long>(slack) : 50'000UL;
                            }()};

// A signal set as the kernel takes it (64 signals).
constexpr std::size_t kernelSigsetSize = 8;

struct Launch {
    const char* executable;
    char* const* argv;
    char* const* envp;
    char* programStack; // the top of the program's stack until its exec
    // 1 until the program has been exec'd or has given up: the kernel clears
    // it then (it is the program's thread-id word, CLONE_CHILD_CLEARTID) and
    // wakes the launching thread; the intermediate clears it when it could
    // not start the program at all.
    pid_t starting = 1;
    // Why the program did not start: the first failure's errno; 0 when it
    // did. Written by one copy at a time, read once both are done.
    int error = 0;
};

constexpr std::size_t stackSize = 64 * 1024;

// The two copies below share this process's memory until the program's exec
// (clone with CLONE_VM, as posix_spawn does), so nothing of the process is
// copied; each runs on a stack of its own, and the thread that launches
// waits, every signal held back, until the program has been exec'd. They
// make only system calls: the process's other threads run on, and their
// locks are held as they are. They run on the launching thread's errno (it
// waits without looking at it), and nothing here is instrumented by a
// sanitizer, whose state is that thread's.
#define RAVOLET_UNINSTRUMENTED __attribute__((no_sanitize("address", "undefined", "thread"), noinline))

RAVOLET_UNINSTRUMENTED void fail(Launch& launch, int code) {
    if (launch.error == 0) launch.error = code;
}

RAVOLET_UNINSTRUMENTED void giveUp(Launch& launch, int code) {
    fail(launch, code);
    __atomic_store_n(&launch.starting, 0, __ATOMIC_RELEASE);
    ::syscall(SYS_futex, &launch.starting, FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

// The program: with nothing held back, its own executable.
RAVOLET_UNINSTRUMENTED int startProgram(void* raw) {
    Launch& launch = *static_cast<Launch*>(raw);
    const std::uint64_t none = 0;
    (void)::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, kernelSigsetSize);
    ::syscall(SYS_execve, launch.executable, launch.argv, launch.envp);
    fail(launch, errno);
    ::syscall(SYS_exit, 127);
    return 127;
}

// The short-lived copy between. It makes the program's start as the
// desktop's own programs start: a session of its own (so that a signal to
// Ravolet's terminal or group does not reach it); the scheduling the process
// was started with (its nice value and the default time slice) and its timer
// slack, which the program takes as its default too; every signal at its
// default (the C library's own two, which its sigaction refuses to touch,
// included); and no descriptor but 0, 1 and 2. Then it starts the program
// and is gone at once, so that the program is never a child of this
// process: the system's reaper (init, or the session's service manager)
// adopts it.
RAVOLET_UNINSTRUMENTED int startIntermediate(void* raw) {
    Launch& launch = *static_cast<Launch*>(raw);
    if (::syscall(SYS_setsid) < 0) {
        giveUp(launch, errno);
        return 0;
    }
    // SIG_DFL is 0: an all-zero action is the default, whatever the layout.
    const unsigned long standard[8] = {};
    for (long signal = 1; signal <= 64; ++signal)
        (void)::syscall(SYS_rt_sigaction, signal, standard, nullptr, kernelSigsetSize);
    SchedulingAttributes attributes;
    attributes.nice = startedWith.nice;
    // A nice value below the launching thread's needs a privilege: then its
    // own, with the rest of the scheduling still reset.
    if (::syscall(SYS_sched_setattr, 0, &attributes, 0U) != 0) {
        // The system call gives 20 - nice (1 to 40), the C library's getpriority undoes that.
        attributes.nice = static_cast<std::int32_t>(20 - ::syscall(SYS_getpriority, PRIO_PROCESS, 0));
        (void)::syscall(SYS_sched_setattr, 0, &attributes, 0U);
    }
    (void)::syscall(SYS_prctl, PR_SET_TIMERSLACK, startedWith.timerSlack, 0UL, 0UL, 0UL);
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
        rlimit limit{};
        const long open = ::syscall(SYS_getrlimit, RLIMIT_NOFILE, &limit) == 0 ? static_cast<long>(limit.rlim_cur) : 1024;
        for (long fd = 3; fd < open; ++fd) (void)::syscall(SYS_close, fd);
    }
    if (::clone(&startProgram, launch.programStack, CLONE_VM | CLONE_CHILD_CLEARTID | SIGCHLD, &launch, nullptr,
                nullptr, &launch.starting) < 0)
        giveUp(launch, errno);
    return 0;
}

} // namespace

bool LinuxProcessLauncher::launchDetached(const std::string& executable, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    void* stacks = ::mmap(nullptr, 2 * stackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stacks == MAP_FAILED) return false;
    char* const base = static_cast<char*>(stacks);
    Launch launch{executable.c_str(), argv.data(), environ, base + 2 * stackSize};
    const int saved = errno;
    // No handler of this process may run in a copy before the program has
    // reset them, nor here while the copies may write this thread's errno:
    // every signal is held back meanwhile, the C library's own too (its
    // sigprocmask would let those through).
    const std::uint64_t all = ~std::uint64_t{0};
    std::uint64_t previous = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &all, &previous, kernelSigsetSize);
    const pid_t intermediate = ::clone(&startIntermediate, base + stackSize, CLONE_VM | SIGCHLD, &launch);
    if (intermediate > 0) {
        // One wake-up, once the program has been exec'd (or has given up).
        for (pid_t now; (now = __atomic_load_n(&launch.starting, __ATOMIC_ACQUIRE)) != 0;)
            ::syscall(SYS_futex, &launch.starting, FUTEX_WAIT, now, nullptr, nullptr, 0);
        // The intermediate ended as soon as it had started the program: its
        // stack is free once it is reaped.
        ::waitpid(intermediate, nullptr, 0);
    }
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &previous, nullptr, kernelSigsetSize);
    ::munmap(stacks, 2 * stackSize);
    errno = saved;
    return intermediate > 0 && launch.error == 0;
}

} // namespace ravolet::platform

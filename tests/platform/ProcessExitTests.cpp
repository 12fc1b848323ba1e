// How the process's threads end. Each test runs in a child process of its
// own, which ends its threads for good.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "Platform/RunLoopThread.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Thread.hpp"
#include "ThreadTestSupport.hpp"

namespace ravolet::platform {
namespace {

using namespace std::chrono_literals;
using testing::ChildChecks;
using testing::Counter;
using testing::Sentinel;

[[noreturn]] void exitWhileAQueueReleasedOnItsOwnThreadStillRuns() {
    testing::failExitIfOurThreadsRemain();
    std::atomic<bool> letGo{false};
    std::atomic<bool> released{false};
    {
        auto queue = std::make_shared<SerialQueue>("ai.ravolet.test", QueuePriority::defaultPriority);
        queue->async([&letGo, &released, queue]() mutable {
            while (!letGo) std::this_thread::yield();
            queue.reset(); // the last reference: released on its own thread
            released = true;
            std::this_thread::sleep_for(100ms);
        });
    }
    letGo = true;
    while (!released) std::this_thread::yield();
    std::exit(0);
}

[[noreturn]] void startThreadsAfterFinishingThem() {
    ChildChecks check;
    finishThreads();
    Counter released;
    {
        Thread thread(Thread::Options{"ai.ravolet.test"}, [s = std::make_shared<Sentinel>(&released)] {});
        check.expect(!thread.started(), "a thread started after finishThreads()");
    }
    check.expect(released.value() == 1, "the body of a thread that did not start was kept");

    SerialQueue queue("ai.ravolet.test", QueuePriority::defaultPriority);
    check.expect(!queue.started(), "a queue without its thread reports it started");
    bool ran = false;
    check.expect(!queue.sync([&] { ran = true; }) && !ran, "sync() on a queue without its thread");
    queue.async([s = std::make_shared<Sentinel>(&released)] {});
    check.expect(released.value() == 2, "a block given to a queue without its thread was kept");
    check.expect(queue.asyncAfter(0, [] {}).isCancelled(), "a deadline block's handle is live");

    RunLoopThread loop(Thread::Options{"ai.ravolet.test"});
    check.expect(!loop.start() && !loop.isRunning() && !loop.runLoop(), "a run loop thread started");
    check.exitWithResult();
}

// A process that launched a program which runs on (an application a button
// opened, the pointer guard that waits for this very process to end) ends
// as soon as it is asked to, and the program keeps running after it.
[[noreturn]] void exitWhileALaunchedProgramRunsOn() {
    ChildChecks check;
    const std::string pidFile = "/tmp/ravolet-launched-" + std::to_string(::getpid());
    const pid_t exiting = ::fork();
    if (exiting == 0) {
        LinuxProcessLauncher launcher;
        const bool launched = launcher.launchDetached("/bin/sh", {"-c", "echo $$ > \"$0\"; exec sleep 30", pidFile});
        // As main() returns: every thread of ours is finished first.
        finishThreads();
        std::exit(launched ? 0 : 3);
    }
    bool ended = false;
    int status = -1;
    for (const auto limit = std::chrono::steady_clock::now() + 5s; !ended && std::chrono::steady_clock::now() < limit;) {
        ended = ::waitpid(exiting, &status, WNOHANG) == exiting;
        if (!ended) std::this_thread::sleep_for(10ms);
    }
    check.expect(ended, "the process did not end within 5 s of its exit");
    if (!ended) {
        ::kill(exiting, SIGKILL);
        ::waitpid(exiting, nullptr, 0);
    }
    check.expect(!ended || (WIFEXITED(status) && WEXITSTATUS(status) == 0), "the program was not launched");
    pid_t program = 0;
    for (const auto limit = std::chrono::steady_clock::now() + 5s; program <= 0 && std::chrono::steady_clock::now() < limit;) {
        std::ifstream(pidFile) >> program;
        if (program <= 0) std::this_thread::sleep_for(10ms);
    }
    check.expect(program > 0 && ::kill(program, 0) == 0, "the launched program did not run on");
    if (program > 0) ::kill(program, SIGKILL);
    std::remove(pidFile.c_str());
    check.exitWithResult();
}

TEST(ProcessExit, AProgramItLaunchedThatRunsOnNeverHoldsTheExit) {
    if (ravolet::platform::testing::underThreadSanitizer) GTEST_SKIP() << "ThreadSanitizer cannot follow the launcher's child";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exitWhileALaunchedProgramRunsOn(), ::testing::ExitedWithCode(0), "");
}

// A queue released by its own block cannot wait for its thread, which still
// runs the rest of that block. The process waits for it at exit, so that it
// never runs on while static objects are destroyed.
TEST(ProcessExit, AThreadThatReleasedItsOwnQueueIsWaitedForAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exitWhileAQueueReleasedOnItsOwnThreadStillRuns(), ::testing::ExitedWithCode(0), "");
}

// Once the threads are finished none starts, as when the system refuses one:
// every owner says so and releases what it is given unrun; nothing waits.
TEST(ProcessExit, OwnersOfThreadsThatCannotStartReportItAndFailTheirWork) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(startThreadsAfterFinishingThem(), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace ravolet::platform

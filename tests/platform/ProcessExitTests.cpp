// How the process's threads end. Each test runs in a child process of its
// own, which ends its threads for good.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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

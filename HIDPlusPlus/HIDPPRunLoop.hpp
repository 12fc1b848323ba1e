#pragma once

#include <memory>

#include "Platform/RunLoop.hpp"
#include "Platform/RunLoopThread.hpp"
#include "Platform/Task.hpp"

namespace ravolet {

// The one thread on which every HID object of the HID++ client lives: opened
// devices and their input-report callbacks, the hot-plug notification source,
// the request and cool-down timers, and the handling of every reply and
// notification. Other threads never touch those objects; they hand work to
// this thread with perform(). One instance per process, created on first use
// through shared() and never destroyed.
//
// The thread runs until the process finishes its threads (see
// platform::finishThreads(): as main() returns, at the latest at exit), so that
// nothing is torn down on it while static objects are destroyed: the blocks
// performed until then still run (a released device's link is closed), then
// the thread is stopped and joined; what those blocks perform in turn, and
// timers, are released without running. A thread that cannot be started is
// reported (isRunning() false, runLoop() empty); blocks performed without a
// running thread are released at once without running.
class HIDPPRunLoop {
public:
    // The process-wide instance, created exactly once even when first reached
    // from several threads at a time. The first call returns once the I/O
    // thread ("ai.ravolet.hidpp", user-initiated, 512 KiB stack) runs, or has
    // failed to start.
    static HIDPPRunLoop& shared();

    // Schedules the block on the I/O thread and returns at once. Blocks run in
    // the order they were performed (across all threads), one at a time.
    void perform(platform::Task block);

    // The I/O thread's run loop, for scheduling devices, notification sources
    // and timers on it; empty when the thread is not running. Callers keep the
    // returned reference.
    std::shared_ptr<platform::RunLoop> runLoop() const;
    bool isRunning() const;

    static constexpr const char* threadName = "ai.ravolet.hidpp";
    static constexpr std::size_t stackSize = 0x80000; // 512 KiB

    HIDPPRunLoop(const HIDPPRunLoop&) = delete;
    HIDPPRunLoop& operator=(const HIDPPRunLoop&) = delete;

private:
    HIDPPRunLoop();
    ~HIDPPRunLoop() = default;
    // Runs what was performed so far, then stops the thread and waits for it.
    void finish();

    platform::RunLoopThread thread_;
};

} // namespace ravolet

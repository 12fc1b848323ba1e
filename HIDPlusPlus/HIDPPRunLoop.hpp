#pragma once

#include <memory>
#include <mutex>
#include <semaphore>

#include "Platform/RunLoop.hpp"
#include "Platform/Task.hpp"

namespace ravolet {

// The one thread on which every HID object of the HID++ client lives: opened
// devices and their input-report callbacks, the hot-plug notification source,
// the request and cool-down timers, and the handling of every reply and
// notification. Other threads never touch those objects; they hand work to
// this thread with perform(). One instance per process, created on first use
// through shared() and never destroyed.
class HIDPPRunLoop {
public:
    // The process-wide instance, created exactly once even when first reached
    // from several threads at a time. The first call returns only once the
    // I/O thread ("ai.ravolet.hidpp", user-initiated, 512 KiB stack) runs.
    static HIDPPRunLoop& shared();

    // Schedules the block on the I/O thread and returns at once. Blocks run in
    // the order they were performed (across all threads), one at a time.
    void perform(platform::Task block);

    // The I/O thread's run loop, read under the lock, for scheduling devices,
    // notification sources and timers on it. Callers keep the returned
    // reference and use it after the lock is released.
    std::shared_ptr<platform::RunLoop> runLoop() const;

    static constexpr const char* threadName = "ai.ravolet.hidpp";
    static constexpr std::size_t stackSize = 0x80000; // 512 KiB

    HIDPPRunLoop(const HIDPPRunLoop&) = delete;
    HIDPPRunLoop& operator=(const HIDPPRunLoop&) = delete;

private:
    HIDPPRunLoop();
    ~HIDPPRunLoop() = default;

    // Guards runLoop_, which the I/O thread writes once when it starts.
    mutable std::mutex lock_;
    std::shared_ptr<platform::RunLoop> runLoop_;
    // Signalled once by the I/O thread when runLoop_ is set.
    std::binary_semaphore ready_{0};
};

} // namespace ravolet

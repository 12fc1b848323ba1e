#include "HIDPlusPlus/HIDPPRunLoop.hpp"

#include <chrono>

#include "Platform/PostedWork.hpp"
#include "Platform/Thread.hpp"

namespace ravolet {

HIDPPRunLoop& HIDPPRunLoop::shared() {
    // A function-local static is initialised exactly once even when several
    // threads arrive together; the others wait until the first is done, which
    // includes the I/O thread's hand-shake. The object is never destroyed
    // (blocks may be performed until the very end); its thread is stopped when
    // the process finishes its threads.
    static HIDPPRunLoop* const instance = [] {
        auto* loop = new HIDPPRunLoop();
        platform::onFinishThreads([loop] { loop->finish(); });
        return loop;
    }();
    return *instance;
}

HIDPPRunLoop::HIDPPRunLoop()
    : thread_(platform::Thread::Options{threadName, platform::ThreadPriority::userInitiated, stackSize}) {
    // start() returns once the loop exists, or at once when the thread could
    // not be started; the loop is then simply absent.
    thread_.start();
}

void HIDPPRunLoop::perform(platform::Task block) { thread_.perform(std::move(block)); }

std::shared_ptr<platform::RunLoop> HIDPPRunLoop::runLoop() const { return thread_.runLoop(); }

bool HIDPPRunLoop::isRunning() const { return thread_.isRunning(); }

void HIDPPRunLoop::finish() {
    // What was handed over before now still runs: a released device's link
    // is closed and its monitor stopped, rather than left open. A loop that
    // does not get there within a few seconds is stopped all the same.
    if (auto loop = runLoop(); loop && !loop->isCurrent()) platform::waitForPostedWork(*loop, std::chrono::seconds(2));
    thread_.stop();
}

} // namespace ravolet

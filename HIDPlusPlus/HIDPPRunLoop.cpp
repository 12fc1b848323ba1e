#include "HIDPlusPlus/HIDPPRunLoop.hpp"

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
        platform::onFinishThreads([loop] { loop->thread_.stop(); });
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

} // namespace ravolet

#include "HIDPlusPlus/HIDPPRunLoop.hpp"

#include "Platform/Thread.hpp"

namespace ravolet {

HIDPPRunLoop& HIDPPRunLoop::shared() {
    // A function-local static is initialised exactly once even when several
    // threads arrive together; the others wait until the first is done, which
    // includes the I/O thread's hand-shake. Never destroyed: the I/O thread
    // runs for the life of the process.
    static HIDPPRunLoop* const instance = new HIDPPRunLoop();
    return *instance;
}

HIDPPRunLoop::HIDPPRunLoop() {
    platform::Thread thread(
        platform::Thread::Options{threadName, platform::ThreadPriority::userInitiated, stackSize}, [this] {
            std::shared_ptr<platform::RunLoop> loop = platform::RunLoop::current();
            {
                std::lock_guard guard(lock_);
                runLoop_ = loop;
            }
            ready_.release();
            // Nothing stops this loop; a run that returns is simply run again.
            for (;;) loop->runFor(1.0e10);
        });
    // The thread object is not kept: the run loop is what later code reaches.
    thread.detach();
    ready_.acquire();
}

void HIDPPRunLoop::perform(platform::Task block) {
    // Always present: shared() returns only after the thread published it.
    if (auto loop = runLoop()) loop->perform(std::move(block));
}

std::shared_ptr<platform::RunLoop> HIDPPRunLoop::runLoop() const {
    std::lock_guard guard(lock_);
    return runLoop_;
}

} // namespace ravolet

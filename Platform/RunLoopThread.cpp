#include "Platform/RunLoopThread.hpp"

#include <atomic>
#include <condition_variable>

namespace ravolet::platform {

struct RunLoopThread::Session {
    std::mutex mutex;
    std::condition_variable readyChanged;
    std::shared_ptr<RunLoop> loop; // set once by the thread, under mutex
    bool ready = false;
    std::atomic<bool> stopRequested{false};
};

RunLoopThread::RunLoopThread(Thread::Options options) : options_(std::move(options)) {}

RunLoopThread::~RunLoopThread() { stop(); }

bool RunLoopThread::start() {
    {
        std::lock_guard lock(mutex_);
        if (session_) return false;
    }
    auto session = std::make_shared<Session>();
    Thread thread(options_, [session] {
        std::shared_ptr<RunLoop> loop = RunLoop::current();
        {
            std::lock_guard lock(session->mutex);
            session->loop = loop;
            session->ready = true;
            session->readyChanged.notify_all();
        }
        // A stop() is never lost: it either ends the run in progress or makes
        // the next one return at once, and the flag is read after each run.
        while (!session->stopRequested.load(std::memory_order_acquire)) loop->run();
    });
    if (!thread.started()) return false;
    {
        std::unique_lock lock(session->mutex);
        session->readyChanged.wait(lock, [&] { return session->ready; });
    }
    std::lock_guard lock(mutex_);
    session_ = std::move(session);
    thread_ = std::move(thread);
    return true;
}

void RunLoopThread::stop() {
    std::shared_ptr<Session> session;
    Thread thread;
    {
        std::lock_guard lock(mutex_);
        session = std::move(session_);
        thread = std::move(thread_);
    }
    if (!session) return;
    session->stopRequested.store(true, std::memory_order_release);
    session->loop->stop();
    // Joins, or detaches when stop() runs on the loop's own thread.
    thread = Thread();
}

bool RunLoopThread::isRunning() const {
    std::lock_guard lock(mutex_);
    return session_ != nullptr;
}

std::shared_ptr<RunLoop> RunLoopThread::runLoop() const {
    std::lock_guard lock(mutex_);
    return session_ ? session_->loop : nullptr;
}

void RunLoopThread::perform(Task block) {
    if (auto loop = runLoop()) loop->perform(std::move(block));
}

} // namespace ravolet::platform

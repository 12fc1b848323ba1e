#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "Platform/RunLoop.hpp"
#include "Platform/Thread.hpp"

namespace ravolet::platform {

// A thread that owns a run loop and runs it until stopped. start() returns once
// the loop exists; stop() ends the loop and joins the thread; it can then be
// started again (a new thread with a new loop). Blocks performed on a stopped
// loop never run. start() and stop() are called by the owner, one at a time;
// runLoop(), perform() and isRunning() from any thread.
class RunLoopThread {
public:
    explicit RunLoopThread(Thread::Options options);
    RunLoopThread(std::string name, ThreadPriority priority, std::size_t stackSize)
        : RunLoopThread(Thread::Options{std::move(name), priority, stackSize}) {}
    // Stops the thread.
    ~RunLoopThread();
    RunLoopThread(const RunLoopThread&) = delete;
    RunLoopThread& operator=(const RunLoopThread&) = delete;

    // Starts the thread and waits until its run loop exists. False when it is
    // already running or the thread could not be created.
    bool start();

    // Stops the loop and waits for the thread to end. Harmless when stopped.
    // Called from the loop's own thread it only asks the loop to stop (the
    // thread cannot wait for itself) and the thread ends after the block.
    void stop();

    bool isRunning() const;

    // The running thread's loop; empty when stopped.
    std::shared_ptr<RunLoop> runLoop() const;

    // Performs the block on the running loop; drops it when stopped.
    void perform(Task block);

    const Thread::Options& options() const { return options_; }

private:
    struct Session;
    const Thread::Options options_;
    mutable std::mutex mutex_;
    std::shared_ptr<Session> session_;
    Thread thread_;
};

} // namespace ravolet::platform

#pragma once

// Private plumbing of HIDPPDevice, shared by its source files.

#include <memory>
#include <utility>

#include <unistd.h>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/AsyncSequence.hpp"
#include "Platform/IOReturn.hpp"

namespace ravolet {

// What an operation gets when its work is dropped unrun: the HID I/O thread or
// the device's queue could not be started, or has been stopped as the process
// finishes its threads.
inline HIDPPError ioUnavailable() { return HIDPPError::ioKit("HID I/O", platform::kIOReturnNotReady); }

// True on a caller's thread while the body of its operation runs there, in
// the device queue's turn, inside the call (HIDPPDevice::run).
inline bool& insideCallersCall() {
    thread_local bool inside = false;
    return inside;
}

// Runs `work` on `queue`: at once on this thread, in the queue's turn, when
// the queue is idle (no thread hand-off), else posted behind what is there.
// Only work that is posted is made into a task.
template <class Work>
void runOnQueue(platform::Scheduler& queue, Work&& work) {
    if (!queue.runHereIfIdle(work)) queue.post(platform::Task(std::forward<Work>(work)));
}

// True on the process's first thread (the window's); asked once per thread,
// as each ask is a system call.
inline bool onProcessFirstThread() {
    thread_local const bool first = ::gettid() == ::getpid();
    return first;
}

// A caller's completion with the executor it named. Called once, it hands the
// result over there; released uncalled (the work carrying it was dropped), it
// answers ioUnavailable(), so that no caller waits for ever.
template <class T>
class HIDPPDevice::Answer {
public:
    // `queue`: the device's, where an answer found inside the caller's own
    // call goes for a caller who named no executor.
    Answer(HIDPPExecutor executor, HIDPPCompletion<T> completion, std::shared_ptr<platform::Scheduler> queue)
        : state_(std::make_unique<State>(State{std::move(executor), std::move(completion), std::move(queue)})) {}
    Answer(Answer&&) noexcept = default;
    Answer& operator=(Answer&&) = delete;
    ~Answer() {
        if (state_) (*this)(std::unexpected(ioUnavailable()));
    }

    void operator()(HIDPPResult<T> result) {
        std::unique_ptr<State> state = std::move(state_);
        if (!state) return;
        // A completion is never called inside the call that asked for it.
        if (!state->executor && insideCallersCall()) state->executor = std::move(state->queue);
        deliver<T>(state->executor, std::move(state->completion), std::move(result));
    }

private:
    struct State {
        HIDPPExecutor executor;
        HIDPPCompletion<T> completion;
        std::shared_ptr<platform::Scheduler> queue;
    };
    std::unique_ptr<State> state_;
};

// The way back from the HID I/O thread to the device's queue: `deliver` hands
// the result to the continuation there. A hop dropped without delivering (its
// block was released unrun) delivers `ifDropped` instead, so that the
// operation still gets its one answer.
template <class R>
class HIDPPDevice::Hop {
public:
    Hop(std::shared_ptr<platform::Scheduler> queue, std::move_only_function<void(R)> then, R ifDropped)
        : state_(std::make_unique<State>(State{std::move(queue), std::move(then), std::move(ifDropped)})) {}
    Hop(Hop&&) noexcept = default;
    Hop& operator=(Hop&&) = delete;
    ~Hop() {
        if (state_) deliver(std::move(state_->ifDropped));
    }

    void deliver(R result) {
        std::unique_ptr<State> state = std::move(state_);
        if (!state) return;
        runOnQueue(*state->queue,
                   [then = std::move(state->then), result = std::move(result)]() mutable { then(std::move(result)); });
    }

private:
    struct State {
        std::shared_ptr<platform::Scheduler> queue;
        std::move_only_function<void(R)> then;
        R ifDropped;
    };
    std::unique_ptr<State> state_;
};

template <class T>
void HIDPPDevice::deliver(const HIDPPExecutor& executor, HIDPPCompletion<T> completion, HIDPPResult<T> result) {
    if (!executor) return completion(std::move(result));
    // A caller may keep no reference of its own to the executor it names.
    platform::deliverOn(executor, [completion = std::move(completion), result = std::move(result)]() mutable {
        completion(std::move(result));
    });
}

template <class T>
void HIDPPDevice::run(HIDPPExecutor executor, HIDPPCompletion<T> completion, std::move_only_function<void(Next<T>)> body) {
    auto block = [answer = Answer<T>(std::move(executor), std::move(completion), queue_),
                  body = std::move(body)]() mutable {
        body([answer = std::move(answer)](HIDPPResult<T> result) mutable { answer(std::move(result)); });
    };
    // The caller's thread takes the device's turn when the queue is idle, so
    // the request leaves without a hand-off and in the order of the calls.
    bool& inside = insideCallersCall();
    const bool outer = std::exchange(inside, true);
    const bool ranHere = queue_->runHereIfIdle(block);
    inside = outer;
    if (!ranHere) queue_->post(platform::Task(std::move(block)));
}

template <class Work>
void HIDPPDevice::onIOHereIfIdle(Work&& work) {
    if (!environment_.io) return;
    // The window's thread (the process's first) never writes to the mouse
    // itself: a USB transfer the mouse does not take holds its writer until
    // the kernel gives up, seconds later. The engine's queues may.
    if (onProcessFirstThread()) return environment_.io->post(platform::Task(std::forward<Work>(work)));
    runOnQueue(*environment_.io, std::forward<Work>(work));
}

template <class R>
void HIDPPDevice::onHIDThread(std::move_only_function<R()> work, std::move_only_function<void(R)> then, R ifDropped) {
    onIO([work = std::move(work), hop = Hop<R>(queue_, std::move(then), std::move(ifDropped))]() mutable {
        hop.deliver(work());
    });
}

} // namespace ravolet

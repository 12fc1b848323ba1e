#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "Platform/Executor.hpp"

namespace ravolet::platform {

// Runs `task` on `executor`. The posted block keeps the executor alive until
// it has run, so a caller that names a queue it does not keep still gets its
// completion.
inline void deliverOn(const std::shared_ptr<Executor>& executor, Task task) {
    executor->post([executor, task = std::move(task)]() mutable { task(); });
}

// What every step of one run of a sequence shares: the executor its steps run
// on, the owner they work for (held weakly) and the handle that cancels the run.
template <class Owner>
struct SequenceContext {
    std::shared_ptr<Executor> executor;
    std::weak_ptr<Owner> owner;
    TaskHandle cancellation;
    // Called on the executor, with the living owner, when a cancelled run stops.
    std::move_only_function<void(Owner&)> stopped;

    // Where the run stands before its next step: stopped for good when the
    // owner is gone (nothing more is called), stopped by cancellation (the
    // `stopped` handler is told), or free to go on with the owner.
    std::shared_ptr<Owner> proceed() {
        std::shared_ptr<Owner> self = owner.lock();
        if (!self) return nullptr;
        if (cancellation.isCancelled()) {
            if (stopped) std::exchange(stopped, nullptr)(*self);
            return nullptr;
        }
        return self;
    }
};

// An operation of several asynchronous steps, written as a flat list instead
// of callbacks nested one level per step.
//
// Each step is given the owner, the previous step's value and a continuation,
// which it calls exactly once (from any thread) with its own value or an
// error. Every step, and the final handler, runs on the sequence's executor:
// a continuation hops back there first. Before each of them the sequence
// checks that its owner still exists and that it was not cancelled; the first
// error skips every later step and goes straight to the final handler.
//
//     makeSequence<HIDPPError>(queue, weakSelf, handle)
//         .then<std::int64_t>([](Self& self, Next<std::int64_t> next) { self.readA(std::move(next)); })
//         .then<bool>([](Self& self, std::int64_t a, Next<bool> next) { self.writeB(a, std::move(next)); })
//         .run([](Self& self, std::expected<bool, HIDPPError> result) { ... },
//              [](Self& self) { /* cancelled before the end */ });
//
// The final handler runs at most once, and never after the owner is gone or
// the run was cancelled; the `stopped` handler runs instead when a cancelled
// run reaches its next step while the owner lives.
template <class Owner, class Error, class T>
class AsyncSequence {
public:
    template <class U>
    using Result = std::expected<U, Error>;
    template <class U>
    using Next = std::move_only_function<void(Result<U>)>;
    using Context = SequenceContext<Owner>;
    // Runs the steps so far and hands their outcome to the continuation.
    using Start = std::move_only_function<void(Next<T>)>;

    AsyncSequence(std::shared_ptr<Context> context, Start start)
        : context_(std::move(context)), start_(std::move(start)) {}

    // Appends a step producing a U. For a sequence whose last value is void
    // the step takes (Owner&, Next<U>), otherwise (Owner&, T, Next<U>).
    template <class U, class Step>
    AsyncSequence<Owner, Error, U> then(Step step) && {
        auto start = [context = context_, previous = std::move(start_),
                      step = std::move(step)](Next<U> done) mutable {
            previous([context, step = std::move(step), done = std::move(done)](Result<T> result) mutable {
                if (!result) return done(std::unexpected(std::move(result.error())));
                context->executor->post([context, step = std::move(step), done = std::move(done),
                                         result = std::move(result)]() mutable {
                    std::shared_ptr<Owner> owner = context->proceed();
                    if (!owner) return;
                    if constexpr (std::is_void_v<T>) {
                        step(*owner, std::move(done));
                    } else {
                        step(*owner, std::move(*result), std::move(done));
                    }
                });
            });
        };
        return AsyncSequence<Owner, Error, U>(context_, std::move(start));
    }

    // Starts the run. The first step is posted, never run inside this call.
    template <class Finish>
    void run(Finish finish, std::move_only_function<void(Owner&)> stopped = nullptr) && {
        context_->stopped = std::move(stopped);
        start_([context = context_, finish = std::move(finish)](Result<T> result) mutable {
            context->executor->post([context, finish = std::move(finish), result = std::move(result)]() mutable {
                if (std::shared_ptr<Owner> owner = context->proceed()) finish(*owner, std::move(result));
            });
        });
    }

private:
    std::shared_ptr<Context> context_;
    Start start_;
};

// A sequence without steps yet, whose steps run on `executor` for `owner`
// until `cancellation` is cancelled.
template <class Error, class Owner>
AsyncSequence<Owner, Error, void> makeSequence(std::shared_ptr<Executor> executor, std::weak_ptr<Owner> owner,
                                               TaskHandle cancellation = TaskHandle::make()) {
    auto context = std::make_shared<SequenceContext<Owner>>();
    context->executor = std::move(executor);
    context->owner = std::move(owner);
    context->cancellation = std::move(cancellation);
    return AsyncSequence<Owner, Error, void>(
        std::move(context), [](std::move_only_function<void(std::expected<void, Error>)> next) { next({}); });
}

} // namespace ravolet::platform

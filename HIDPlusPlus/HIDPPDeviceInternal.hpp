#pragma once

// Private plumbing of HIDPPDevice, shared by its source files.

#include <memory>
#include <utility>

#include "HIDPlusPlus/HIDPPDevice.hpp"

namespace ravolet {

template <class T>
void HIDPPDevice::deliver(const HIDPPExecutor& executor, HIDPPCompletion<T> completion, HIDPPResult<T> result) {
    if (!executor) return completion(std::move(result));
    // The block holds the executor until it has run: a caller may keep no
    // reference of its own, and an executor that goes away discards what it
    // has not run, the completion with it.
    executor->post([keepAlive = executor, completion = std::move(completion), result = std::move(result)]() mutable {
        completion(std::move(result));
    });
}

template <class T>
void HIDPPDevice::run(HIDPPExecutor executor, HIDPPCompletion<T> completion, std::move_only_function<void(Next<T>)> body) {
    onQueue([executor = std::move(executor), completion = std::move(completion), body = std::move(body)]() mutable {
        body([executor = std::move(executor), completion = std::move(completion)](HIDPPResult<T> result) mutable {
            deliver<T>(executor, std::move(completion), std::move(result));
        });
    });
}

template <class R>
void HIDPPDevice::onHIDThread(std::move_only_function<R()> work, std::move_only_function<void(R)> then) {
    environment_.io->post(
        [queue = queue_, work = std::move(work), then = std::move(then)]() mutable {
            R result = work();
            queue->post([then = std::move(then), result = std::move(result)]() mutable { then(std::move(result)); });
        });
}

} // namespace ravolet

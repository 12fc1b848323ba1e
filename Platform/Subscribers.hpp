#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "Platform/Executor.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// Handlers that hear of changes, each on its own executor, until its
// subscription is dropped (a notice being delivered at that moment on another
// thread may still arrive). Any thread; the subscriptions may outlive it.
template <class... Args>
class Subscribers {
public:
    using Handler = std::function<void(Args...)>;

    Subscription subscribe(std::shared_ptr<Executor> executor, Handler handler) const {
        auto subscriber = std::make_shared<Subscriber>(std::move(executor), std::move(handler));
        {
            std::lock_guard guard(list_->lock);
            list_->subscribers.push_back(subscriber);
        }
        return Subscription([weak = std::weak_ptr<List>(list_), subscriber] {
            subscriber->active.store(false, std::memory_order_release);
            if (const auto list = weak.lock()) {
                std::lock_guard guard(list->lock);
                std::erase(list->subscribers, subscriber);
            }
        });
    }

    // Posts the notice to every subscriber's executor, in subscription order.
    void tell(Args... args) const {
        std::vector<std::shared_ptr<Subscriber>> subscribers;
        {
            std::lock_guard guard(list_->lock);
            subscribers = list_->subscribers;
        }
        for (const auto& subscriber : subscribers) {
            subscriber->executor->post([subscriber, args...] {
                if (subscriber->active.load(std::memory_order_acquire)) subscriber->handler(args...);
            });
        }
    }

private:
    struct Subscriber {
        Subscriber(std::shared_ptr<Executor> executor, Handler handler)
            : executor(std::move(executor)), handler(std::move(handler)) {}
        const std::shared_ptr<Executor> executor;
        const Handler handler;
        std::atomic<bool> active{true};
    };
    struct List {
        std::mutex lock;
        std::vector<std::shared_ptr<Subscriber>> subscribers;
    };
    const std::shared_ptr<List> list_ = std::make_shared<List>();
};

} // namespace ravolet::platform

#include "Platform/SessionWatcher.hpp"

#include <algorithm>
#include <atomic>

namespace ravolet::platform {

namespace {

struct Subscriber {
    std::shared_ptr<Executor> executor;
    SessionWatcher::Handler handler;
    std::atomic<bool> active{true};
};

} // namespace

struct SessionWatcher::Subscribers {
    std::mutex lock;
    std::vector<std::shared_ptr<Subscriber>> list;
};

SessionWatcher::SessionWatcher() : subscribers_(std::make_shared<Subscribers>()) {}

Subscription SessionWatcher::subscribe(std::shared_ptr<Executor> executor, Handler handler) {
    auto subscriber = std::make_shared<Subscriber>();
    subscriber->executor = std::move(executor);
    subscriber->handler = std::move(handler);
    {
        std::lock_guard guard(subscribers_->lock);
        subscribers_->list.push_back(subscriber);
    }
    return Subscription([weak = std::weak_ptr<Subscribers>(subscribers_), subscriber] {
        subscriber->active.store(false, std::memory_order_release);
        if (const auto subscribers = weak.lock()) {
            std::lock_guard guard(subscribers->lock);
            std::erase(subscribers->list, subscriber);
        }
    });
}

void SessionWatcher::tell(bool active) {
    std::vector<std::shared_ptr<Subscriber>> subscribers;
    {
        std::lock_guard guard(subscribers_->lock);
        subscribers = subscribers_->list;
    }
    for (const auto& subscriber : subscribers) {
        subscriber->executor->post([subscriber, active] {
            if (subscriber->active.load(std::memory_order_acquire)) subscriber->handler(active);
        });
    }
}

} // namespace ravolet::platform

#pragma once

#include <functional>
#include <utility>

namespace ravolet::platform {

// Keeps one registration with a host service (a notification observer, a
// stream subscriber) alive; dropping or cancelling it ends the registration.
// Move-only. A default-constructed subscription holds nothing.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::move_only_function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~Subscription() { cancel(); }
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            cancel();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    // Ends the registration; later calls do nothing.
    void cancel() {
        if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    }
    bool isActive() const { return static_cast<bool>(cancel_); }

private:
    std::move_only_function<void()> cancel_;
};

} // namespace ravolet::platform

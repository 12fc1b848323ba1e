#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/LoginItemService.hpp"
#include "Platform/Subscribers.hpp"

namespace ravolet::platform {

// A login-item service that a test scripts: the status it reports, the
// status a registration leads to, and failures in chosen words. Records
// every call ("status", "register", "unregister"). Main thread only.
class SimulatedLoginItemService final : public LoginItemService {
public:
    LoginItemStatus status() const override {
        calls_.push_back("status");
        return status_;
    }
    LoginItemResult registerItem() override { return change("register", statusAfterRegistering_); }
    LoginItemResult unregisterItem() override { return change("unregister", LoginItemStatus::notRegistered); }

    // As the desktop's settings would: observers hear of it.
    void setStatus(LoginItemStatus status) {
        status_ = status;
        observers_.tell();
    }
    Subscription observeChanges(std::shared_ptr<Executor> executor, std::function<void()> handler) override {
        return observers_.subscribe(std::move(executor), std::move(handler));
    }
    // What a successful registration leaves (enabled unless told otherwise).
    void setStatusAfterRegistering(LoginItemStatus status) { statusAfterRegistering_ = status; }
    // Every later register or unregister fails with this text, until cleared;
    // the status stays as it was.
    void setFailure(std::optional<std::string> text) { failure_ = std::move(text); }

    const std::vector<std::string>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }

private:
    LoginItemResult change(const char* call, LoginItemStatus after) {
        calls_.push_back(call);
        if (failure_) return std::unexpected(*failure_);
        status_ = after;
        return {};
    }

    LoginItemStatus status_ = LoginItemStatus::notRegistered;
    LoginItemStatus statusAfterRegistering_ = LoginItemStatus::enabled;
    std::optional<std::string> failure_;
    mutable std::vector<std::string> calls_;
    Subscribers<> observers_;
};

} // namespace ravolet::platform

#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Platform/Notifier.hpp"

namespace ravolet::platform {

// Keeps every message instead of showing it.
class SimulatedNotifier final : public Notifier {
public:
    struct Message {
        std::string title;
        std::string body;
        friend bool operator==(const Message&, const Message&) = default;
    };

    void notify(const std::string& title, const std::string& body) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({title, body});
    }
    // Every message, oldest first.
    std::vector<Message> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

} // namespace ravolet::platform

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PermissionProbe.hpp"
#include "Platform/Subscribers.hpp"

namespace ravolet::platform {

// Grants that a test sets; nothing is granted at first, the HID layer
// answers "unknown" and no device node is named.
class SimulatedPermissionProbe final : public PermissionProbe {
public:
    // Each change is told to the observers, as the host tells of a device
    // node's access changing.
    void setAccessibilityTrusted(bool trusted) {
        accessibility_.store(trusted);
        changed();
    }
    void setCanListenToEvents(bool allowed) {
        listen_.store(allowed);
        changed();
    }
    void setHIDListenAccess(HIDAccessType access) {
        hid_.store(access.rawValue);
        changed();
    }

    // No mouse to judge listening by: it counts as allowed meanwhile, as the
    // host's probe answers.
    void setWaitingForMouse(bool waiting) {
        waiting_.store(waiting);
        changed();
    }

    bool isAccessibilityTrusted() const override { return accessibility_.load(); }
    bool canListenToEvents() const override { return listen_.load() || waiting_.load(); }
    bool isWaitingForMouse() const override { return waiting_.load(); }
    HIDAccessType hidListenAccess() const override { return HIDAccessType{hid_.load()}; }

    void setClosedNodes(std::vector<std::string> posting, std::vector<std::string> listening) {
        {
            const std::lock_guard lock(nodesMutex_);
            closedPosting_ = std::move(posting);
            closedListening_ = std::move(listening);
        }
        changed();
    }
    std::vector<std::string> closedPostingNodes() const override {
        const std::lock_guard lock(nodesMutex_);
        return closedPosting_;
    }
    std::vector<std::string> closedListeningNodes() const override {
        const std::lock_guard lock(nodesMutex_);
        return closedListening_;
    }

    Subscription observeChanges(std::shared_ptr<Executor> executor, std::function<void()> handler) const override {
        return observers_.subscribe(std::move(executor), std::move(handler));
    }

private:
    void changed() const { observers_.tell(); }

    std::atomic<bool> accessibility_{false};
    std::atomic<bool> listen_{false};
    std::atomic<bool> waiting_{false};
    std::atomic<std::uint32_t> hid_{HIDAccessType::unknown.rawValue};
    mutable std::mutex nodesMutex_;
    std::vector<std::string> closedPosting_;
    std::vector<std::string> closedListening_;
    Subscribers<> observers_;
};

} // namespace ravolet::platform

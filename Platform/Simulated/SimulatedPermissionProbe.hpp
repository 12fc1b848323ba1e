#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PermissionProbe.hpp"

namespace ravolet::platform {

// Grants that a test sets; nothing is granted at first, the HID layer
// answers "unknown" and no device node is named.
class SimulatedPermissionProbe final : public PermissionProbe {
public:
    void setAccessibilityTrusted(bool trusted) { accessibility_.store(trusted); }
    void setCanListenToEvents(bool allowed) { listen_.store(allowed); }
    void setHIDListenAccess(HIDAccessType access) { hid_.store(access.rawValue); }

    bool isAccessibilityTrusted() const override { return accessibility_.load(); }
    bool canListenToEvents() const override { return listen_.load(); }
    HIDAccessType hidListenAccess() const override { return HIDAccessType{hid_.load()}; }

    void setClosedNodes(std::vector<std::string> posting, std::vector<std::string> listening) {
        const std::lock_guard lock(nodesMutex_);
        closedPosting_ = std::move(posting);
        closedListening_ = std::move(listening);
    }
    std::vector<std::string> closedPostingNodes() const override {
        const std::lock_guard lock(nodesMutex_);
        return closedPosting_;
    }
    std::vector<std::string> closedListeningNodes() const override {
        const std::lock_guard lock(nodesMutex_);
        return closedListening_;
    }

private:
    std::atomic<bool> accessibility_{false};
    std::atomic<bool> listen_{false};
    std::atomic<std::uint32_t> hid_{HIDAccessType::unknown.rawValue};
    mutable std::mutex nodesMutex_;
    std::vector<std::string> closedPosting_;
    std::vector<std::string> closedListening_;
};

} // namespace ravolet::platform

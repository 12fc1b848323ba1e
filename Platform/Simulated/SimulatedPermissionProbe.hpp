#pragma once

#include <atomic>
#include <cstdint>

#include "Platform/PermissionProbe.hpp"

namespace ravolet::platform {

// Grants that a test sets; nothing is granted at first and the HID layer
// answers "unknown".
class SimulatedPermissionProbe final : public PermissionProbe {
public:
    void setAccessibilityTrusted(bool trusted) { accessibility_.store(trusted); }
    void setCanListenToEvents(bool allowed) { listen_.store(allowed); }
    void setHIDListenAccess(HIDAccessType access) { hid_.store(access.rawValue); }

    bool isAccessibilityTrusted() const override { return accessibility_.load(); }
    bool canListenToEvents() const override { return listen_.load(); }
    HIDAccessType hidListenAccess() const override { return HIDAccessType{hid_.load()}; }

private:
    std::atomic<bool> accessibility_{false};
    std::atomic<bool> listen_{false};
    std::atomic<std::uint32_t> hid_{HIDAccessType::unknown.rawValue};
};

} // namespace ravolet::platform

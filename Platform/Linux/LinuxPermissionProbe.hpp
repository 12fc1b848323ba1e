#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Platform/Linux/Kernel/Sysfs.hpp"
#include "Platform/PermissionProbe.hpp"

namespace ravolet::platform {

// The grants, read from the device nodes with access(2), never prompting:
// - Accessibility: the process may write /dev/uinput (to post input).
// - Listening to events: it may read every /dev/input/event* node of the
//   target mouse; while the mouse has none (unplugged), it may read at least
//   one event node of any device, which is what the user grants by joining
//   the input group.
// - The HID layer: granted when it may read and write one of the mouse's
//   /dev/hidraw* nodes, denied when the mouse has such nodes and none of them
//   is open to it, unknown when the mouse has none.
// The mouse's nodes are found through sysfs by vendor and product.
class LinuxPermissionProbe final : public PermissionProbe {
public:
    // Where sysfs and the device nodes are (tests lay out a tree of their own).
    using Roots = KernelRoots;
    // access(2)'s answer for a path and a mode (R_OK, W_OK or both).
    using AccessCheck = std::function<bool(const std::string& path, int mode)>;

    // The host's own folders and access(2).
    LinuxPermissionProbe(std::int64_t vendorID, std::int64_t productID);
    LinuxPermissionProbe(std::int64_t vendorID, std::int64_t productID, Roots roots, AccessCheck check);

    bool isAccessibilityTrusted() const override;
    bool canListenToEvents() const override;
    HIDAccessType hidListenAccess() const override;
    // /dev/uinput while it is not writable; the mouse's event nodes that are
    // not readable and its hidraw nodes that are not read-write.
    std::vector<std::string> closedPostingNodes() const override;
    std::vector<std::string> closedListeningNodes() const override;

    // The target mouse's device nodes as sysfs lists them now, sorted.
    std::vector<std::string> eventNodes() const;
    std::vector<std::string> hidrawNodes() const;

private:
    std::string uinputNode() const;
    bool allows(const std::string& path, int mode) const;

    std::int64_t vendorID_;
    std::int64_t productID_;
    Roots roots_;
    AccessCheck check_;
};

} // namespace ravolet::platform

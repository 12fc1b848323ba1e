#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Platform/Linux/Kernel/Sysfs.hpp"
#include "Platform/PermissionProbe.hpp"

namespace ravolet::platform {

// The grants, read from the device nodes with access(2), never prompting,
// and only from the nodes Ravolet opens:
// - Accessibility: the process may write /dev/uinput (to post input).
// - Listening to events: it may read every pointer event node of the target
//   mouse (those with relative motion; the keyboard and consumer-control
//   nodes the same mouse has are never opened). While the mouse has none
//   (unplugged, or not yet opened to the user by udev) there is nothing to
//   refuse: the grant counts as given, waiting for the mouse, so that the
//   engine starts and takes the mouse when it comes.
// - The HID layer: granted when it may read and write the mouse's HID++
//   hidraw node (the interface with the vendor-page collection; the others
//   are never opened), denied when that node is closed to it, unknown when
//   the mouse has none.
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
    bool isPostingDeviceMissing() const override;
    bool canListenToEvents() const override;
    bool isWaitingForMouse() const override;
    HIDAccessType hidListenAccess() const override;
    // /dev/uinput while it is there but not writable; the mouse's pointer
    // event nodes that are not readable and its HID++ hidraw node when it is
    // not read-write.
    std::vector<std::string> closedPostingNodes() const override;
    std::vector<std::string> closedListeningNodes() const override;
    // From the kernel's uevents and the nodes' own changes (watchDeviceAccess).
    Subscription observeChanges(std::shared_ptr<Executor> executor, std::function<void()> handler) const override;

    // The target mouse's nodes that Ravolet opens, as sysfs lists them now,
    // sorted: its pointer event nodes, and its HID++ hidraw node.
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

#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/HIDSystem.hpp"
#include "Platform/Linux/HID/HidrawService.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"

namespace ravolet::platform {

// The hidraw nodes of the machine as HID services, shared by the HID system,
// its devices and its notification ports. Every call may come from any
// thread.
//
// Registry ids: a node keeps one for as long as its device stays plugged in
// (sysfs names it by a path that holds the kernel's count of HID devices, so
// a device plugged in again has a new path), and no id is ever given twice in
// the process's life, so a departure reported with an id can only be that
// node's.
//
// Opening: on a desktop, udev sets a node's owner and permissions just after
// the kernel made it (root only until then), so an open refused with EACCES
// or EPERM within `settleTime` of a node's arrival is tried again, waiting
// 10 ms, then twice as long each time (at most 200 ms), until that time is up.
// The wait blocks the caller: it only comes right after a plug-in and lasts a
// second at most.
class HidrawRegistry {
public:
    // Opens a node; the descriptor, or minus the errno.
    using NodeOpener = std::function<int(const std::string& path, int flags)>;

    struct Options {
        KernelRoots roots;
        NodeOpener openNode; // open(2) when empty
        std::chrono::milliseconds settleTime{1000};
    };

    explicit HidrawRegistry(Options options);

    // The nodes sysfs lists now, in natural order of their names. Nodes that
    // were not there at the registry's first look count as arrivals.
    std::vector<std::shared_ptr<HidrawService>> services();
    std::vector<std::shared_ptr<HidrawService>> services(const HIDMatching& matching);

    // The node at `devpath` has gone (the kernel said so): a node that comes
    // at the same place later is a new one, with a new id.
    void forget(const std::string& devpath);

    // Opens the service's node for reading and writing, close-on-exec and
    // non-blocking, and checks that the node still belongs to the service's
    // device (a node number is reused as soon as its device goes): the
    // descriptor, or the errno (ENODEV when the node is another device's now).
    std::expected<int, int> open(const HidrawService& service);

    const KernelRoots& roots() const { return options_.roots; }

private:
    Options options_;
    std::mutex mutex_;
    bool looked_ = false;
    std::map<std::string, std::shared_ptr<HidrawService>, std::less<>> byDevpath_;
};

} // namespace ravolet::platform

#pragma once

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Platform/Executor.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// One device event as the kernel broadcasts it (a "uevent"): a node added,
// removed, changed, bound to a driver...
struct Uevent {
    std::string action;    // "add", "remove", "change", "bind", "unbind", ...
    std::string devpath;   // the device's folder under sysfs, "/devices/…"
    std::string subsystem; // "hidraw", "input", "hid", ...
    // Every KEY=VALUE of the event (ACTION, DEVPATH and SUBSYSTEM included):
    // DEVNAME ("hidraw0", "input/event5"), SEQNUM, MAJOR, MINOR, ...
    std::map<std::string, std::string, std::less<>> properties;

    // The value of a key; empty when the event has none.
    std::string property(std::string_view key) const;
};

// Reads one message of the kernel's uevent broadcast: "ACTION@DEVPATH", then
// NUL-separated "KEY=VALUE" pairs. None when the message is not in the
// kernel's format (udev's own broadcasts start "libudev") or lacks ACTION,
// DEVPATH or SUBSYSTEM.
std::optional<Uevent> parseUevent(std::span<const char> message);

// The kernel's device events for this process: one netlink socket on the
// kernel's own broadcast (no udev daemon needed, and with one running we see
// events before udev has set the node's permissions: openers retry EACCES
// briefly after an "add"). Only messages sent by the kernel itself are taken.
class UeventMonitor {
public:
    // The event; or, when `lost` is set, word that events were lost (the
    // socket's buffer overflowed): subscribers look at sysfs again.
    using Handler = std::function<void(const Uevent& event, bool lost)>;

    // The process's monitor, made on first use and kept while anyone holds it
    // or a subscription to it; null when the kernel refuses the socket (then
    // no hot-plug is seen, and callers say so).
    static std::shared_ptr<UeventMonitor> shared();

    virtual ~UeventMonitor() = default;

    // Calls `handler` on `executor` for every later event of `subsystem` (and
    // for losses), in the order the kernel sent them, until the subscription
    // is dropped.
    virtual Subscription subscribe(std::string subsystem, std::shared_ptr<Executor> executor, Handler handler) = 0;
};

} // namespace ravolet::platform

#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/HIDSystem.hpp"
#include "Platform/Linux/HID/HidrawRegistry.hpp"
#include "Platform/Linux/Kernel/UeventMonitor.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// Matched and terminated notifications for hidraw nodes, from the kernel's
// uevents for the hidraw subsystem. These come whether or not a udev daemon
// runs, and before udev has set a node's permissions (HidrawRegistry::open
// waits for that).
//
// Every event (and word that events were lost) makes the port look at sysfs
// again and compare what matches each registration with what the
// registration last knew: nodes that have gone are one terminated batch,
// new ones one matched batch, terminated batches first (a mouse unplugged
// and plugged in again between two looks goes before it comes back). A
// "remove" is taken at its word even when a node is already back at the same
// place: that is a new node with a new id.
//
// Events come only while the port is scheduled; scheduling it (again) looks
// at sysfs at once, so what happened meanwhile is not lost. Without the
// kernel's broadcast (UeventMonitor::shared() null) there are no
// notifications at all.
class HidrawNotificationPort final : public HIDNotificationPort, public std::enable_shared_from_this<HidrawNotificationPort> {
public:
    HidrawNotificationPort(std::shared_ptr<HidrawRegistry> registry, std::shared_ptr<UeventMonitor> uevents);
    ~HidrawNotificationPort() override;

    void scheduleOn(std::shared_ptr<Executor> runLoop) override;
    void unschedule() override;
    std::shared_ptr<HIDServiceIterator> addMatchingNotification(HIDNotificationType type, const HIDMatching& matching,
                                                                Callback callback) override;

    class Registration;

private:
    // On the run loop: the node at `removed` has gone (if given); compare.
    void update(std::uint64_t scheduling, const std::optional<std::string>& removed);

    const std::shared_ptr<HidrawRegistry> registry_;
    const std::shared_ptr<UeventMonitor> uevents_;
    std::mutex mutex_;
    std::uint64_t scheduling_ = 0; // counts scheduleOn/unschedule; stale work is dropped
    bool scheduled_ = false;
    Subscription subscription_;
    std::vector<std::weak_ptr<Registration>> registrations_;
};

} // namespace ravolet::platform

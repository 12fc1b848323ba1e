#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <vector>

#include "Platform/Executor.hpp"
#include "Platform/HIDDevice.hpp"
#include "Platform/IOReturn.hpp"

namespace ravolet::platform {

// Matches HID devices ("IOHIDDevice" services) by vendor and product.
struct HIDMatching {
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
};

enum class HIDNotificationType { matched, terminated };

// Whether the process may listen to HID input (Input Monitoring).
enum class HIDAccess { granted, denied, unknown };

// Yields services one at a time; null once drained.
class HIDServiceIterator {
public:
    virtual ~HIDServiceIterator() = default;
    virtual std::shared_ptr<HIDService> next() = 0;
};

// Delivers matched and terminated notifications on the run loop it is
// scheduled on. Notifications that arrive while it is on no run loop wait
// until it is scheduled. Destroying the port ends all of its notifications.
class HIDNotificationPort {
public:
    using Callback = std::function<void(HIDServiceIterator& services)>;

    virtual ~HIDNotificationPort() = default;

    virtual void scheduleOn(std::shared_ptr<Executor> runLoop) = 0;
    virtual void unschedule() = 0;

    // Registers a notification for services matching `matching`. The returned
    // iterator already holds the services that match now (matched) or nothing
    // (terminated); drain it at once. Later arrivals or removals come to
    // `callback` as one batch each, with this iterator. Releasing the iterator
    // ends the notification. Null when registration fails.
    virtual std::shared_ptr<HIDServiceIterator> addMatchingNotification(HIDNotificationType type, const HIDMatching& matching,
                                                                        Callback callback) = 0;
};

// The HID part of the host: the service registry, devices, notifications and
// the Input Monitoring check.
class HIDSystem {
public:
    virtual ~HIDSystem() = default;

    // The services that match now, in registry order, or the failure.
    virtual std::expected<std::vector<std::shared_ptr<HIDService>>, IOReturn> matchingServices(const HIDMatching& matching) = 0;
    // A device for the service; null when it cannot be made.
    virtual std::shared_ptr<HIDDevice> createDevice(const std::shared_ptr<HIDService>& service) = 0;
    // Null when no port can be made.
    virtual std::shared_ptr<HIDNotificationPort> createNotificationPort() = 0;
    virtual HIDAccess checkListenAccess() = 0;

    // The process's HID system. Until one is installed it is an empty
    // simulated bus: no devices, access unknown.
    static std::shared_ptr<HIDSystem> shared();
    static void setShared(std::shared_ptr<HIDSystem> system);
};

} // namespace ravolet::platform

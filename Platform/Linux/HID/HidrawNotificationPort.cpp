#include "Platform/Linux/HID/HidrawNotificationPort.hpp"

#include <algorithm>
#include <deque>
#include <map>

namespace ravolet::platform {

// One notification, and the iterator its callback reads.
class HidrawNotificationPort::Registration final : public HIDServiceIterator {
public:
    Registration(HIDNotificationType type, HIDMatching matching, Callback callback,
                 const std::vector<std::shared_ptr<HidrawService>>& present)
        : type(type), matching_(matching), callback_(std::move(callback)) {
        for (const auto& service : present) {
            known_.emplace(*service->registryEntryID(), service);
            if (type == HIDNotificationType::matched) pending_.push_back(service);
        }
    }

    std::shared_ptr<HIDService> next() override {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return nullptr;
        auto service = std::move(pending_.front());
        pending_.pop_front();
        return service;
    }

    // Takes in what matches now; true when that makes news for this registration.
    bool compare(const std::vector<std::shared_ptr<HidrawService>>& now) {
        std::map<std::uint64_t, std::shared_ptr<HidrawService>> current;
        for (const auto& service : now) {
            if (service->matches(matching_)) current.emplace(*service->registryEntryID(), service);
        }
        std::lock_guard lock(mutex_);
        const std::size_t before = pending_.size();
        if (type == HIDNotificationType::matched) {
            for (const auto& [id, service] : current) {
                if (!known_.contains(id)) pending_.push_back(service);
            }
        } else {
            for (const auto& [id, service] : known_) {
                if (!current.contains(id)) pending_.push_back(service);
            }
        }
        known_ = std::move(current);
        return pending_.size() > before;
    }

    void fire() { callback_(*this); }

    const HIDNotificationType type;

private:
    const HIDMatching matching_;
    const Callback callback_;
    std::mutex mutex_;
    std::map<std::uint64_t, std::shared_ptr<HidrawService>> known_;
    std::deque<std::shared_ptr<HIDService>> pending_;
};

HidrawNotificationPort::HidrawNotificationPort(std::shared_ptr<HidrawRegistry> registry, std::shared_ptr<UeventMonitor> uevents)
    : registry_(std::move(registry)), uevents_(std::move(uevents)) {}

HidrawNotificationPort::~HidrawNotificationPort() { unschedule(); }

void HidrawNotificationPort::scheduleOn(std::shared_ptr<Executor> runLoop) {
    if (!runLoop) return;
    Subscription subscription;
    std::uint64_t scheduling = 0;
    {
        std::lock_guard lock(mutex_);
        scheduling = ++scheduling_;
        scheduled_ = true;
    }
    const std::weak_ptr<HidrawNotificationPort> weak = weak_from_this();
    if (uevents_) {
        subscription = uevents_->subscribe("hidraw", runLoop, [weak, scheduling](const Uevent& event, bool lost) {
            const auto port = weak.lock();
            if (!port) return;
            std::optional<std::string> removed;
            if (!lost && event.action == "remove") removed = event.devpath;
            port->update(scheduling, removed);
        });
    }
    {
        std::lock_guard lock(mutex_);
        if (scheduling_ == scheduling) std::swap(subscription_, subscription);
    }
    // What changed while the port was not listening.
    runLoop->post([weak, scheduling] {
        if (const auto port = weak.lock()) port->update(scheduling, std::nullopt);
    });
}

void HidrawNotificationPort::unschedule() {
    Subscription ended;
    {
        std::lock_guard lock(mutex_);
        ++scheduling_;
        scheduled_ = false;
        std::swap(ended, subscription_);
    }
}

std::shared_ptr<HIDServiceIterator> HidrawNotificationPort::addMatchingNotification(HIDNotificationType type,
                                                                                    const HIDMatching& matching,
                                                                                    Callback callback) {
    auto registration = std::make_shared<Registration>(type, matching, std::move(callback), registry_->services(matching));
    std::lock_guard lock(mutex_);
    std::erase_if(registrations_, [](const auto& weak) { return weak.expired(); });
    registrations_.push_back(registration);
    return registration;
}

void HidrawNotificationPort::update(std::uint64_t scheduling, const std::optional<std::string>& removed) {
    {
        std::lock_guard lock(mutex_);
        if (!scheduled_ || scheduling != scheduling_) return;
    }
    if (removed) registry_->forget(*removed);
    const auto now = registry_->services();
    std::vector<std::shared_ptr<Registration>> live;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : registrations_) {
            if (auto registration = weak.lock()) live.push_back(std::move(registration));
        }
    }
    std::vector<std::weak_ptr<Registration>> news;
    for (const auto& registration : live) {
        if (registration->compare(now)) news.push_back(registration);
    }
    // Departures first: a device that went and came back is gone before it returns.
    std::ranges::stable_partition(news, [](const auto& r) { return r.lock()->type == HIDNotificationType::terminated; });
    live.clear();
    // A callback may end other notifications (releasing their iterators): those hear nothing more.
    for (const auto& weak : news) {
        if (const auto registration = weak.lock()) registration->fire();
    }
}

} // namespace ravolet::platform

#include "HIDPlusPlus/HIDPPHotplugMonitor.hpp"

#include "HIDPlusPlus/HIDPPEnumerator.hpp"

namespace ravolet {

namespace pf = platform;

namespace {

// Takes every service the iterator holds, releasing each; how many there were.
int drain(pf::HIDServiceIterator& services) {
    int count = 0;
    while (services.next()) ++count;
    return count;
}

} // namespace

HIDPPHotplugMonitor::HIDPPHotplugMonitor(Passkey, HIDPPDeviceMatch match, MatchedHandler onMatched, TerminatedHandler onTerminated,
                                         HIDPPEnvironment environment)
    : match_(match), environment_(std::move(environment)), onMatched_(std::move(onMatched)), onTerminated_(std::move(onTerminated)) {}

std::shared_ptr<HIDPPHotplugMonitor> HIDPPHotplugMonitor::make(HIDPPDeviceMatch match, MatchedHandler onMatched,
                                                               TerminatedHandler onTerminated, HIDPPEnvironment environment) {
    return std::make_shared<HIDPPHotplugMonitor>(Passkey{}, match, std::move(onMatched), std::move(onTerminated), std::move(environment));
}

HIDPPHotplugMonitor::~HIDPPHotplugMonitor() { stop(); }

void HIDPPHotplugMonitor::start() {
    if (port_) return;
    auto port = environment_.hid->createNotificationPort();
    if (!port) return;
    port_ = port;
    port->scheduleOn(environment_.io);

    const auto matching = HIDPPEnumerator::matchingFor(match_);
    const std::weak_ptr<HIDPPHotplugMonitor> weak = weak_from_this();
    matchedIterator_ = port->addMatchingNotification(pf::HIDNotificationType::matched, matching, [weak](pf::HIDServiceIterator& services) {
        if (const auto monitor = weak.lock()) monitor->matched(services);
    });
    // Devices present at start count as one arrival.
    if (matchedIterator_ && drain(*matchedIterator_) > 0 && onMatched_) {
        const MatchedHandler handler = onMatched_;
        handler();
        if (port_ != port) return;  // the handler stopped the monitor
    }

    terminatedIterator_ = port->addMatchingNotification(pf::HIDNotificationType::terminated, matching,
                                                        [weak](pf::HIDServiceIterator& services) {
                                                            if (const auto monitor = weak.lock()) monitor->terminated(services);
                                                        });
    if (terminatedIterator_) drain(*terminatedIterator_);
}

void HIDPPHotplugMonitor::stop() {
    matchedIterator_.reset();
    terminatedIterator_.reset();
    if (port_) {
        port_->unschedule();
        port_.reset();
    }
}

void HIDPPHotplugMonitor::matched(pf::HIDServiceIterator& services) {
    if (drain(services) > 0 && onMatched_) {
        // A copy: the handler may stop or replace this monitor while it runs.
        const MatchedHandler handler = onMatched_;
        handler();
    }
}

void HIDPPHotplugMonitor::terminated(pf::HIDServiceIterator& services) {
    const TerminatedHandler handler = onTerminated_;
    while (const auto service = services.next()) {
        if (handler) handler(service->registryEntryID().value_or(0));
    }
}

} // namespace ravolet

#include "HIDPlusPlus/HIDPPDevice.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <utility>

#include "HIDPlusPlus/HIDPPDeviceInternal.hpp"
#include "HIDPlusPlus/HIDPPEnumerator.hpp"
#include "HIDPlusPlus/HIDPPHotplugMonitor.hpp"
#include "HIDPlusPlus/HIDPPLink.hpp"
#include "HIDPlusPlus/HIDPPWire.hpp"
#include "Platform/HIDSystem.hpp"

namespace ravolet {

namespace {

using namespace std::chrono_literals;

// The pauses before each new attempt while the mouse is there but does not
// answer: short at first (udev opens a new node to the user just after it
// appears), then growing, so that a mouse that never answers costs little.
constexpr std::array<std::chrono::milliseconds, 7> retryPauses{250ms, 1s, 2s, 4s, 8s, 16s, 30s};

} // namespace

// ---- Subscriptions ----

struct HIDPPEventSubscription::Subscriber {
    HIDPPExecutor executor;
    std::function<void(const HIDPPEvent&)> handler;
    std::atomic<bool> active{true};
};

HIDPPEventSubscription& HIDPPEventSubscription::operator=(HIDPPEventSubscription&& other) noexcept {
    if (this != &other) {
        cancel();
        device_ = std::move(other.device_);
        subscriber_ = std::move(other.subscriber_);
    }
    return *this;
}

void HIDPPEventSubscription::cancel() {
    if (!subscriber_) return;
    subscriber_->active.store(false, std::memory_order_release);
    if (auto device = device_.lock()) device->removeSubscriber(subscriber_.get());
    subscriber_.reset();
    device_.reset();
}

bool HIDPPEventSubscription::isActive() const {
    return subscriber_ && subscriber_->active.load(std::memory_order_acquire);
}

// ---- Creation and release ----

std::shared_ptr<HIDPPDevice> HIDPPDevice::create(HIDPPDeviceMatch match, HIDPPEnvironment environment,
                                                std::shared_ptr<platform::Scheduler> queue) {
    return std::make_shared<HIDPPDevice>(Private{}, match, std::move(environment), std::move(queue));
}

HIDPPDevice::HIDPPDevice(Private, HIDPPDeviceMatch match, HIDPPEnvironment environment,
                         std::shared_ptr<platform::Scheduler> queue)
    : match_(match),
      environment_(std::move(environment)),
      queue_(std::move(queue)),
      deviceIndex_(HIDPPWire::defaultDeviceIndex),
      connectionState_(HIDPPConnectionState::disconnected()) {}

HIDPPDevice::~HIDPPDevice() {
    // Nobody can reach the device any more: let the HID thread close what it
    // holds, without waiting, and emit nothing.
    std::shared_ptr<HIDPPLink> link = std::move(link_);
    std::shared_ptr<HIDPPHotplugMonitor> monitor = std::move(monitor_);
    if (link || monitor) {
        onIO([link, monitor] {
            if (link) {
                link->setNotificationHandler(nullptr);
                link->close();
            }
            if (monitor) monitor->stop();
        });
    }
}

HIDPPInputMonitoringAccess HIDPPDevice::inputMonitoringAccess() {
    // Asks whether listening is allowed; never requests it, never prompts.
    switch (platform::HIDSystem::shared()->checkListenAccess()) {
    case platform::HIDAccess::granted: return HIDPPInputMonitoringAccess::granted;
    case platform::HIDAccess::denied: return HIDPPInputMonitoringAccess::denied;
    case platform::HIDAccess::unknown: break;
    }
    return HIDPPInputMonitoringAccess::unknown;
}

// ---- Settings and read-only members ----

std::uint8_t HIDPPDevice::deviceIndex() const {
    std::lock_guard lock(mutex_);
    return deviceIndex_;
}

void HIDPPDevice::setDeviceIndex(std::uint8_t index) {
    std::lock_guard lock(mutex_);
    deviceIndex_ = index;
}

double HIDPPDevice::defaultTimeout() const {
    std::lock_guard lock(mutex_);
    return defaultTimeout_;
}

void HIDPPDevice::setDefaultTimeout(double seconds) {
    std::lock_guard lock(mutex_);
    defaultTimeout_ = seconds;
}

bool HIDPPDevice::automaticallyReconnects() const {
    std::lock_guard lock(mutex_);
    return automaticallyReconnects_;
}

void HIDPPDevice::setAutomaticallyReconnects(bool on) {
    std::lock_guard lock(mutex_);
    automaticallyReconnects_ = on;
}

HIDPPConnectionState HIDPPDevice::state() const {
    std::lock_guard lock(mutex_);
    return connectionState_;
}

bool HIDPPDevice::isConnected() const {
    std::lock_guard lock(mutex_);
    return connectionState_.isConnected();
}

bool HIDPPDevice::isConnecting() const {
    std::lock_guard lock(mutex_);
    return connectTask_ != nullptr;
}

bool HIDPPDevice::isRetrying() const {
    std::lock_guard lock(mutex_);
    return retrying_;
}

std::optional<HIDPPDeviceIdentity> HIDPPDevice::identity() const { return linkIdentity(); }

// ---- Plumbing ----

void HIDPPDevice::onQueue(Step step) { queue_->post(std::move(step)); }

void HIDPPDevice::onIO(platform::Task block) {
    if (environment_.io) environment_.io->post(std::move(block));
}

// ---- Events ----

HIDPPEventSubscription HIDPPDevice::subscribe(HIDPPExecutor executor, std::function<void(const HIDPPEvent&)> handler) {
    auto subscriber = std::make_shared<HIDPPEventSubscription::Subscriber>();
    subscriber->executor = executor ? std::move(executor) : queue_;
    subscriber->handler = std::move(handler);
    {
        std::lock_guard lock(mutex_);
        subscribers_.push_back(subscriber);
    }
    return HIDPPEventSubscription(weak_from_this(), std::move(subscriber));
}

void HIDPPDevice::removeSubscriber(const HIDPPEventSubscription::Subscriber* subscriber) {
    std::lock_guard lock(mutex_);
    std::erase_if(subscribers_, [subscriber](const auto& s) { return s.get() == subscriber; });
}

void HIDPPDevice::emit(const HIDPPEvent& event) {
    std::vector<std::shared_ptr<HIDPPEventSubscription::Subscriber>> subscribers;
    {
        std::lock_guard lock(mutex_);
        subscribers = subscribers_;
    }
    // Emission happens on the device's queue and each subscriber's executor
    // is serial, so every subscriber sees the events in emission order.
    for (auto& subscriber : subscribers) {
        subscriber->executor->post([subscriber, event] {
            if (subscriber->active.load(std::memory_order_acquire)) subscriber->handler(event);
        });
    }
}

bool HIDPPDevice::changeStateLocked(HIDPPConnectionState next) {
    if (connectionState_ == next) return false;
    connectionState_ = std::move(next);
    return true;
}

void HIDPPDevice::resetFeatureCacheLocked() {
    featuresByID_.clear();
    absentFeatureIDs_.clear();
    fullTableDiscovered_ = false;
    cachedProtocolVersion_.reset();
}

// ---- connect() ----

void HIDPPDevice::connect(HIDPPExecutor executor, HIDPPCompletion<void> completion) {
    run<void>(std::move(executor), std::move(completion), [self = shared_from_this()](Next<void> next) {
        if (self->isConnected()) return next({});
        self->joinOrStartAttempt(std::move(next));
    });
}

void HIDPPDevice::joinOrStartAttempt(Next<void> waiter) {
    std::shared_ptr<ConnectAttempt> attempt;
    {
        std::lock_guard lock(mutex_);
        if (connectTask_) {
            connectTask_->waiters.push_back(std::move(waiter));
            return;
        }
        attempt = std::make_shared<ConnectAttempt>();
        attempt->generation = connectionGeneration_;
        attempt->waiters.push_back(std::move(waiter));
        connectTask_ = attempt;
    }
    performConnect(attempt, [self = shared_from_this(), attempt](HIDPPResult<void> result) {
        self->finishAttempt(attempt, std::move(result));
    });
}

void HIDPPDevice::finishAttempt(const std::shared_ptr<ConnectAttempt>& attempt, HIDPPResult<void> result) {
    std::vector<Next<void>> waiters;
    {
        std::lock_guard lock(mutex_);
        // Only this attempt's own slot is cleared: when disconnect() dropped it
        // and a newer attempt has started since, that one stays visible, so
        // the next caller joins it instead of opening the device a second time.
        if (connectTask_ == attempt) connectTask_.reset();
        waiters = std::move(attempt->waiters);
        attempt->waiters.clear();
    }
    // Before the waiters hear of it, so that they see whether it is retried.
    afterAttempt(*attempt, result);
    for (auto& waiter : waiters) waiter(result);
}

void HIDPPDevice::afterAttempt(const ConnectAttempt& attempt, const HIDPPResult<void>& result) {
    std::optional<Reconnection> next;
    std::chrono::milliseconds pause{0};
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        if (result) {
            // It answered. A retry still pausing (this attempt was asked for
            // by hand meanwhile) is left to come: it finds the mouse connected
            // and reports its arrival, which nothing else does.
            changed = stopRetryingLocked(false);
        } else if (result.error().kind() == HIDPPError::Kind::deviceNotFound) {
            // It is not there: nothing to try again.
            changed = stopRetryingLocked();
        } else if (!attempt.cancelled && attempt.generation == connectionGeneration_ && monitor_ &&
                   automaticallyReconnects_) {
            // Not after disconnect() or the removal of the mouse, which say
            // that nobody wants it or it is gone.
            pause = retryPauses[std::min(failedRetries_++, retryPauses.size() - 1)];
            next = Reconnection{connectionGeneration_, ++reconnectionSerial_};
            changed = !std::exchange(retrying_, true);
        }
    }
    if (changed) emit(HIDPPEvent::retrying(next.has_value()));
    // The pause holds the device weakly: a device its owner let go stops
    // trying, rather than living on in its own queue and trying for ever.
    if (next)
        queue_->postAfter(pause, [weak = weak_from_this(), next = *next] {
            if (auto self = weak.lock()) self->reconnect(next);
        });
}

bool HIDPPDevice::stopRetryingLocked(bool dropPending) {
    failedRetries_ = 0;
    if (!retrying_) return false;
    // The retry waiting for its pause finds itself unwanted.
    if (dropPending) ++reconnectionSerial_;
    retrying_ = false;
    return true;
}

bool HIDPPDevice::isStale(const ConnectAttempt& attempt, std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return attempt.cancelled || connectionGeneration_ != generation;
}

void HIDPPDevice::performConnect(std::shared_ptr<ConnectAttempt> attempt, Next<void> done) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (attempt->cancelled) return done(std::unexpected(HIDPPError::notConnected()));
        if (connectionState_.isConnected()) return done({});
        generation = connectionGeneration_;
    }
    startMonitoring();
    // Close whatever link is left from before.
    teardownLink([self = shared_from_this(), attempt, generation, done = std::move(done)]() mutable {
        if (self->isStale(*attempt, generation)) return done(std::unexpected(HIDPPError::notConnected()));
        self->openLink(std::move(attempt), generation, std::move(done));
    });
}

void HIDPPDevice::openLink(std::shared_ptr<ConnectAttempt> attempt, std::uint64_t generation, Next<void> done) {
    using Opened = HIDPPResult<std::shared_ptr<HIDPPLink>>;
    onHIDThread<Opened>(
        [match = match_, environment = environment_]() -> Opened {
            std::shared_ptr<HIDPPLink> link = HIDPPEnumerator::hidppLink(match, environment);
            if (!link) return std::unexpected(HIDPPError::deviceNotFound());
            if (auto opened = link->open(); !opened) return std::unexpected(opened.error());
            return link;
        },
        [self = shared_from_this(), attempt, generation, done = std::move(done)](Opened opened) mutable {
            if (!opened) {
                if (opened.error().kind() == HIDPPError::Kind::notPermitted) {
                    bool changed = false;
                    {
                        std::lock_guard lock(self->mutex_);
                        changed = self->changeStateLocked(HIDPPConnectionState::notPermitted());
                    }
                    if (changed) self->emit(HIDPPEvent::stateChanged(HIDPPConnectionState::notPermitted()));
                }
                return done(std::unexpected(opened.error()));
            }
            std::shared_ptr<HIDPPLink> link = std::move(*opened);
            if (self->isStale(*attempt, generation)) {
                return self->abandon(link, [done = std::move(done)]() mutable {
                    done(std::unexpected(HIDPPError::notConnected()));
                });
            }
            self->installLink(std::move(attempt), generation, std::move(link), std::move(done));
        },
        std::unexpected(ioUnavailable()));
}

void HIDPPDevice::installLink(std::shared_ptr<ConnectAttempt> attempt, std::uint64_t generation,
                              std::shared_ptr<HIDPPLink> link, Next<void> done) {
    {
        std::lock_guard lock(mutex_);
        link_ = link;
        resetFeatureCacheLocked();
    }
    // The handler is set on the HID thread, where the link reads it; it
    // holds the device weakly and hands each notification to the queue.
    std::weak_ptr<HIDPPDevice> weak = weak_from_this();
    std::weak_ptr<HIDPPLink> weakLink = link;
    onIO([link, weak, weakLink] {
        link->setNotificationHandler([weak, weakLink](std::uint8_t featureIndex, std::uint8_t functionByte, HIDPPBytes payload) {
            auto self = weak.lock();
            if (!self) return;
            self->onQueue([self, weakLink, featureIndex, functionByte, bytes = std::move(payload)]() mutable {
                if (auto l = weakLink.lock()) self->linkNotification(l, featureIndex, functionByte, std::move(bytes));
            });
        });
    });

    pingStep([self = shared_from_this(), attempt, generation, link, done = std::move(done)](
                 HIDPPResult<HIDPPProtocolVersion> version) mutable {
        if (!version) return self->failConnect(generation, link, version.error(), std::move(done));
        if (self->isStale(*attempt, generation)) {
            return self->abandon(link, [self, generation, link, done = std::move(done)]() mutable {
                self->failConnect(generation, link, HIDPPError::notConnected(), std::move(done));
            });
        }
        {
            std::lock_guard lock(self->mutex_);
            self->cachedProtocolVersion_ = *version;
        }
        self->discoverStep([self, attempt, generation, link, done = std::move(done)](
                               HIDPPResult<std::vector<HIDPPFeatureRecord>> table) mutable {
            if (!table) return self->failConnect(generation, link, table.error(), std::move(done));
            self->finishConnect(std::move(attempt), generation, std::move(link), std::move(done));
        });
    });
}

void HIDPPDevice::finishConnect(std::shared_ptr<ConnectAttempt> attempt, std::uint64_t generation,
                                std::shared_ptr<HIDPPLink> link, Next<void> done) {
    if (isStale(*attempt, generation)) {
        return abandon(link, [self = shared_from_this(), generation, link, done = std::move(done)]() mutable {
            self->failConnect(generation, link, HIDPPError::notConnected(), std::move(done));
        });
    }
    const HIDPPDeviceIdentity identity = link->identity();
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        changed = changeStateLocked(HIDPPConnectionState::connected(identity));
    }
    if (changed) emit(HIDPPEvent::stateChanged(HIDPPConnectionState::connected(identity)));
    emit(HIDPPEvent::deviceReady(identity));
    done({});
}

void HIDPPDevice::failConnect(std::uint64_t generation, std::shared_ptr<HIDPPLink> link, HIDPPError error,
                              Next<void> done) {
    bool sameGeneration = false;
    {
        std::lock_guard lock(mutex_);
        sameGeneration = connectionGeneration_ == generation;
    }
    auto fail = [done = std::move(done), error]() mutable { done(std::unexpected(error)); };
    if (!sameGeneration) return abandon(std::move(link), std::move(fail));
    teardownLink([self = shared_from_this(), fail = std::move(fail)]() mutable {
        bool changed = false;
        {
            std::lock_guard lock(self->mutex_);
            changed = self->changeStateLocked(HIDPPConnectionState::disconnected());
        }
        if (changed) self->emit(HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected()));
        fail();
    });
}

void HIDPPDevice::teardownLink(Step then) {
    std::shared_ptr<HIDPPLink> link;
    {
        std::lock_guard lock(mutex_);
        link = std::move(link_);
        link_.reset();
    }
    if (!link) return then();
    closeLink(std::move(link), std::move(then));
}

void HIDPPDevice::abandon(std::shared_ptr<HIDPPLink> link, Step then) {
    {
        std::lock_guard lock(mutex_);
        if (link_ == link) link_.reset();
    }
    closeLink(std::move(link), std::move(then));
}

void HIDPPDevice::closeLink(std::shared_ptr<HIDPPLink> link, Step then) {
    // Closing fails every request still waiting on the link with notConnected.
    onHIDThread<bool>(
        [link] {
            link->setNotificationHandler(nullptr);
            link->close();
            return true;
        },
        [then = std::move(then)](bool) mutable { then(); }, true);
}

void HIDPPDevice::linkNotification(const std::shared_ptr<HIDPPLink>& link, std::uint8_t featureIndex,
                                   std::uint8_t functionByte, HIDPPBytes payload) {
    {
        std::lock_guard lock(mutex_);
        // Notifications flow only while their link is the installed one.
        if (link_ != link) return;
    }
    emit(HIDPPEvent::notification(featureIndex, functionByte, std::move(payload)));
}

// ---- disconnect() ----

void HIDPPDevice::disconnect(HIDPPExecutor executor, std::move_only_function<void()> completion) {
    auto body = [self = shared_from_this()](Next<void> next) {
        std::shared_ptr<HIDPPHotplugMonitor> monitor;
        bool stoppedRetrying = false;
        {
            std::lock_guard lock(self->mutex_);
            ++self->connectionGeneration_;
            stoppedRetrying = self->stopRetryingLocked();
            if (self->connectTask_) {
                self->connectTask_->cancelled = true;
                self->connectTask_.reset();
            }
            monitor = std::move(self->monitor_);
            self->monitor_.reset();
        }
        if (monitor) self->onIO([monitor] { monitor->stop(); });
        if (stoppedRetrying) self->emit(HIDPPEvent::retrying(false));
        self->teardownLink([self, next = std::move(next)]() mutable {
            bool changed = false;
            {
                std::lock_guard lock(self->mutex_);
                self->resetFeatureCacheLocked();
                changed = self->changeStateLocked(HIDPPConnectionState::disconnected());
            }
            if (changed) self->emit(HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected()));
            next({});
        });
    };
    run<void>(std::move(executor),
              [completion = std::move(completion)](HIDPPResult<void>) mutable {
                  if (completion) completion();
              },
              std::move(body));
}

// ---- Hot-plug ----

void HIDPPDevice::startMonitoring() {
    std::shared_ptr<HIDPPHotplugMonitor> monitor;
    {
        std::lock_guard lock(mutex_);
        if (monitor_) return;
        std::weak_ptr<HIDPPDevice> weak = weak_from_this();
        monitor = HIDPPHotplugMonitor::make(
            match_,
            [weak] {
                if (auto self = weak.lock()) self->onQueue([self] { self->deviceAppeared(); });
            },
            [weak](std::uint64_t registryID) {
                if (auto self = weak.lock()) self->onQueue([self, registryID] { self->deviceTerminated(registryID); });
            },
            environment_);
        monitor_ = monitor;
    }
    onIO([monitor] { monitor->start(); });
}

void HIDPPDevice::deviceAppeared() {
    Reconnection reconnection;
    {
        std::lock_guard lock(mutex_);
        if (!monitor_ || connectionState_.isConnected() || connectTask_ || !automaticallyReconnects_) return;
        // A newer arrival takes over from a retry still pausing, and starts
        // the pauses afresh.
        reconnection = Reconnection{connectionGeneration_, ++reconnectionSerial_};
        failedRetries_ = 0;
    }
    reconnect(reconnection);
}

bool HIDPPDevice::isWanted(const Reconnection& reconnection) const {
    std::lock_guard lock(mutex_);
    return connectionGeneration_ == reconnection.generation && reconnectionSerial_ == reconnection.serial && monitor_;
}

std::optional<HIDPPDeviceIdentity> HIDPPDevice::linkIdentity() const {
    std::shared_ptr<HIDPPLink> link;
    {
        std::lock_guard lock(mutex_);
        link = link_;
    }
    if (!link) return std::nullopt;
    return link->identity();
}

void HIDPPDevice::reconnect(Reconnection reconnection) {
    // After a pause, a disconnect(), a removal, a newer arrival or a success
    // may have made this attempt unwanted.
    if (!isWanted(reconnection)) return;
    if (isConnected()) {
        if (auto identity = linkIdentity()) emit(HIDPPEvent::deviceAttached(*identity));
        return;
    }
    // A failure is tried again after the attempt (afterAttempt), while the mouse is there.
    joinOrStartAttempt([self = shared_from_this()](HIDPPResult<void> result) {
        if (!result) return;
        if (auto identity = self->linkIdentity()) self->emit(HIDPPEvent::deviceAttached(*identity));
    });
}

void HIDPPDevice::deviceTerminated(std::uint64_t registryID) {
    std::shared_ptr<HIDPPLink> link;
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        link = link_;
    }
    if (!link) {
        // The mouse left while its connection was being tried again.
        bool stopped = false;
        {
            std::lock_guard lock(mutex_);
            stopped = !link_ && stopRetryingLocked();
        }
        if (stopped) emit(HIDPPEvent::retrying(false));
        return;
    }
    // The departure of any other device with the same identifiers is not ours.
    if (link->registryID() != registryID) return;
    {
        std::lock_guard lock(mutex_);
        if (link_ != link) return;
        ++connectionGeneration_;
        link = std::move(link_);
        link_.reset();
        resetFeatureCacheLocked();
    }
    // Fails every request still waiting on the link with deviceRemoved.
    onIO([link] {
        link->setNotificationHandler(nullptr);
        link->invalidate();
    });
    emit(HIDPPEvent::deviceRemoved());
    {
        std::lock_guard lock(mutex_);
        changed = changeStateLocked(HIDPPConnectionState::disconnected());
    }
    if (changed) emit(HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected()));
}

// ---- Statistics ----

void HIDPPDevice::transportStatistics(HIDPPExecutor executor,
                                      std::move_only_function<void(std::optional<HIDPPTransportStatistics>)> completion) {
    using Stats = std::optional<HIDPPTransportStatistics>;
    run<Stats>(std::move(executor),
               [completion = std::move(completion)](HIDPPResult<Stats> r) mutable { completion(r ? *r : Stats{}); },
               [self = shared_from_this()](Next<Stats> next) {
                   std::shared_ptr<HIDPPLink> link;
                   {
                       std::lock_guard lock(self->mutex_);
                       link = self->link_;
                   }
                   if (!link) return next(Stats{});
                   self->onHIDThread<Stats>([link]() -> Stats { return link->statistics(); },
                                            [next = std::move(next)](Stats s) mutable { next(std::move(s)); }, Stats{});
               });
}

} // namespace ravolet

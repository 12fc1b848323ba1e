#include "RavoletApp/Model/DeviceMonitor.hpp"

#include <algorithm>
#include <ostream>
#include <utility>

#include "Platform/AsyncSequence.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

using Snapshot = DeviceMonitor::Snapshot;
template <class T>
using Next = std::move_only_function<void(HIDPPResult<T>)>;

// The text a failure leaves for the user; none for the failures that the
// connection state already tells (no mouse, no permission).
std::optional<std::string> textWorthShowing(const HIDPPError& error) {
    switch (error.kind()) {
    case HIDPPError::Kind::notPermitted:
    case HIDPPError::Kind::deviceNotFound:
    case HIDPPError::Kind::notOpen:
    case HIDPPError::Kind::notConnected:
    case HIDPPError::Kind::deviceRemoved: return std::nullopt;
    default: return error.description();
    }
}

// A refresh step: one read of the device into one field of the snapshot. A
// failed read leaves the field empty and lets the next read go on.
template <class T, class Read>
auto readInto(std::optional<T> Snapshot::*field, Read read) {
    return [field, read](DeviceMonitor& self, Snapshot snapshot, Next<Snapshot> next) {
        std::invoke(read, *self.device(), self.executor(),
                    HIDPPCompletion<T>([field, snapshot = std::move(snapshot),
                                        next = std::move(next)](HIDPPResult<T> result) mutable {
                        if (result) snapshot.*field = std::move(*result);
                        next(std::move(snapshot));
                    }));
    };
}

// A write step's continuation: whether a write was made, or the error.
template <class T>
HIDPPCompletion<T> wrote(Next<bool> next) {
    return [next = std::move(next)](HIDPPResult<T> result) mutable {
        if (!result) return next(std::unexpected(std::move(result.error())));
        next(true);
    };
}

template <class T>
void printField(std::ostream& os, const char* name, const std::optional<T>& value) {
    if (value) os << ", " << name << ": " << *value;
}

} // namespace

std::ostream& operator<<(std::ostream& os, const Snapshot& s) {
    os << "Snapshot(" << s.connection;
    printField(os, "name", s.deviceName);
    printField(os, "protocol", s.protocolVersion);
    printField(os, "information", s.information);
    printField(os, "dpi", s.dpi);
    printField(os, "dpiRange", s.dpiRange);
    printField(os, "reportRate", s.reportRate);
    printField(os, "wheelMode", s.wheelMode);
    printField(os, "wheelCapability", s.wheelCapability);
    printField(os, "ratchet", s.ratchet);
    printField(os, "lastError", s.lastError);
    if (s.isNotPermitted) os << ", not permitted";
    if (s.lastRefresh) os << ", refreshed at " << s.lastRefresh->time_since_epoch().count();
    return os << ')';
}

std::shared_ptr<DeviceMonitor> DeviceMonitor::create(std::shared_ptr<HIDPPDevice> device, bool managesDeviceSettings,
                                                     std::shared_ptr<platform::Executor> executor,
                                                     std::shared_ptr<platform::Clock> clock) {
    return std::make_shared<DeviceMonitor>(Private{}, std::move(device), managesDeviceSettings, std::move(executor),
                                           std::move(clock));
}

std::shared_ptr<DeviceMonitor> DeviceMonitor::standard(bool managesDeviceSettings,
                                                       std::shared_ptr<platform::Executor> executor) {
    return create(HIDPPDevice::create(HIDPPDeviceMatch::g502X), managesDeviceSettings, std::move(executor),
                  platform::SystemClock::shared());
}

DeviceMonitor::DeviceMonitor(Private, std::shared_ptr<HIDPPDevice> device, bool managesDeviceSettings,
                             std::shared_ptr<platform::Executor> executor, std::shared_ptr<platform::Clock> clock)
    : device_(device),
      control_(std::make_shared<GatedHIDPPControl>(std::move(device), managesDeviceSettings)),
      executor_(std::move(executor)),
      clock_(std::move(clock)) {}

void DeviceMonitor::post(std::move_only_function<void(DeviceMonitor&)> body) {
    executor_->post([weak = weak_from_this(), body = std::move(body)]() mutable {
        if (const auto self = weak.lock()) body(*self);
    });
}

// ---- Events, one at a time ----

void DeviceMonitor::start() {
    if (isStarted_) return;
    isStarted_ = true;
    const std::uint64_t run = ++run_;
    // Subscribed before connecting, so that the connection's own events are
    // heard; they wait behind the connection and the first read.
    subscription_ = device_->subscribe(executor_, [weak = weak_from_this(), run](const HIDPPEvent& event) {
        const auto self = weak.lock();
        if (!self || self->run_ != run) return;
        self->work_.push_back(event);
        self->pump();
    });
    work_.assign(1, Connect{});
    busy_ = false;
    // Posted, so that whoever starts the monitor finishes starting (the
    // engine included) before the first event is handled.
    post([](DeviceMonitor& self) { self.pump(); });
}

void DeviceMonitor::stop() {
    ++run_;
    subscription_.cancel();
    work_.clear();
    busy_ = false;
    isStarted_ = false;
    device_->disconnect(executor_, [] {});
}

void DeviceMonitor::pump() {
    if (busy_ || work_.empty()) return;
    busy_ = true;
    Work next = std::move(work_.front());
    work_.pop_front();
    Completion done = [weak = weak_from_this(), run = run_] {
        const auto self = weak.lock();
        if (!self || self->run_ != run) return;
        self->busy_ = false;
        self->post([](DeviceMonitor& monitor) { monitor.pump(); });
    };
    std::visit(Overloaded{
                   [&](Connect) { connect(std::move(done)); },
                   [&](const HIDPPEvent& event) { handle(event, std::move(done)); },
               },
               next);
}

void DeviceMonitor::connect(Completion done) {
    device_->connect(executor_, [weak = weak_from_this(), run = run_, done = std::move(done)](HIDPPResult<void> result) mutable {
        const auto self = weak.lock();
        if (!self || self->run_ != run) return;
        if (!result) self->record(result.error());
        self->refresh(std::move(done));
    });
}

void DeviceMonitor::handle(const HIDPPEvent& event, Completion done) {
    const std::uint64_t run = run_;
    if (onDeviceEvent_) {
        const EventHandler handler = onDeviceEvent_; // it may replace itself
        handler(event);
    }
    if (run_ != run) return; // the handler stopped the monitor
    std::visit(Overloaded{
                   [&](const HIDPPEvent::DeviceReady&) {
                       applyDesiredSettings([weak = weak_from_this(), done = std::move(done)]() mutable {
                           if (const auto self = weak.lock()) self->refresh(std::move(done));
                       });
                   },
                   [&](const HIDPPEvent::Notification&) { done(); },
                   [&](const HIDPPEvent::DeviceRemoved&) {
                       deviceRemoved();
                       done();
                   },
                   [&](const auto&) { refresh(std::move(done)); }, // attached, state changed
               },
               event.value);
}

int DeviceMonitor::Snapshot::wheelReportsPerDetent() const {
    if (!wheelMode || !wheelMode->highResolution || wheelMode->target || !wheelCapability) return 1;
    return std::max(1, static_cast<int>(wheelCapability->multiplier));
}

void DeviceMonitor::deviceRemoved() {
    snapshot_.set(Snapshot{});
    // A read under way began while the mouse was there; its result is stale.
    if (isRefreshing_.value()) readAgain_ = true;
}

// ---- Reading the mouse ----

void DeviceMonitor::refresh(Completion completion) {
    if (completion) refreshWaiters_.push_back(std::move(completion));
    if (isRefreshing_.value()) {
        readAgain_ = true;
        return;
    }
    isRefreshing_.set(true);
    readSnapshot();
}

void DeviceMonitor::readSnapshot() {
    readAgain_ = false;
    Snapshot start;
    start.connection = device_->state();
    start.identity = device_->identity();
    if (!start.connection.isConnected()) {
        start.isNotPermitted = start.connection == HIDPPConnectionState::notPermitted();
        return post([start = std::move(start)](DeviceMonitor& self) mutable { self.finishRefresh(std::move(start)); });
    }
    const auto sensor0 = [](auto read) {
        return [read](HIDPPDevice& device, HIDPPExecutor executor, auto completion) {
            (device.*read)(0, std::move(executor), std::move(completion));
        };
    };
    platform::makeSequence<HIDPPError>(executor_, weak_from_this())
        .then<Snapshot>([start = std::move(start)](DeviceMonitor&, Next<Snapshot> next) mutable { next(std::move(start)); })
        .then<Snapshot>(readInto(&Snapshot::protocolVersion, &HIDPPDevice::protocolVersion))
        .then<Snapshot>(readInto(&Snapshot::deviceName, &HIDPPDevice::deviceName))
        .then<Snapshot>(readInto(&Snapshot::information, &HIDPPDevice::deviceInformation))
        .then<Snapshot>(readInto(&Snapshot::dpi, sensor0(&HIDPPDevice::dpi)))
        .then<Snapshot>(readInto(&Snapshot::dpiRange, sensor0(&HIDPPDevice::dpiRange)))
        .then<Snapshot>(readInto(&Snapshot::reportRate, &HIDPPDevice::reportRate))
        .then<Snapshot>(readInto(&Snapshot::wheelMode, &HIDPPDevice::wheelMode))
        .then<Snapshot>(readInto(&Snapshot::wheelCapability, &HIDPPDevice::wheelCapability))
        .then<Snapshot>(readInto(&Snapshot::ratchet, &HIDPPDevice::ratchetState))
        .run([](DeviceMonitor& self, HIDPPResult<Snapshot> snapshot) { self.finishRefresh(std::move(*snapshot)); });
}

void DeviceMonitor::finishRefresh(Snapshot snapshot) {
    // Superseded while reading: read again and publish only the fresh result.
    if (readAgain_) return readSnapshot();
    snapshot.lastRefresh = clock_->now();
    snapshot_.set(std::move(snapshot));
    isRefreshing_.set(false);
    for (Completion& waiter : std::exchange(refreshWaiters_, {})) waiter();
}

// ---- Writing the desired settings ----

void DeviceMonitor::applyDesiredSettings(Completion completion) {
    if (!completion) completion = [] {};
    if (!control_->isEnabled()) return post([completion = std::move(completion)](DeviceMonitor&) mutable { completion(); });
    platform::makeSequence<HIDPPError>(executor_, weak_from_this())
        .then<bool>([hertz = desiredReportRateHertz_](DeviceMonitor& self, Next<bool> next) {
            if (!hertz) return next(false);
            self.control_->setReportRate(*hertz, self.executor_, wrote<void>(std::move(next)));
        })
        .then<bool>([wheel = desiredHighResolutionWheel_](DeviceMonitor& self, bool wroteRate, Next<bool> next) {
            // The gate may have closed while the rate was being written.
            if (!wheel || !self.control_->isEnabled()) return next(wroteRate);
            self.control_->setWheelHighResolution(*wheel, self.executor_, wrote<bool>(std::move(next)));
        })
        .run([completion = std::move(completion)](DeviceMonitor& self, HIDPPResult<bool> wroteAny) mutable {
            if (!wroteAny) {
                self.record(wroteAny.error());
                if (auto text = textWorthShowing(wroteAny.error())) self.lastWriteError_.set(std::move(text));
            } else if (*wroteAny) {
                self.lastWriteError_.set(std::nullopt);
            }
            completion();
        });
}

void DeviceMonitor::record(const HIDPPError& error) {
    Snapshot snapshot = snapshot_.value();
    if (error.kind() == HIDPPError::Kind::notPermitted) snapshot.isNotPermitted = true;
    snapshot.lastError = textWorthShowing(error);
    snapshot_.set(std::move(snapshot));
}

} // namespace ravolet

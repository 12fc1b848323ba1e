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
    if (s.isRetrying) os << ", retrying";
    if (s.isWheelModeAssumed) os << ", wheel mode assumed";
    if (s.lastRefresh) os << ", refreshed at " << s.lastRefresh->time_since_epoch().count();
    return os << ')';
}

std::shared_ptr<DeviceMonitor> DeviceMonitor::create(std::shared_ptr<HIDPPDevice> device, bool managesDeviceSettings,
                                                     std::shared_ptr<platform::Executor> executor,
                                                     std::shared_ptr<platform::Clock> clock,
                                                     std::shared_ptr<WheelModeRecord> wheelRecord) {
    return std::make_shared<DeviceMonitor>(Private{}, std::move(device), managesDeviceSettings, std::move(executor),
                                           std::move(clock), std::move(wheelRecord));
}

DeviceMonitor::DeviceMonitor(Private, std::shared_ptr<HIDPPDevice> device, bool managesDeviceSettings,
                             std::shared_ptr<platform::Executor> executor, std::shared_ptr<platform::Clock> clock,
                             std::shared_ptr<WheelModeRecord> wheelRecord)
    : device_(device),
      control_(std::make_shared<GatedHIDPPControl>(std::move(device), managesDeviceSettings)),
      executor_(std::move(executor)),
      clock_(std::move(clock)),
      wheelRecord_(std::move(wheelRecord)) {
    if (wheelRecord_) {
        if (const auto kept = wheelRecord_->load(); kept && *kept) keptHighResolution_ = **kept;
    }
    updateAssumedWheel();
}

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
    needsRead_ = false;
    // Posted, so that whoever starts the monitor finishes starting (the
    // engine included) before the first event is handled.
    post([](DeviceMonitor& self) { self.pump(); });
}

void DeviceMonitor::stop() {
    ++run_;
    subscription_.cancel();
    work_.clear();
    busy_ = false;
    needsRead_ = false;
    isStarted_ = false;
    letGo();
}

void DeviceMonitor::pump() {
    // A start right after a stop connects once the mouse has been let go.
    if (busy_ || lettingGo_ > 0) return;
    Completion done = [weak = weak_from_this(), run = run_] {
        const auto self = weak.lock();
        if (!self || self->run_ != run) return;
        self->busy_ = false;
        self->post([](DeviceMonitor& monitor) { monitor.pump(); });
    };
    if (work_.empty()) {
        // What the events since the last read asked for, read once.
        if (!std::exchange(needsRead_, false)) return;
        busy_ = true;
        return refresh(std::move(done));
    }
    busy_ = true;
    Work next = std::move(work_.front());
    work_.pop_front();
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
        self->needsRead_ = true;
        done();
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
                       // The wheel first: until its mode is known the tap holds wheel ticks back.
                       readWheel([weak = weak_from_this(), done = std::move(done)]() mutable {
                           const auto self = weak.lock();
                           if (!self) return;
                           self->applyDesiredSettings([weak, done = std::move(done)]() mutable {
                               if (const auto monitor = weak.lock()) monitor->needsRead_ = true;
                               done();
                           });
                       });
                   },
                   [&](const HIDPPEvent::Notification&) { done(); },
                   [&](const HIDPPEvent::DeviceRemoved&) {
                       deviceRemoved();
                       done();
                   },
                   [&](const auto&) { // attached, state changed, retrying
                       needsRead_ = true;
                       done();
                   },
               },
               event.value);
}

std::optional<int> DeviceMonitor::Snapshot::wheelReportsPerDetent(const std::optional<HIDPPWheelMode>& mode,
                                                                  const std::optional<HIDPPWheelCapability>& capability) {
    if (!mode) return std::nullopt;
    if (!mode->highResolution || mode->target) return 1;
    if (!capability) return std::nullopt;
    return std::max(1, static_cast<int>(capability->multiplier));
}

int DeviceMonitor::Snapshot::wheelReportsPerDetent() const {
    return wheelReportsPerDetent(wheelMode, wheelCapability.value_or(HIDPPWheelCapability())).value_or(1);
}

void DeviceMonitor::deviceRemoved() {
    snapshot_.set(Snapshot{});
    noteWheel(std::nullopt, std::nullopt);
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
    readingAfterWheelWrite_ = wheelWrites_;
    Snapshot start;
    start.connection = device_->state();
    start.identity = device_->identity();
    if (!start.connection.isConnected()) {
        start.isNotPermitted = start.connection == HIDPPConnectionState::notPermitted();
        start.isRetrying = device_->isRetrying();
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
    // Unless the wheel's mode was written meanwhile, which makes what was read stale.
    if (snapshot.wheelMode && readingAfterWheelWrite_ == wheelWrites_)
        noteWheel(snapshot.wheelMode, snapshot.wheelCapability ? snapshot.wheelCapability : wheelCapability_);
    // There, as its nodes are when it is connected, refused or not answering.
    const bool present = snapshot.connection.isConnected() || snapshot.isRetrying || snapshot.isNotPermitted;
    snapshot.isWheelModeAssumed = present && !wheelReportsPerDetent_.value();
    snapshot_.set(std::move(snapshot));
    isRefreshing_.set(false);
    for (Completion& waiter : std::exchange(refreshWaiters_, {})) waiter();
}

// ---- The wheel ----

void DeviceMonitor::readWheel(Completion then) {
    struct Wheel {
        std::optional<HIDPPWheelCapability> capability;
        std::optional<HIDPPWheelMode> mode;
        bool absent = false; // a mouse without the high-resolution wheel
    };
    platform::makeSequence<HIDPPError>(executor_, weak_from_this())
        .then<Wheel>([](DeviceMonitor& self, Next<Wheel> next) {
            self.device_->wheelCapability(self.executor_, [next = std::move(next)](HIDPPResult<HIDPPWheelCapability> read) mutable {
                next(Wheel{read ? std::optional(*read) : std::nullopt, std::nullopt});
            });
        })
        .then<Wheel>([](DeviceMonitor& self, Wheel wheel, Next<Wheel> next) {
            self.device_->wheelMode(self.executor_, [wheel, next = std::move(next)](HIDPPResult<HIDPPWheelMode> read) mutable {
                if (read) wheel.mode = *read;
                wheel.absent = !read && read.error().kind() == HIDPPError::Kind::featureUnsupported;
                next(wheel);
            });
        })
        .run([then = std::move(then)](DeviceMonitor& self, HIDPPResult<Wheel> wheel) mutable {
            if (wheel->mode) {
                self.learnFoundMode(*wheel->mode);
                self.noteWheel(wheel->mode, wheel->capability);
            } else if (wheel->absent) {
                self.noteWheel(HIDPPWheelMode(), std::nullopt); // every report a detent
            }
            then();
        });
}

void DeviceMonitor::noteWheel(const std::optional<HIDPPWheelMode>& mode,
                              const std::optional<HIDPPWheelCapability>& capability) {
    wheelMode_ = mode;
    wheelCapability_ = capability;
    if (capability) lastWheelMultiplier_ = std::max(1, static_cast<int>(capability->multiplier));
    // Before the count itself, so that whoever follows it finds the
    // assumption for when it is not known up to date.
    updateAssumedWheel();
    wheelReportsPerDetent_.set(Snapshot::wheelReportsPerDetent(mode, capability));
}

void DeviceMonitor::updateAssumedWheel() {
    const bool highResolution = foundHighResolution_.value_or(keptHighResolution_.value_or(powerUpHighResolution));
    assumedWheelReportsPerDetent_.set(highResolution ? lastWheelMultiplier_.value_or(powerUpWheelMultiplier) : 1);
}

void DeviceMonitor::learnFoundMode(const HIDPPWheelMode& mode) {
    if (foundHighResolution_) return;
    // A mode kept by an earlier run that never put it back (a crash, a
    // kill) is the one the wheel was found in: this one is that run's.
    if (wheelRecord_) {
        const auto kept = wheelRecord_->load();
        if (!kept) {
            // Left as it is, for whoever wants to see what it holds; the
            // mode is then kept in memory only.
            recordProblem_ = kept.error() + " (the wheel's mode is put back when Ravolet quits, but not after a crash, "
                                            "until that file is removed)";
            lastWriteError_.set(recordProblem_);
        } else if (*kept) {
            foundHighResolution_ = **kept;
            foundModeKept_ = true;
            return updateAssumedWheel();
        }
    }
    foundHighResolution_ = mode.highResolution;
    updateAssumedWheel();
}

void DeviceMonitor::setWheelCounted(bool counted) {
    if (counted == wheelCounted_) return;
    wheelCounted_ = counted;
    if (!isStarted_ || !device_->isConnected()) return; // the next readiness writes it
    applyDesiredSettings([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->refresh();
    });
}

std::optional<bool> DeviceMonitor::wheelTarget(bool gateOpen) const {
    if (gateOpen && wheelCounted_ && desiredHighResolutionWheel_) return desiredHighResolutionWheel_;
    // Letting go: the found mode, where Ravolet may have changed it.
    if (foundModeKept_) return foundHighResolution_;
    return std::nullopt;
}

void DeviceMonitor::keepFoundMode() {
    if (foundModeKept_ || !foundHighResolution_) return;
    foundModeKept_ = true;
    if (!wheelRecord_ || recordProblem_) return;
    // Without the record a crash leaves the wheel as it is; a clean stop
    // still puts it back.
    if (auto kept = wheelRecord_->keep(*foundHighResolution_); !kept) {
        recordProblem_ = "cannot keep the wheel's mode in " + wheelRecord_->file().string() + ": " + kept.error();
        lastWriteError_.set(recordProblem_);
    }
}

void DeviceMonitor::forgetFoundMode() {
    if (!foundModeKept_) return;
    foundModeKept_ = false;
    if (wheelRecord_ && !recordProblem_) wheelRecord_->forget();
}

void DeviceMonitor::writeWheel(bool highResolution, HIDPPCompletion<bool> completion) {
    // The tap holds wheel ticks while the mode changes under it.
    ++wheelWrites_;
    wheelReportsPerDetent_.set(std::nullopt);
    auto written = [weak = weak_from_this(), completion = std::move(completion)](HIDPPResult<bool> on) mutable {
        if (const auto self = weak.lock(); self && self->wheelMode_) {
            HIDPPWheelMode mode = *self->wheelMode_;
            if (on) mode.highResolution = *on;
            self->noteWheel(mode, self->wheelCapability_);
            if (on && mode.highResolution == self->foundHighResolution_) self->forgetFoundMode();
        }
        completion(std::move(on));
    };
    if (highResolution == foundHighResolution_) {
        // Putting back what Ravolet changed needs no permission of the gate.
        return device_->setWheelHighResolution(
            highResolution, executor_, [written = std::move(written)](HIDPPResult<HIDPPWheelMode> mode) mutable {
                if (!mode) return written(std::unexpected(std::move(mode.error())));
                written(mode->highResolution);
            });
    }
    keepFoundMode();
    control_->setWheelHighResolution(highResolution, executor_, std::move(written));
}

// ---- Writing the desired settings ----

void DeviceMonitor::applyDesiredSettings(Completion completion) {
    if (!completion) completion = [] {};
    const bool open = control_->isEnabled();
    platform::makeSequence<HIDPPError>(executor_, weak_from_this())
        .then<bool>([hertz = open ? desiredReportRateHertz_ : std::nullopt](DeviceMonitor& self, Next<bool> next) {
            if (!hertz) return next(false);
            self.control_->setReportRate(*hertz, self.executor_, wrote<void>(std::move(next)));
        })
        .then<bool>([](DeviceMonitor& self, bool wroteRate, Next<bool> next) {
            // The mode it was found in is known once the mouse has been read.
            if (self.foundHighResolution_ || !self.device_->isConnected()) return next(wroteRate);
            self.readWheel([next = std::move(next), wroteRate]() mutable { next(wroteRate); });
        })
        .then<bool>([](DeviceMonitor& self, bool wroteRate, Next<bool> next) {
            // The gate may have closed while the rate was being written.
            const auto target = self.wheelTarget(self.control_->isEnabled());
            if (!target || !self.foundHighResolution_) return next(wroteRate);
            self.writeWheel(*target, wrote<bool>(std::move(next)));
        })
        .run([completion = std::move(completion)](DeviceMonitor& self, HIDPPResult<bool> wroteAny) mutable {
            if (!wroteAny) {
                self.record(wroteAny.error());
                if (auto text = textWorthShowing(wroteAny.error())) self.lastWriteError_.set(std::move(text));
            } else if (*wroteAny) {
                // A problem with the record of the wheel's mode outlasts the writes.
                self.lastWriteError_.set(self.recordProblem_);
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

// ---- Letting go ----

void DeviceMonitor::letGo() {
    ++lettingGo_;
    const auto disconnect = [weak = weak_from_this(), device = device_, executor = executor_] {
        device->disconnect(executor, [weak] {
            if (const auto self = weak.lock()) self->finishLettingGo();
        });
    };
    // Before the HID++ node closes: the wheel as Ravolet found it.
    if (!foundModeKept_ || !foundHighResolution_ || !device_->isConnected()) return disconnect();
    writeWheel(*foundHighResolution_, [disconnect](HIDPPResult<bool>) { disconnect(); });
}

void DeviceMonitor::finishLettingGo() {
    if (--lettingGo_ > 0) return;
    for (Completion& waiter : std::exchange(letGoWaiters_, {})) waiter();
    if (isStarted_) pump();
}

void DeviceMonitor::whenLetGo(Completion completion) {
    if (lettingGo_ == 0) return post([completion = std::move(completion)](DeviceMonitor&) mutable { completion(); });
    letGoWaiters_.push_back(std::move(completion));
}

} // namespace ravolet

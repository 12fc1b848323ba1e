#include "RavoletEngine/Coordination/SettingsApplier.hpp"

#include <utility>
#include <vector>

#include "Platform/AsyncSequence.hpp"
#include "Platform/SerialQueue.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

using OptionalDPI = std::optional<std::int64_t>;

// The DPI a job wrote and the DPI the mouse reported afterwards.
struct Written {
    OptionalDPI set;
    OptionalDPI reported;
};

template <class T>
using Next = std::move_only_function<void(HIDPPResult<T>)>;

// A completion that passes `set` on when the write behind it succeeded, and
// the write's error otherwise.
template <class R>
HIDPPCompletion<R> carrying(OptionalDPI set, Next<OptionalDPI> next) {
    return [set, next = std::move(next)](HIDPPResult<R> result) mutable {
        if (!result) return next(std::unexpected(std::move(result.error())));
        next(set);
    };
}

std::ostream& printDPI(std::ostream& os, OptionalDPI dpi) { return dpi ? os << *dpi : os << '-'; }

} // namespace

struct SettingsApplier::Job {
    // What the job writes, fixed when it was asked for.
    OptionalDPI dpi;
    OptionalDPI reportRateHertz;
    std::optional<bool> highResolutionWheel;
    platform::TaskHandle cancellation = platform::TaskHandle::make();
    // Completions of waitForApply calls, each one delivering on its own executor.
    std::vector<platform::Task> waiters;

    void finish() {
        for (platform::Task& waiter : std::exchange(waiters, {})) waiter();
    }
};

std::ostream& operator<<(std::ostream& os, const SettingsApplier::Snapshot& s) {
    os << "Snapshot(" << s.state << ", lastApplied ";
    printDPI(os, s.lastAppliedDPI) << ", reported ";
    printDPI(os, s.deviceReportedDPI) << ", " << s.desired << ", override ";
    return printDPI(os, s.dpiOverride) << ')';
}

std::shared_ptr<SettingsApplier> SettingsApplier::create(std::shared_ptr<HIDPPControlling> control,
                                                         DesiredDeviceSettings desired,
                                                         std::shared_ptr<platform::Executor> executor) {
    if (!executor) executor = std::make_shared<platform::SerialQueue>(queueLabel, platform::QueuePriority::userInitiated);
    return std::make_shared<SettingsApplier>(Private{}, std::move(control), desired, std::move(executor));
}

SettingsApplier::SettingsApplier(Private, std::shared_ptr<HIDPPControlling> control, DesiredDeviceSettings desired,
                                 std::shared_ptr<platform::Executor> executor)
    : control_(std::move(control)), executor_(std::move(executor)), desired_(desired) {}

SettingsApplier::~SettingsApplier() {
    // Whoever waits for a job that can no longer end still hears of it.
    if (running_) running_->finish();
    if (pending_) pending_->finish();
}

void SettingsApplier::onExecutor(std::move_only_function<void(SettingsApplier&)> body) {
    executor_->post([self = shared_from_this(), body = std::move(body)]() mutable { body(*self); });
}

void SettingsApplier::update(DesiredDeviceSettings desired) {
    onExecutor([desired](SettingsApplier& self) {
        self.desired_ = desired;
        self.applyHere();
    });
}

void SettingsApplier::applyNow() {
    onExecutor([](SettingsApplier& self) { self.applyHere(); });
}

void SettingsApplier::setDPIOverride(std::optional<std::int64_t> dpi) {
    onExecutor([dpi](SettingsApplier& self) {
        self.dpiOverride_ = dpi;
        const OptionalDPI target = dpi ? dpi : self.desired_.dpi;
        if (target) self.submit(target, std::nullopt, std::nullopt);
    });
}

void SettingsApplier::handle(HIDPPEvent event) {
    onExecutor([event = std::move(event)](SettingsApplier& self) {
        std::visit(Overloaded{
                       [&](const HIDPPEvent::DeviceReady&) {
                           self.applyHere();
                           if (self.readyObserver_) self.readyObserver_();
                       },
                       [&](const HIDPPEvent::StateChanged& changed) {
                           if (changed.state == HIDPPConnectionState::notPermitted()) {
                               self.setState(SettingsApplyState::notPermitted());
                           }
                       },
                       [&](const HIDPPEvent::DeviceRemoved&) {
                           self.setState(SettingsApplyState::idle());
                           self.lastAppliedDPI_.reset();
                       },
                       [](const auto&) {},
                   },
                   event.value);
    });
}

void SettingsApplier::onDeviceDPIChange(DPIObserver observer) {
    onExecutor([observer = std::move(observer)](SettingsApplier& self) mutable {
        self.dpiObserver_ = std::move(observer);
        if (self.dpiObserver_) self.dpiObserver_(self.deviceReportedDPI_);
    });
}

void SettingsApplier::onDeviceReady(ReadyObserver observer) {
    onExecutor([observer = std::move(observer)](SettingsApplier& self) mutable { self.readyObserver_ = std::move(observer); });
}

void SettingsApplier::onStateChange(StateObserver observer) {
    onExecutor([observer = std::move(observer)](SettingsApplier& self) mutable {
        self.stateObserver_ = std::move(observer);
        if (self.stateObserver_) self.stateObserver_(self.state_);
    });
}

void SettingsApplier::snapshot(HIDPPExecutor executor, std::move_only_function<void(Snapshot)> completion) {
    onExecutor([executor = std::move(executor), completion = std::move(completion)](SettingsApplier& self) mutable {
        Snapshot snapshot{self.state_, self.lastAppliedDPI_, self.deviceReportedDPI_, self.desired_, self.dpiOverride_};
        platform::deliverOn(executor ? executor : self.executor_,
                            [completion = std::move(completion), snapshot = std::move(snapshot)]() mutable {
                                completion(std::move(snapshot));
                            });
    });
}

void SettingsApplier::waitForApply(HIDPPExecutor executor, std::move_only_function<void()> completion) {
    onExecutor([executor = std::move(executor), completion = std::move(completion)](SettingsApplier& self) mutable {
        platform::Task waiter = [executor = executor ? executor : self.executor_,
                                 completion = std::move(completion)]() mutable {
            platform::deliverOn(executor, std::move(completion));
        };
        const std::shared_ptr<Job>& newest = self.pending_ ? self.pending_ : self.running_;
        if (!newest) return waiter();
        newest->waiters.push_back(std::move(waiter));
    });
}

void SettingsApplier::applyHere() {
    setState(SettingsApplyState::applying());
    submit(dpiOverride_ ? dpiOverride_ : desired_.dpi, desired_.reportRateHertz, desired_.highResolutionWheel);
}

void SettingsApplier::submit(OptionalDPI dpi, OptionalDPI reportRateHertz, std::optional<bool> highResolutionWheel) {
    auto job = std::make_shared<Job>();
    job->dpi = dpi;
    job->reportRateHertz = reportRateHertz;
    job->highResolutionWheel = highResolutionWheel;
    if (!running_) {
        running_ = job;
        return launch(job);
    }
    // The job in flight stops after its current step; a job that was waiting
    // for it is dropped unrun.
    running_->cancellation.cancel();
    if (pending_) pending_->finish();
    pending_ = std::move(job);
}

void SettingsApplier::launch(const std::shared_ptr<Job>& job) {
    platform::makeSequence<HIDPPError>(executor_, weak_from_this(), job->cancellation)
        .then<OptionalDPI>([dpi = job->dpi](SettingsApplier& self, Next<OptionalDPI> next) {
            if (!dpi) return next(std::nullopt);
            self.control_->setDPI(*dpi, self.executor_, [next = std::move(next)](HIDPPResult<std::int64_t> set) mutable {
                if (!set) return next(std::unexpected(std::move(set.error())));
                next(OptionalDPI(*set));
            });
        })
        .then<OptionalDPI>([hertz = job->reportRateHertz](SettingsApplier& self, OptionalDPI set, Next<OptionalDPI> next) {
            if (!hertz) return next(set);
            self.control_->setReportRate(*hertz, self.executor_, carrying<void>(set, std::move(next)));
        })
        .then<OptionalDPI>([wheel = job->highResolutionWheel](SettingsApplier& self, OptionalDPI set, Next<OptionalDPI> next) {
            if (!wheel) return next(set);
            self.control_->setWheelHighResolution(*wheel, self.executor_, carrying<bool>(set, std::move(next)));
        })
        .then<Written>([](SettingsApplier& self, OptionalDPI set, Next<Written> next) {
            // A failed read-back only leaves the reported DPI unknown.
            self.control_->readDPI(self.executor_, [set, next = std::move(next)](HIDPPResult<std::int64_t> reported) mutable {
                next(Written{set, reported ? OptionalDPI(*reported) : std::nullopt});
            });
        })
        .run(
            [job](SettingsApplier& self, HIDPPResult<Written> result) {
                if (result) {
                    self.record(result->set, result->reported);
                } else {
                    self.record(result.error());
                }
                self.ended(job);
            },
            [job](SettingsApplier& self) { self.ended(job); });
}

void SettingsApplier::ended(const std::shared_ptr<Job>& job) {
    job->finish();
    if (running_ != job) return;
    running_ = std::exchange(pending_, nullptr);
    if (running_) launch(running_);
}

void SettingsApplier::record(OptionalDPI dpi, OptionalDPI reported) {
    if (dpi) lastAppliedDPI_ = dpi;
    setState(SettingsApplyState::applied(lastAppliedDPI_));
    if (!reported || *reported < 1 || deviceReportedDPI_ == reported) return;
    deviceReportedDPI_ = reported;
    if (dpiObserver_) dpiObserver_(reported);
}

void SettingsApplier::setState(SettingsApplyState state) {
    if (state == state_) return;
    state_ = std::move(state);
    if (stateObserver_) stateObserver_(state_);
}

void SettingsApplier::record(const HIDPPError& error) {
    switch (error.kind()) {
    case HIDPPError::Kind::notPermitted:
        return setState(SettingsApplyState::notPermitted());
    case HIDPPError::Kind::deviceNotFound:
    case HIDPPError::Kind::notOpen:
    case HIDPPError::Kind::notConnected:
    case HIDPPError::Kind::deviceRemoved:
        return setState(SettingsApplyState::idle());
    default:
        return setState(SettingsApplyState::failed(error.description()));
    }
}

} // namespace ravolet

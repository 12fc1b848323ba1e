#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"

#include <condition_variable>
#include <future>
#include <mutex>

namespace ravolet {

using Event = PointerTuningEvent;
using Action = PointerTuningAction;
using State = PointerTuningState;
using Reason = PointerTuningRestoreReason;

namespace {

std::mutex sharedLock;
std::shared_ptr<PointerHardwareTuning>& sharedSlot() {
    static std::shared_ptr<PointerHardwareTuning> slot;
    return slot;
}

} // namespace

PointerHardwareTuning::PointerHardwareTuning(std::shared_ptr<PointerPropertyBackend> backend,
                                             std::shared_ptr<platform::KeyValueStore> defaults,
                                             std::optional<std::filesystem::path> captureURL,
                                             std::vector<HIDPPDeviceMatch> matches,
                                             std::shared_ptr<platform::Clock> clock,
                                             std::shared_ptr<platform::FileSystem> files)
    : PointerHardwareTuning(Queues{}, std::move(backend), std::move(defaults), std::move(captureURL), std::move(matches),
                            std::move(clock), std::move(files)) {
    perform([](PointerHardwareTuning& self) {
        if (const auto found = self.work_.recover()) self.fire(*found);
    });
    publish();
}

PointerHardwareTuning::PointerHardwareTuning(Queues queues, std::shared_ptr<PointerPropertyBackend> backend,
                                             std::shared_ptr<platform::KeyValueStore> defaults,
                                             std::optional<std::filesystem::path> captureURL,
                                             std::vector<HIDPPDeviceMatch> matches,
                                             std::shared_ptr<platform::Clock> clock,
                                             std::shared_ptr<platform::FileSystem> files)
    : defaults_(std::move(defaults)),
      captureFile_(files, captureURL ? std::move(*captureURL) : files->settingsFolder() / captureFileName),
      work_(std::move(backend), std::move(clock), captureFile_, std::move(matches)),
      supported_(work_.backend().canWrite()),
      enabled_(defaults_->boolValue(enabledDefaultsKey).value_or(true)),
      queues_(std::move(queues)) {
    publisher_ = PointerTuningPublisher::make(
        queues_.interface, waitingAfter, [this] { return switchAsked_.waiting(); }, composed());
}

std::shared_ptr<PointerHardwareTuning> PointerHardwareTuning::queued(Queues queues,
                                                                     std::shared_ptr<PointerPropertyBackend> backend,
                                                                     std::shared_ptr<platform::KeyValueStore> defaults,
                                                                     std::optional<std::filesystem::path> captureURL,
                                                                     std::vector<HIDPPDeviceMatch> matches,
                                                                     std::shared_ptr<platform::Clock> clock,
                                                                     std::shared_ptr<platform::FileSystem> files) {
    std::shared_ptr<PointerHardwareTuning> tuning(new PointerHardwareTuning(std::move(queues), std::move(backend),
                                                                            std::move(defaults), std::move(captureURL),
                                                                            std::move(matches), std::move(clock),
                                                                            std::move(files)));
    tuning->perform([](PointerHardwareTuning& self) {
        if (const auto found = self.work_.recover()) self.fire(*found);
    });
    return tuning;
}

std::shared_ptr<PointerHardwareTuning> PointerHardwareTuning::shared(
    const std::function<std::shared_ptr<PointerHardwareTuning>()>& make) {
    std::lock_guard guard(sharedLock);
    auto& slot = sharedSlot();
    if (!slot) slot = make();
    return slot;
}

void PointerHardwareTuning::setShared(std::shared_ptr<PointerHardwareTuning> tuning) {
    std::lock_guard guard(sharedLock);
    sharedSlot() = std::move(tuning);
}

bool PointerHardwareTuning::waitUntilIdle(std::chrono::milliseconds limit) {
    if (!queues_.work || queues_.work->isCurrent()) return true;
    struct Mark {
        std::mutex lock;
        std::condition_variable reached;
        bool done = false;
    };
    // Shared: the queue may reach the mark after the wait has given up.
    const auto mark = std::make_shared<Mark>();
    queues_.work->post([mark] {
        std::lock_guard guard(mark->lock);
        mark->done = true;
        mark->reached.notify_all();
    });
    std::unique_lock guard(mark->lock);
    return mark->reached.wait_for(guard, limit, [&] { return mark->done; });
}

// ---------------------------------------------------------------------------
// Handing over

void PointerHardwareTuning::setEnabled(bool enabled) {
    if (enabled == status().isEnabled) return;
    // The preferences belong to the caller's thread: written here, at once.
    defaults_->set(enabledDefaultsKey, enabled);
    if (!queues_.work) return perform([enabled](PointerHardwareTuning& self) { self.setEnabledNow(enabled); });
    // A switch flipped again while its change still waits for the desktop
    // changes what that change will do: the desktop hears only the user's
    // last word, once, however often the switch went back and forth. The
    // status says it at once meanwhile.
    const bool handOver = switchAsked_.say(enabled, handedOver_, [](bool, bool latest) { return latest; });
    publisher_->switchSet(enabled);
    if (handOver) perform([](PointerHardwareTuning& self) { self.setEnabledNow(self.switchAsked_.take()); });
}

void PointerHardwareTuning::request(const PointerTuningRequest& request) {
    if (!queues_.work) return perform([request](PointerHardwareTuning& self) { self.requestNow(request); });
    // What running both in turn would leave: this permission, and the last
    // DPI the resolution can hold.
    const auto join = [](const PointerTuningRequest& waiting, const PointerTuningRequest& latest) {
        const bool usable = latest.deviceDPI && fixed(*latest.deviceDPI);
        return PointerTuningRequest(latest.isPermitted, usable ? latest.deviceDPI : waiting.deviceDPI);
    };
    if (requestAsked_.say(request, handedOver_, join))
        perform([](PointerHardwareTuning& self) { self.requestNow(self.requestAsked_.take()); });
}

void PointerHardwareTuning::deviceDPIReported(std::optional<std::int64_t> dpi) {
    perform([dpi](PointerHardwareTuning& self) { self.deviceDPIReportedNow(dpi); });
}

void PointerHardwareTuning::deviceBecameReady() {
    perform([](PointerHardwareTuning& self) {
        self.fire(Event::mouseReady);
        self.fire(Event::requested);
        self.publish();
    });
}

void PointerHardwareTuning::desktopSettingsChanged() {
    perform([](PointerHardwareTuning& self) {
        self.fire(Event::desktopChanged);
        self.publish();
    });
}

void PointerHardwareTuning::setDeviceMatches(std::vector<HIDPPDeviceMatch> matches) {
    perform([matches = std::move(matches)](PointerHardwareTuning& self) mutable {
        if (matches == self.work_.matches()) return;
        self.work_.setMatches(std::move(matches));
        self.fire(Event::requested);
        self.publish();
    });
}

void PointerHardwareTuning::restore(Reason reason) {
    perform([reason](PointerHardwareTuning& self) {
        self.fire(Event::stop, reason);
        self.publish();
    });
}

void PointerHardwareTuning::refreshReading() {
    perform([](PointerHardwareTuning& self) {
        self.work_.refreshReading();
        self.publish();
    });
}

std::optional<PointerTuningCapture> PointerHardwareTuning::currentReading() {
    return answered([this] { return work_.currentReading(); });
}

std::optional<PointerHardwareTuning::ReadBack> PointerHardwareTuning::readBack() {
    return answered([this] { return work_.readBack(); });
}

std::vector<PointerServiceIdentity> PointerHardwareTuning::candidateServices() {
    return answered([this] { return work_.candidates(); });
}

void PointerHardwareTuning::perform(Operation operation) {
    if (!queues_.work) return run(operation);
    ++handedOver_;
    publisher_->handedOver();
    queues_.work->post([weak = weak_from_this(), operation = std::move(operation)]() mutable {
        const auto self = weak.lock();
        if (!self) return;
        self->run(operation);
        self->publisher_->finished([&] { return self->composed(); });
    });
}

void PointerHardwareTuning::run(Operation& operation) {
    if (queues_.work) captureFile_.hold(captureLockPatience);
    struct Bracket {
        PointerPropertyBackend& backend;
        explicit Bracket(PointerPropertyBackend& backend) : backend(backend) { backend.beginOperation(); }
        ~Bracket() { backend.endOperation(); }
    } bracket(work_.backend());
    operation(*this);
}

template <class Question>
auto PointerHardwareTuning::answered(Question&& question) -> decltype(question()) {
    using Answer = decltype(question());
    std::optional<Answer> answer;
    Operation asking = [&](PointerHardwareTuning&) { answer = question(); };
    if (!queues_.work || queues_.work->isCurrent()) {
        run(asking);
        return std::move(*answer);
    }
    std::promise<void> done;
    auto future = done.get_future();
    // The tuner owns its queue, which cannot go while this waits.
    queues_.work->post([&] {
        run(asking);
        done.set_value();
    });
    future.get();
    return std::move(*answer);
}

// ---------------------------------------------------------------------------
// The operations

void PointerHardwareTuning::setEnabledNow(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled) {
        fire(Event::askedAfresh);
        fire(Event::requested);
    } else {
        fire(Event::switchedOff);
    }
    publish();
}

void PointerHardwareTuning::requestNow(const PointerTuningRequest& request) {
    // A DPI the resolution cannot hold is no DPI at all.
    const bool usable = request.deviceDPI && fixed(*request.deviceDPI);
    lastRequest_ = {request.isPermitted, usable ? request.deviceDPI : lastRequest_.deviceDPI};
    fire(Event::requested);
    publish();
}

void PointerHardwareTuning::deviceDPIReportedNow(std::optional<std::int64_t> dpi) {
    if (!dpi || *dpi < 1 || !fixed(*dpi)) return;
    const bool unchanged = lastRequest_.deviceDPI == dpi;
    lastRequest_.deviceDPI = dpi;
    if (unchanged) {
        fire(Event::dpiRepeated);
    } else {
        // A new DPI is a new reason to set the acceleration flat.
        fire(Event::askedAfresh);
        fire(Event::requested);
    }
    publish();
}

// ---------------------------------------------------------------------------
// The machine and its work

bool PointerHardwareTuning::fire(Event event, Reason asked) {
    machine_.want(wanted());
    bool goesOn = true;
    for (std::optional<Event> next = event; next;) {
        const State before = machine_.state();
        const PointerTuningStep step = machine_.handle(*next, asked);
        // Only a step out of a state that holds them lets the originals go:
        // an event heard in the middle of a write (a desktop that tells of
        // the tuner's own write at once) leaves the fresh capture alone.
        if (holdsOriginals(before) && !holdsOriginals(step.next)) work_.letGo();
        if (step.stopsWaiting) work_.stopWaiting();
        goesOn = !step.endsLook;
        next = carryOut(step);
    }
    return goesOn;
}

std::optional<Event> PointerHardwareTuning::carryOut(const PointerTuningStep& step) {
    switch (step.action) {
    case Action::none: return std::nullopt;
    case Action::look: return look();
    case Action::write: return work_.write(lastRequest_.deviceDPI);
    case Action::restore: return work_.restore(step.reason);
    case Action::retry: return work_.retry();
    case Action::drop: work_.drop(); return std::nullopt;
    case Action::standBack: work_.standBack(); return std::nullopt;
    case Action::follow: return work_.follow();
    case Action::check:
        if (work_.heldReplaced()) fire(Event::replaced);
        work_.showReading();
        return std::nullopt;
    case Action::checkService: return work_.serviceGone() ? std::optional(Event::serviceGone) : std::nullopt;
    case Action::showReading: work_.showReading(); return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Event> PointerHardwareTuning::look() {
    const auto target = work_.find();
    if (!target) return Event::mouseGone;
    // Originals held for another service go back before anything else is tuned.
    if (work_.heldElsewhere(*target) && !fire(Event::heldElsewhere)) return std::nullopt;
    work_.aim(*target);
    if (work_.replaced(target->registryID) && !fire(Event::replaced)) {
        work_.showReading();
        return std::nullopt;
    }
    return Event::mouseFound;
}

PointerTuningStatus PointerHardwareTuning::composed() const {
    const PointerTuningReport& found = work_.report();
    const State state = machine_.state();
    PointerTuningStatus status;
    status.isSupported = supported_;
    status.isEnabled = enabled_;
    status.isPermitted = lastRequest_.isPermitted;
    status.isApplied = isInForce(state);
    status.target = found.target;
    if (holdsOriginals(state)) status.capture = work_.heldCapture();
    status.appliedResolution = found.appliedResolution;
    status.appliedAcceleration = found.appliedAcceleration;
    status.resolutionWrite = found.resolutionWrite;
    status.accelerationWrite = found.accelerationWrite;
    status.lastReadBackResolution = found.lastReadBackResolution;
    status.lastReadBackAcceleration = found.lastReadBackAcceleration;
    status.lastRestoreReason = found.lastRestoreReason;
    status.recoveredStrandedCapture = found.recoveredStrandedCapture;
    status.restoreFailed = state == State::restoreFailed;
    if (status.restoreFailed) status.restoreFailedKeys = found.restoreFailedKeys;
    status.restorePending = state == State::restorePending;
    status.isWaitingForDevice = found.isWaitingForDevice;
    status.changedOutside = state == State::leftToUser;
    status.currentReading = found.currentReading;
    if (found.problem) status.lastError = found.problem->text();
    return status;
}

void PointerHardwareTuning::publish() {
    publisher_->publish([this] { return composed(); });
}

} // namespace ravolet

#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "Platform/Linux/JsonFileKeyValueStore.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "RavoletEngine/Coordination/DesktopPointerPropertyBackend.hpp"

namespace ravolet {

using Reason = PointerTuningRestoreReason;
using Write = PointerPropertyWrite;

namespace {

constexpr std::string_view restoreRefusedPrefix = "Your desktop refused to put ";
constexpr std::string_view strandedRefusedPrefix =
    "Ravolet still had a correction applied from a previous run and could not put ";
constexpr std::int64_t fixedLimit = std::int64_t{1} << 47;

std::string joined(const std::vector<std::string>& keys) {
    std::string text;
    for (const auto& key : keys) text += (text.empty() ? "" : " and ") + key;
    return text;
}

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
    perform([](PointerHardwareTuning& self) { self.recoverStrandedCapture(); });
    publish();
}

PointerHardwareTuning::PointerHardwareTuning(Queues queues, std::shared_ptr<PointerPropertyBackend> backend,
                                             std::shared_ptr<platform::KeyValueStore> defaults,
                                             std::optional<std::filesystem::path> captureURL,
                                             std::vector<HIDPPDeviceMatch> matches,
                                             std::shared_ptr<platform::Clock> clock,
                                             std::shared_ptr<platform::FileSystem> files)
    : backend_(backend ? std::move(backend)
                       : std::make_shared<DesktopPointerPropertyBackend>(
                             std::shared_ptr(platform::DesktopPointerSettings::forThisSession()))),
      defaults_(std::move(defaults)),
      clock_(std::move(clock)),
      files_(std::move(files)),
      captureURL_(captureURL ? std::move(*captureURL) : files_->settingsFolder() / captureFileName),
      matches_(std::move(matches)),
      queues_(std::move(queues)) {
    working_.isSupported = backend_->canWrite();
    working_.isEnabled = defaults_->boolValue(enabledDefaultsKey).value_or(true);
    snapshot_ = working_;
    status_.set(working_);
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
    tuning->perform([](PointerHardwareTuning& self) { self.recoverStrandedCapture(); });
    return tuning;
}

std::shared_ptr<PointerHardwareTuning> PointerHardwareTuning::shared() {
    return shared([] {
        return std::make_shared<PointerHardwareTuning>(nullptr, platform::JsonFileKeyValueStore::standard(), std::nullopt,
                                                       std::vector{HIDPPDeviceMatch::g502X},
                                                       platform::SystemClock::shared(),
                                                       platform::LinuxFileSystem::shared());
    });
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

ObserverConnection PointerHardwareTuning::observeStatus(std::function<void(const PointerTuningStatus&)> observer) {
    return status_.observe(std::move(observer));
}

PointerTuningStatus PointerHardwareTuning::status() const {
    std::lock_guard guard(snapshotLock_);
    return snapshot_;
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

std::optional<std::int64_t> PointerHardwareTuning::fixed(std::int64_t cpi) {
    if (cpi <= -fixedLimit || cpi >= fixedLimit) return std::nullopt;
    return cpi * 65536;
}

// ---------------------------------------------------------------------------
// Operations

void PointerHardwareTuning::setEnabled(bool enabled) {
    if (enabled == status().isEnabled) return;
    // The preferences belong to the caller's thread: written here, at once.
    defaults_->set(enabledDefaultsKey, enabled);
    if (!queues_.work) return perform([enabled](PointerHardwareTuning& self) { self.setEnabledNow(enabled); });
    bool handOver = false;
    {
        std::lock_guard guard(snapshotLock_);
        enabledAsked_ = enabled;
        snapshot_.isEnabled = enabled;
        handOver = !enabledQueued_;
        enabledQueued_ = true;
    }
    tellObservers();
    // A switch flipped again while its change still waits for the desktop
    // changes what that change will do: the desktop hears only the user's
    // last word, once, however often the switch went back and forth.
    if (!handOver) return;
    perform([](PointerHardwareTuning& self) {
        bool taken = false;
        {
            std::lock_guard guard(self.snapshotLock_);
            taken = *self.enabledAsked_;
            self.enabledAsked_.reset();
            self.enabledQueued_ = false;
        }
        self.setEnabledNow(taken);
    });
}

void PointerHardwareTuning::request(const PointerTuningRequest& request) {
    if (!queues_.work) return perform([request](PointerHardwareTuning& self) { self.requestNow(request); });
    {
        std::lock_guard guard(snapshotLock_);
        if (requestQueued_ && requestNumber_ == handedOver_) {
            // What running both in turn would leave: this permission, and the
            // last DPI the resolution can hold.
            const bool usable = request.deviceDPI && fixed(*request.deviceDPI);
            queuedRequest_ = {request.isPermitted, usable ? request.deviceDPI : queuedRequest_.deviceDPI};
            return;
        }
        requestQueued_ = true;
        requestNumber_ = handedOver_ + 1;
        queuedRequest_ = request;
    }
    perform([](PointerHardwareTuning& self) {
        PointerTuningRequest taken;
        {
            std::lock_guard guard(self.snapshotLock_);
            taken = self.queuedRequest_;
            self.requestQueued_ = false;
        }
        self.requestNow(taken);
    });
}

void PointerHardwareTuning::deviceDPIReported(std::optional<std::int64_t> dpi) {
    perform([dpi](PointerHardwareTuning& self) { self.deviceDPIReportedNow(dpi); });
}

void PointerHardwareTuning::deviceBecameReady() {
    perform([](PointerHardwareTuning& self) { self.deviceBecameReadyNow(); });
}

void PointerHardwareTuning::desktopSettingsChanged() {
    perform([](PointerHardwareTuning& self) { self.desktopSettingsChangedNow(); });
}

void PointerHardwareTuning::setDeviceMatches(std::vector<HIDPPDeviceMatch> matches) {
    perform([matches = std::move(matches)](PointerHardwareTuning& self) mutable {
        self.setDeviceMatchesNow(std::move(matches));
    });
}

void PointerHardwareTuning::restore(Reason reason) {
    perform([reason](PointerHardwareTuning& self) {
        self.restoreHeld(reason);
        self.publish();
    });
}

void PointerHardwareTuning::refreshReading() {
    perform([](PointerHardwareTuning& self) { self.refreshReadingNow(); });
}

std::optional<PointerTuningCapture> PointerHardwareTuning::currentReading() {
    return answered([this] { return currentReadingNow(); });
}

std::optional<PointerHardwareTuning::ReadBack> PointerHardwareTuning::readBack() {
    return answered([this]() -> std::optional<ReadBack> {
        const auto service = working_.target ? working_.target : resolveTarget();
        if (!service) return std::nullopt;
        const std::string key = capture_ ? capture_->accelerationKey : accelerationKeyFor(service->registryID);
        return ReadBack{backend_->readNumber(resolutionKey, service->registryID),
                        backend_->readNumber(key, service->registryID)};
    });
}

std::vector<PointerServiceIdentity> PointerHardwareTuning::candidateServices() {
    return answered([this] { return candidatesNow(); });
}

std::vector<PointerServiceIdentity> PointerHardwareTuning::candidatesNow() {
    std::vector<PointerServiceIdentity> candidates;
    for (auto& service : backend_->services()) {
        if (!service.isPointerCollection()) continue;
        const bool matched = std::ranges::any_of(matches_, [&](const auto& match) { return service.matches(match); });
        if (matched) candidates.push_back(std::move(service));
    }
    return candidates;
}

std::optional<PointerTuningCapture> PointerHardwareTuning::persistedCapture() const { return loadPersistedCapture(); }

// ---------------------------------------------------------------------------
// Handing over

void PointerHardwareTuning::perform(std::move_only_function<void(PointerHardwareTuning&)> operation) {
    if (!queues_.work) return run(operation);
    {
        std::lock_guard guard(snapshotLock_);
        pendingSince_.push_back(queues_.interface->nowNanos());
        ++handedOver_;
    }
    armWaitingCheck();
    queues_.work->post([weak = weak_from_this(), operation = std::move(operation)]() mutable {
        const auto self = weak.lock();
        if (!self) return;
        self->run(operation);
        self->finished();
    });
}

void PointerHardwareTuning::run(std::move_only_function<void(PointerHardwareTuning&)>& operation) {
    if (queues_.work) holdCaptureFile();
    struct Bracket {
        PointerPropertyBackend& backend;
        explicit Bracket(PointerPropertyBackend& backend) : backend(backend) { backend.beginOperation(); }
        ~Bracket() { backend.endOperation(); }
    } bracket(*backend_);
    operation(*this);
}

std::filesystem::path PointerHardwareTuning::captureLockFile(const std::filesystem::path& captureFile) {
    return std::filesystem::path(captureFile).replace_extension(".lock");
}

void PointerHardwareTuning::holdCaptureFile() {
    if (captureLock_) return;
    const auto file = captureLockFile(captureURL_);
    const auto until = std::chrono::steady_clock::now() + captureLockPatience;
    for (bool madeFolder = false;;) {
        auto lock = files_->tryLock(file);
        if (lock) {
            captureLock_ = std::move(*lock);
            return;
        }
        if (lock.error().isNotFound() && !madeFolder) {
            madeFolder = true;
            (void)files_->createDirectories(file.parent_path());
            continue;
        }
        // A folder that takes no lock takes no capture either: nothing is
        // written to the desktop then, and no guard is there to wait for.
        if (lock.error().code != EWOULDBLOCK || awaitedCaptureLock_ || std::chrono::steady_clock::now() >= until) {
            awaitedCaptureLock_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

template <class Question>
auto PointerHardwareTuning::answered(Question&& question) -> decltype(question()) {
    using Answer = decltype(question());
    std::optional<Answer> answer;
    std::move_only_function<void(PointerHardwareTuning&)> asking = [&](PointerHardwareTuning&) { answer = question(); };
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

void PointerHardwareTuning::finished() {
    {
        std::lock_guard guard(snapshotLock_);
        pendingSince_.pop_front();
        waiting_ = isOverdue();
        snapshot_ = composed();
    }
    tellObservers();
    armWaitingCheck();
}

bool PointerHardwareTuning::isOverdue() const {
    if (pendingSince_.empty()) return false;
    const auto after = static_cast<std::uint64_t>(std::chrono::nanoseconds(waitingAfter).count());
    return queues_.interface->nowNanos() >= pendingSince_.front() + after;
}

void PointerHardwareTuning::armWaitingCheck() {
    std::uint64_t deadline = 0;
    {
        std::lock_guard guard(snapshotLock_);
        if (waitingCheckArmed_ || waiting_ || pendingSince_.empty()) return;
        waitingCheckArmed_ = true;
        deadline = pendingSince_.front() + static_cast<std::uint64_t>(std::chrono::nanoseconds(waitingAfter).count());
    }
    queues_.interface->postAt(deadline, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->checkWaiting();
    });
}

void PointerHardwareTuning::checkWaiting() {
    bool nowWaiting = false;
    {
        std::lock_guard guard(snapshotLock_);
        waitingCheckArmed_ = false;
        if (!waiting_ && isOverdue()) {
            waiting_ = true;
            snapshot_.isWaitingForDesktop = true;
            nowWaiting = true;
        }
    }
    // The operation it was armed for may have finished and another wait since.
    if (nowWaiting)
        status_.set(status());
    else
        armWaitingCheck();
}

PointerTuningStatus PointerHardwareTuning::composed() const {
    PointerTuningStatus status = working_;
    if (enabledAsked_) status.isEnabled = *enabledAsked_;
    status.isWaitingForDesktop = waiting_;
    return status;
}

void PointerHardwareTuning::tellObservers() {
    if (!queues_.work) {
        status_.set(status());
        return;
    }
    // The snapshot as it is when the observers are told: never an older one.
    queues_.interface->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->status_.set(self->status());
    });
}

// ---------------------------------------------------------------------------
// The operations

void PointerHardwareTuning::setEnabledNow(bool enabled) {
    if (enabled == working_.isEnabled) return;
    working_.isEnabled = enabled;
    // The user asks again: whatever the desktop was set to meanwhile.
    working_.changedOutside = false;
    reassert_ = enabled;
    if (enabled)
        reevaluate();
    else
        restoreHeld(Reason::switchedOff);
    publish();
}

void PointerHardwareTuning::requestNow(const PointerTuningRequest& request) {
    // A DPI the resolution cannot hold is no DPI at all.
    const bool usable = request.deviceDPI && fixed(*request.deviceDPI);
    lastRequest_ = {request.isPermitted, usable ? request.deviceDPI : lastRequest_.deviceDPI};
    working_.isPermitted = request.isPermitted;
    reevaluate();
    publish();
}

void PointerHardwareTuning::deviceDPIReportedNow(std::optional<std::int64_t> dpi) {
    if (!dpi || *dpi < 1 || !fixed(*dpi)) return;
    const bool unchanged = lastRequest_.deviceDPI == dpi;
    lastRequest_.deviceDPI = dpi;
    if (unchanged && !(shouldBeApplied() && !working_.isApplied && !working_.changedOutside)) return;
    if (!unchanged) {
        // A new DPI is a new reason to set the acceleration flat.
        working_.changedOutside = false;
        reassert_ = true;
    }
    reevaluate();
    publish();
}

void PointerHardwareTuning::deviceBecameReadyNow() {
    // A mouse that comes back is the user's to have tuned again.
    working_.changedOutside = false;
    reassert_ = true;
    // The captured service is gone (a re-plugged mouse gets a new identifier):
    // its values have nowhere to go back to.
    if (shouldBeApplied() && capture_ && !backend_->serviceExists(capture_->service.registryID)) {
        dropCapture();
        working_.isApplied = false;
        working_.restoreFailed = false;
        working_.restoreFailedKeys.clear();
        working_.restorePending = false;
    }
    reevaluate();
    publish();
}

void PointerHardwareTuning::desktopSettingsChangedNow() {
    if (working_.isApplied && capture_ && !working_.restoreFailed) {
        followChangeOutside(capture_->service.registryID);
        refreshShownReading();
    }
    publish();
}

void PointerHardwareTuning::setDeviceMatchesNow(std::vector<HIDPPDeviceMatch> matches) {
    if (matches == matches_) return;
    matches_ = std::move(matches);
    reevaluate();
    publish();
}

void PointerHardwareTuning::refreshReadingNow() {
    working_.currentReading = currentReadingNow();
    if (!working_.target && working_.currentReading) working_.target = working_.currentReading->service;
    publish();
}

std::optional<PointerTuningCapture> PointerHardwareTuning::currentReadingNow() {
    const auto target = resolveTarget();
    if (!target) return std::nullopt;
    return readCapture(*target);
}

PointerTuningCapture PointerHardwareTuning::readCapture(const PointerServiceIdentity& service) {
    const std::string key = accelerationKeyFor(service.registryID);
    return PointerTuningCapture{PointerTuningCapture::currentSchema,
                                service,
                                key,
                                backend_->readNumber(resolutionKey, service.registryID),
                                backend_->readNumber(key, service.registryID),
                                std::chrono::floor<std::chrono::seconds>(clock_->now())};
}

// ---------------------------------------------------------------------------
// The work

bool PointerHardwareTuning::shouldBeApplied() const {
    return working_.isSupported && working_.isEnabled && working_.isPermitted;
}

void PointerHardwareTuning::reevaluate() {
    if (shouldBeApplied()) {
        apply();
        return;
    }
    working_.isWaitingForDevice = false;
    if (working_.isApplied)
        restoreHeld(Reason::notRequested);
    else if (working_.restorePending)
        retryPending();
}

std::optional<PointerServiceIdentity> PointerHardwareTuning::resolveTarget() {
    std::optional<PointerServiceIdentity> best;
    for (auto& candidate : candidatesNow())
        if (!best || candidate.registryID < best->registryID) best = std::move(candidate);
    return best;
}

std::string PointerHardwareTuning::accelerationKeyFor(std::uint64_t registryID) {
    return backend_->readString(accelerationTypeKey, registryID).value_or(std::string(fallbackAccelerationKey));
}

PointerHardwareTuning::RestoreOutcome PointerHardwareTuning::putBack(const PointerTuningCapture& capture,
                                                                    const Written& written) {
    RestoreOutcome outcome;
    const auto id = capture.service.registryID;
    const auto one = [&](std::string_view key, const std::optional<std::int64_t>& original,
                         const std::optional<std::int64_t>& ours, bool judged) {
        if (!original) return;
        const auto now = backend_->readNumber(key, id);
        if (!now) {
            outcome.unreadKeys.emplace_back(key);
            return;
        }
        // Not what the tuner put there (or it put nothing there): set by
        // someone else since, and theirs to keep.
        if (judged && now != ours) return;
        if (backend_->writeNumber(key, *original, id) == Write::refused) outcome.refusedKeys.emplace_back(key);
    };
    // Read through another device of the identity, a fixed resolution can
    // differ from the captured one (Ravolet's pointer has no figure of udev's
    // own): nothing of the tuner's to put back, and no failure.
    if (!backend_->resolutionIsFixed()) one(resolutionKey, capture.resolution, written.resolution, written.resolutionKnown);
    one(capture.accelerationKey, capture.acceleration, written.acceleration, true);
    return outcome;
}

void PointerHardwareTuning::settle(const RestoreOutcome& outcome, bool stranded) {
    if (!outcome.refusedKeys.empty()) {
        working_.restoreFailed = true;
        working_.restoreFailedKeys = outcome.refusedKeys;
        working_.restorePending = false;
        working_.isApplied = true;
        working_.lastError =
            stranded ? std::string(strandedRefusedPrefix) + joined(outcome.refusedKeys) +
                           " back yet. The saved originals have been kept and will be tried again."
                     : std::string(restoreRefusedPrefix) + joined(outcome.refusedKeys) +
                           " back on this device. Ravolet's values are still in force and the saved originals " +
                           "have been kept — they will be tried again, and on the next launch.";
        return;
    }
    clearWriteState();
    if (!outcome.unreadKeys.empty()) {
        // The desktop lists no device of it now: kept, on disk too, until it does.
        working_.restorePending = true;
        return;
    }
    // Both texts that say originals are still waiting to go back are now untrue.
    if (working_.lastError &&
        (working_.lastError->starts_with(restoreRefusedPrefix) || working_.lastError->starts_with(strandedRefusedPrefix)))
        working_.lastError.reset();
    dropCapture();
}

void PointerHardwareTuning::retryPending() {
    const auto outcome = putBack(*capture_, written_);
    readBackInto(*capture_);
    refreshShownReading();
    settle(outcome, working_.lastRestoreReason == Reason::strandedCaptureRecovered);
}

void PointerHardwareTuning::dropCapture() {
    clearPersistedCapture();
    setCapture(std::nullopt);
    written_ = {};
}

bool PointerHardwareTuning::followChangeOutside(std::uint64_t registryID) {
    if (!capture_ || capture_->service.registryID != registryID || !written_.acceleration) return false;
    const auto now = backend_->readNumber(capture_->accelerationKey, registryID);
    if (!now || now == written_.acceleration) return false;
    if (working_.restorePending) {
        // Originals waiting to go back (an earlier run's, or this one's from
        // when the device was not there), and the setting is no longer the
        // flat one: what is there now is the user's, and is captured afresh.
        dropCapture();
        working_.restorePending = false;
        return false;
    }
    // Originals held after a refused restore, or kept when nothing took:
    // nothing of the tuner's is in force to have been replaced.
    if (!working_.isApplied || working_.restoreFailed) return false;
    if (reassert_) {
        // Set afresh on purpose: what is there now is what goes back.
        capture_->acceleration = now;
        working_.capture = capture_;
        // Unsaved, a crash would put back the value from before the change:
        // nothing is written over it then, and the page says why.
        if (!persist(*capture_)) {
            working_.lastError = *working_.lastError + " — nothing was written";
            return true;
        }
        return false;
    }
    // The user (or the desktop reloading its settings) set it: theirs stands,
    // and nothing of the tuner's is left in force to put back.
    dropCapture();
    clearWriteState();
    working_.changedOutside = true;
    working_.lastReadBackAcceleration = now;
    return true;
}

void PointerHardwareTuning::readBackInto(const PointerTuningCapture& capture) {
    const auto id = capture.service.registryID;
    working_.lastReadBackResolution = backend_->readNumber(resolutionKey, id);
    working_.lastReadBackAcceleration = backend_->readNumber(capture.accelerationKey, id);
}

void PointerHardwareTuning::setCapture(std::optional<PointerTuningCapture> capture) {
    capture_ = capture;
    working_.capture = std::move(capture);
}

void PointerHardwareTuning::clearWriteState() {
    working_.isApplied = false;
    working_.restorePending = false;
    working_.appliedResolution.reset();
    working_.appliedAcceleration.reset();
    working_.resolutionWrite.reset();
    working_.accelerationWrite.reset();
    working_.restoreFailed = false;
    working_.restoreFailedKeys.clear();
}

void PointerHardwareTuning::recoverStrandedCapture() {
    auto stranded = loadPersistedCapture();
    if (!stranded) return;
    working_.recoveredStrandedCapture = true;
    working_.lastRestoreReason = Reason::strandedCaptureRecovered;
    // Values whose service no longer exists can never go back (a re-plugged
    // mouse starts from the host's defaults): keeping them would report an
    // override in force and a failing restore for ever.
    if (!backend_->serviceExists(stranded->service.registryID)) {
        clearPersistedCapture();
        return;
    }
    setCapture(std::move(stranded));
    // The earlier run wrote the acceleration flat; its resolution is not known.
    written_ = {std::nullopt, disabledAcceleration, false};
    retryPending();
}

void PointerHardwareTuning::apply() {
    auto target = resolveTarget();
    if (!target) {
        if (working_.isApplied) restoreHeld(Reason::targetDisappeared);
        working_.target.reset();
        working_.isWaitingForDevice = true;
        return;
    }
    working_.isWaitingForDevice = false;
    // Originals held for another service that still exists go back before
    // anything else is tuned; only one capture is ever held, so replacing
    // them unwritten would lose them for good.
    if (capture_ && capture_->service.registryID != target->registryID &&
        backend_->serviceExists(capture_->service.registryID)) {
        restoreHeld(Reason::notRequested);
        if (capture_) return; // refused: they stay held and the new target waits
    }
    working_.target = target;
    working_.lastError.reset();
    if (followChangeOutside(target->registryID) || working_.changedOutside) {
        refreshShownReading();
        return;
    }

    bool tookCaptureNow = false;
    if (!capture_ || capture_->service.registryID != target->registryID) {
        auto fresh = readCapture(*target);
        if (!persist(fresh)) {
            working_.lastError = "could not save the original values to disk — nothing was written";
            return;
        }
        setCapture(std::move(fresh));
        written_ = {};
        tookCaptureNow = true;
    }
    const PointerTuningCapture capture = *capture_;
    const auto id = target->registryID;

    Write resolutionResult = Write::skipped;
    std::optional<std::int64_t> appliedResolution;
    const auto dpi = lastRequest_.deviceDPI;
    const auto fixedDPI = dpi && *dpi >= 1 ? fixed(*dpi) : std::nullopt;
    // What is written counts as the tuner's once tried, whatever the answer,
    // where nothing of the tuner's is known to be there already: a write
    // reported refused can still land (a desktop that answers after the
    // time-out carries it out all the same, and of a setting written in two
    // parts one can take), and a put-back judges by what is there.
    if (capture.resolution && fixedDPI) {
        resolutionResult = backend_->writeNumber(resolutionKey, *fixedDPI, id);
        if (resolutionResult != Write::refused) {
            appliedResolution = fixedDPI;
            written_.resolution = fixedDPI;
            written_.resolutionKnown = true;
        } else if (written_.resolutionKnown && !written_.resolution) {
            written_.resolution = fixedDPI;
        }
    }

    Write accelerationResult = Write::skipped;
    std::optional<std::int64_t> appliedAcceleration;
    if (capture.acceleration) {
        accelerationResult = backend_->writeNumber(capture.accelerationKey, disabledAcceleration, id);
        written_.acceleration = disabledAcceleration;
        if (tookEffect(accelerationResult)) appliedAcceleration = disabledAcceleration;
    }
    reassert_ = false;

    working_.resolutionWrite = resolutionResult;
    working_.accelerationWrite = accelerationResult;
    working_.appliedResolution = appliedResolution;
    working_.appliedAcceleration = appliedAcceleration;
    readBackInto(capture);
    working_.isApplied = tookEffect(resolutionResult) || tookEffect(accelerationResult);
    working_.lastRestoreReason.reset();
    working_.restoreFailed = false;
    working_.restoreFailedKeys.clear();
    working_.restorePending = false;

    if (accelerationResult == Write::refused)
        working_.lastError = "Your desktop refused to change " + capture.accelerationKey + " on this device";
    else if (!capture.acceleration)
        working_.lastError = "this device carries no per-device " + capture.accelerationKey + " to read, so Ravolet " +
                             "left it alone — a value it cannot put back is a value it will not write";
    else
        working_.lastError.reset();

    // Refused writes may yet have landed: the originals stay until a put-back
    // finds what is there. They go only where nothing was tried.
    if (!working_.isApplied && tookCaptureNow && resolutionResult == Write::skipped &&
        accelerationResult == Write::skipped)
        dropCapture();
    refreshShownReading();
}

void PointerHardwareTuning::refreshShownReading() {
    if (working_.currentReading) working_.currentReading = currentReadingNow();
}

void PointerHardwareTuning::restoreHeld(Reason reason) {
    working_.lastRestoreReason = reason;
    if (!capture_) {
        clearWriteState();
        return;
    }
    const auto outcome = putBack(*capture_, written_);
    readBackInto(*capture_);
    refreshShownReading();
    settle(outcome, false);
}

void PointerHardwareTuning::publish() {
    {
        std::lock_guard guard(snapshotLock_);
        snapshot_ = composed();
    }
    // A queued operation tells the observers as it finishes.
    if (!queues_.work) tellObservers();
}

// ---------------------------------------------------------------------------
// The capture file

bool PointerHardwareTuning::persist(const PointerTuningCapture& capture) {
    auto fail = [&](const std::string& description) {
        working_.lastError = "could not save the original values: " + description;
        return false;
    };
    if (auto folder = files_->createDirectories(captureURL_.parent_path()); !folder)
        return fail(folder.error().description());
    const auto bytes = capture.encoded();
    if (!bytes) return fail(bytes.error().description());
    if (auto written = files_->writeFileAtomically(captureURL_, *bytes); !written)
        return fail(written.error().description());
    return true;
}

std::optional<PointerTuningCapture> PointerHardwareTuning::loadPersistedCapture() const {
    const auto bytes = files_->readFile(captureURL_);
    if (!bytes) return std::nullopt;
    auto capture = PointerTuningCapture::decoded(*bytes);
    if (!capture || capture->schema != PointerTuningCapture::currentSchema) return std::nullopt;
    return std::move(*capture);
}

void PointerHardwareTuning::clearPersistedCapture() { (void)files_->removeFile(captureURL_); }

} // namespace ravolet

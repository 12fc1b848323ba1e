#include "RavoletEngine/Coordination/PointerTuningWork.hpp"

#include <algorithm>

namespace ravolet {

using Event = PointerTuningEvent;
using Reason = PointerTuningRestoreReason;
using Write = PointerPropertyWrite;
using Kind = PointerTuningProblem::Kind;
using namespace pointerProperties;

namespace {

std::string joined(const std::vector<std::string>& keys) {
    std::string text;
    for (const auto& key : keys) text += (text.empty() ? "" : " and ") + key;
    return text;
}

} // namespace

std::string PointerTuningProblem::text() const {
    switch (kind) {
    case Kind::captureNotSaved: return "could not save the original values to disk — nothing was written";
    case Kind::followedCaptureNotSaved:
        return "could not save the original values: " + detail + " — nothing was written";
    case Kind::accelerationRefused: return "Your desktop refused to change " + detail + " on this device";
    case Kind::noAcceleration:
        return "this device carries no per-device " + detail + " to read, so Ravolet " +
               "left it alone — a value it cannot put back is a value it will not write";
    case Kind::restoreRefused:
        return "Your desktop refused to put " + joined(keys) +
               " back on this device. Ravolet's values are still in force and the saved originals " +
               "have been kept — they will be tried again, and on the next launch.";
    case Kind::earlierRunRestoreRefused:
        return "Ravolet still had a correction applied from a previous run and could not put " + joined(keys) +
               " back yet. The saved originals have been kept and will be tried again.";
    }
    return {};
}

// What a put-back left: keys refused, and keys whose value could not be
// read, so that nothing was put back there.
struct PointerTuningWork::PutBack {
    std::vector<std::string> refusedKeys;
    std::vector<std::string> unreadKeys;
};

PointerTuningWork::PointerTuningWork(std::shared_ptr<PointerPropertyBackend> backend,
                                     std::shared_ptr<platform::Clock> clock, PointerCaptureFile& file,
                                     std::vector<HIDPPDeviceMatch> matches)
    : backend_(std::move(backend)), clock_(std::move(clock)), file_(file), matches_(std::move(matches)) {}

std::optional<PointerTuningCapture> PointerTuningWork::heldCapture() const {
    return held_ ? std::optional(held_->capture) : std::nullopt;
}

void PointerTuningWork::letGo() { held_.reset(); }

// ---------------------------------------------------------------------------
// Looking

std::optional<Event> PointerTuningWork::recover() {
    auto stranded = file_.load();
    if (!stranded) return std::nullopt;
    report_.recoveredStrandedCapture = true;
    report_.lastRestoreReason = Reason::strandedCaptureRecovered;
    // A re-plugged mouse starts from the host's defaults: keeping values
    // that can never go back would report an override in force for ever.
    if (!backend_->serviceExists(stranded->service.registryID)) {
        file_.remove();
        return std::nullopt;
    }
    // The earlier run wrote the acceleration flat; its resolution is not known.
    held_ = Held{std::move(*stranded), {std::nullopt, disabledAcceleration, false}};
    return Event::originalsFound;
}

std::optional<PointerServiceIdentity> PointerTuningWork::find() {
    auto target = resolveTarget();
    report_.isWaitingForDevice = !target;
    if (!target) report_.target.reset();
    return target;
}

bool PointerTuningWork::heldElsewhere(const PointerServiceIdentity& target) {
    // Only one capture is ever held: replacing the originals of a service
    // that still exists unwritten would lose them for good.
    return held_ && held_->capture.service.registryID != target.registryID &&
           backend_->serviceExists(held_->capture.service.registryID);
}

void PointerTuningWork::aim(const PointerServiceIdentity& target) {
    aimedAt_ = target;
    report_.target = target;
    report_.problem.reset();
}

bool PointerTuningWork::replaced(std::uint64_t registryID) {
    replacement_ = replacement(registryID);
    return replacement_.has_value();
}

bool PointerTuningWork::heldReplaced() { return held_ && replaced(held_->capture.service.registryID); }

std::optional<std::int64_t> PointerTuningWork::replacement(std::uint64_t registryID) {
    if (!held_ || held_->capture.service.registryID != registryID || !held_->written.acceleration) return std::nullopt;
    const auto now = backend_->readNumber(held_->capture.accelerationKey, registryID);
    if (!now || now == held_->written.acceleration) return std::nullopt;
    return now;
}

bool PointerTuningWork::serviceGone() {
    // A re-plugged mouse gets a new identifier: its values have nowhere to go back to.
    return held_ && !backend_->serviceExists(held_->capture.service.registryID);
}

// ---------------------------------------------------------------------------
// Writing

Event PointerTuningWork::write(std::optional<std::int64_t> dpi) {
    const auto& target = *aimedAt_;
    bool fresh = false;
    if (!held_ || held_->capture.service.registryID != target.registryID) {
        auto capture = readCapture(target);
        // Saved before anything is written: a crash must find it.
        if (!file_.save(capture)) {
            report_.problem = PointerTuningProblem{Kind::captureNotSaved, {}, {}};
            return Event::notSaved;
        }
        held_ = Held{std::move(capture), {}};
        fresh = true;
    }
    const PointerTuningCapture capture = held_->capture;
    const Write resolution = writeResolution(capture, dpi);
    const Write acceleration = writeAcceleration(capture);
    readBackInto(capture);
    report_.lastRestoreReason.reset();
    report_.restoreFailedKeys.clear();
    if (acceleration == Write::refused)
        report_.problem = PointerTuningProblem{Kind::accelerationRefused, capture.accelerationKey, {}};
    else if (!capture.acceleration)
        report_.problem = PointerTuningProblem{Kind::noAcceleration, capture.accelerationKey, {}};
    else
        report_.problem.reset();
    showReading();
    return answerTo(resolution, acceleration, fresh);
}

// What is written counts as the tuner's once tried, whatever the answer,
// where nothing of the tuner's is known to be there already: a write
// reported refused can still land (a desktop that answers after the time-out
// carries it out all the same, and of a setting written in two parts one can
// take), and a put-back judges by what is there.
PointerPropertyWrite PointerTuningWork::writeResolution(const PointerTuningCapture& capture,
                                                        std::optional<std::int64_t> dpi) {
    const auto value = dpi && *dpi >= 1 ? fixed(*dpi) : std::nullopt;
    Write result = Write::skipped;
    std::optional<std::int64_t> applied;
    if (capture.resolution && value) {
        auto& written = held_->written;
        result = backend_->writeNumber(resolutionKey, *value, capture.service.registryID);
        if (result != Write::refused) {
            applied = value;
            written.resolution = value;
            written.resolutionKnown = true;
        } else if (written.resolutionKnown && !written.resolution) {
            written.resolution = value;
        }
    }
    report_.resolutionWrite = result;
    report_.appliedResolution = applied;
    return result;
}

PointerPropertyWrite PointerTuningWork::writeAcceleration(const PointerTuningCapture& capture) {
    Write result = Write::skipped;
    std::optional<std::int64_t> applied;
    if (capture.acceleration) {
        result = backend_->writeNumber(capture.accelerationKey, disabledAcceleration, capture.service.registryID);
        held_->written.acceleration = disabledAcceleration;
        if (tookEffect(result)) applied = disabledAcceleration;
    }
    report_.accelerationWrite = result;
    report_.appliedAcceleration = applied;
    return result;
}

Event PointerTuningWork::answerTo(Write resolution, Write acceleration, bool fresh) {
    if (tookEffect(resolution) || tookEffect(acceleration)) return Event::took;
    // Refused writes may yet have landed: the originals stay until a
    // put-back finds what is there. They go only where nothing was tried.
    if (fresh && resolution == Write::skipped && acceleration == Write::skipped) return Event::nothingToWrite;
    return Event::tookNothing;
}

void PointerTuningWork::standBack() {
    file_.remove();
    forgetWrites();
    report_.lastReadBackAcceleration = replacement_;
}

std::optional<Event> PointerTuningWork::follow() {
    held_->capture.acceleration = replacement_;
    // Unsaved, a crash would put back the value from before the change:
    // nothing is written over it then, and the page says why.
    if (auto saved = file_.save(held_->capture); !saved) {
        report_.problem = PointerTuningProblem{Kind::followedCaptureNotSaved, saved.error(), {}};
        return Event::notSaved;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Putting back

std::optional<Event> PointerTuningWork::restore(Reason reason) {
    report_.lastRestoreReason = reason;
    if (!held_) {
        forgetWrites();
        return std::nullopt;
    }
    return putBackHeld(false);
}

std::optional<Event> PointerTuningWork::retry() {
    if (!held_) return std::nullopt;
    return putBackHeld(report_.lastRestoreReason == Reason::strandedCaptureRecovered);
}

Event PointerTuningWork::putBackHeld(bool earlierRun) {
    const auto outcome = putBack(*held_);
    readBackInto(held_->capture);
    showReading();
    if (!outcome.refusedKeys.empty()) {
        report_.restoreFailedKeys = outcome.refusedKeys;
        report_.problem = PointerTuningProblem{earlierRun ? Kind::earlierRunRestoreRefused : Kind::restoreRefused, {},
                                               outcome.refusedKeys};
        return Event::refusedBack;
    }
    forgetWrites();
    // The desktop lists no device of it now: kept, on disk too, until it does.
    if (!outcome.unreadKeys.empty()) return Event::unread;
    if (report_.problem && report_.problem->isAboutRestoring()) report_.problem.reset();
    file_.remove();
    return Event::allBack;
}

PointerTuningWork::PutBack PointerTuningWork::putBack(const Held& held) {
    PutBack outcome;
    const auto id = held.capture.service.registryID;
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
    if (!backend_->resolutionIsFixed())
        one(resolutionKey, held.capture.resolution, held.written.resolution, held.written.resolutionKnown);
    one(held.capture.accelerationKey, held.capture.acceleration, held.written.acceleration, true);
    return outcome;
}

void PointerTuningWork::drop() {
    file_.remove();
    letGo();
}

void PointerTuningWork::readBackInto(const PointerTuningCapture& capture) {
    const auto id = capture.service.registryID;
    report_.lastReadBackResolution = backend_->readNumber(resolutionKey, id);
    report_.lastReadBackAcceleration = backend_->readNumber(capture.accelerationKey, id);
}

void PointerTuningWork::forgetWrites() {
    report_.appliedResolution.reset();
    report_.appliedAcceleration.reset();
    report_.resolutionWrite.reset();
    report_.accelerationWrite.reset();
    report_.restoreFailedKeys.clear();
}

// ---------------------------------------------------------------------------
// Reading

std::vector<PointerServiceIdentity> PointerTuningWork::candidates() {
    std::vector<PointerServiceIdentity> candidates;
    for (auto& service : backend_->services()) {
        if (!service.isPointerCollection()) continue;
        const bool matched = std::ranges::any_of(matches_, [&](const auto& match) { return service.matches(match); });
        if (matched) candidates.push_back(std::move(service));
    }
    return candidates;
}

std::optional<PointerServiceIdentity> PointerTuningWork::resolveTarget() {
    std::optional<PointerServiceIdentity> best;
    for (auto& candidate : candidates())
        if (!best || candidate.registryID < best->registryID) best = std::move(candidate);
    return best;
}

std::string PointerTuningWork::accelerationKeyFor(std::uint64_t registryID) {
    return backend_->readString(accelerationTypeKey, registryID).value_or(std::string(fallbackAccelerationKey));
}

PointerTuningCapture PointerTuningWork::readCapture(const PointerServiceIdentity& service) {
    const std::string key = accelerationKeyFor(service.registryID);
    return PointerTuningCapture{PointerTuningCapture::currentSchema,
                                service,
                                key,
                                backend_->readNumber(resolutionKey, service.registryID),
                                backend_->readNumber(key, service.registryID),
                                std::chrono::floor<std::chrono::seconds>(clock_->now())};
}

std::optional<PointerTuningCapture> PointerTuningWork::currentReading() {
    const auto target = resolveTarget();
    if (!target) return std::nullopt;
    return readCapture(*target);
}

void PointerTuningWork::showReading() {
    // Once read, a reading follows the tuner's own writes.
    if (report_.currentReading) report_.currentReading = currentReading();
}

void PointerTuningWork::refreshReading() {
    report_.currentReading = currentReading();
    if (!report_.target && report_.currentReading) report_.target = report_.currentReading->service;
}

std::optional<PointerReadBack> PointerTuningWork::readBack() {
    const auto service = report_.target ? report_.target : resolveTarget();
    if (!service) return std::nullopt;
    const std::string key = held_ ? held_->capture.accelerationKey : accelerationKeyFor(service->registryID);
    return PointerReadBack{backend_->readNumber(resolutionKey, service->registryID),
                           backend_->readNumber(key, service->registryID)};
}

} // namespace ravolet

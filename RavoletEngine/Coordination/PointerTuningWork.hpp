#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/Clock.hpp"
#include "RavoletEngine/Coordination/PointerCaptureFile.hpp"
#include "RavoletEngine/Coordination/PointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerTuningMachine.hpp"
#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"

namespace ravolet {

// What went wrong last, as a value: its kind, and what it concerns. The
// status shows it as text; nothing reads the text back.
struct PointerTuningProblem {
    enum class Kind {
        // Fresh originals could not be saved: nothing was written.
        captureNotSaved,
        // The originals following a value set outside could not be saved
        // (`detail`: the error): nothing was written over that value.
        followedCaptureNotSaved,
        // The desktop refused the acceleration (`detail`: its key).
        accelerationRefused,
        // The device has no acceleration to capture (`detail`: its key).
        noAcceleration,
        // The desktop refused to put `keys` back.
        restoreRefused,
        // The same, of originals an earlier run left.
        earlierRunRestoreRefused,
    };
    Kind kind;
    std::string detail;
    std::vector<std::string> keys;

    // It says that originals still wait to go back.
    bool isAboutRestoring() const { return kind == Kind::restoreRefused || kind == Kind::earlierRunRestoreRefused; }
    std::string text() const;
};

// What the work found at the desktop, as the status reports it.
struct PointerTuningReport {
    std::optional<PointerServiceIdentity> target;
    std::optional<std::int64_t> appliedResolution;
    std::optional<std::int64_t> appliedAcceleration;
    std::optional<PointerPropertyWrite> resolutionWrite;
    std::optional<PointerPropertyWrite> accelerationWrite;
    std::optional<std::int64_t> lastReadBackResolution;
    std::optional<std::int64_t> lastReadBackAcceleration;
    std::optional<PointerTuningRestoreReason> lastRestoreReason;
    bool recoveredStrandedCapture = false;
    // The keys the last refused put-back left.
    std::vector<std::string> restoreFailedKeys;
    // The last look found no mouse, and tuning was wanted since.
    bool isWaitingForDevice = false;
    std::optional<PointerTuningCapture> currentReading;
    std::optional<PointerTuningProblem> problem;
};

struct PointerReadBack {
    std::optional<std::int64_t> resolution;
    std::optional<std::int64_t> acceleration;
    friend bool operator==(const PointerReadBack&, const PointerReadBack&) = default;
};

// The steps pointer tuning carries out at the desktop and in its capture
// file, as its machine says (PointerTuningAction), each answering with what
// the desktop said: the machine's next event. No step decides what comes
// next. It holds the originals while the machine's state holds them
// (letGo() when it leaves such a state, drop() when they are let go where
// they were taken), and reports what it found.
// Used from one thread at a time, the tuner's.
class PointerTuningWork {
public:
    using Event = PointerTuningEvent;

    PointerTuningWork(std::shared_ptr<PointerPropertyBackend> backend, std::shared_ptr<platform::Clock> clock,
                      PointerCaptureFile& file, std::vector<HIDPPDeviceMatch> matches);

    PointerPropertyBackend& backend() const { return *backend_; }
    const std::vector<HIDPPDeviceMatch>& matches() const { return matches_; }
    void setMatches(std::vector<HIDPPDeviceMatch> matches) { matches_ = std::move(matches); }

    // Originals an earlier run left in the capture file: held (originalsFound);
    // of a service that no longer exists, deleted, since they can never go back.
    std::optional<Event> recover();

    // The look for the mouse, in its parts: the mouse to tune, the waiting
    // reported; whether the originals held are another service's that
    // still exists; the mouse aimed at (reported, the last problem gone);
    // whether a value of Ravolet's on it was replaced since it was written.
    std::optional<PointerServiceIdentity> find();
    bool heldElsewhere(const PointerServiceIdentity& target);
    void aim(const PointerServiceIdentity& target);
    bool replaced(std::uint64_t registryID);
    // The same, of the service the originals held came from.
    bool heldReplaced();

    // Writes Ravolet's values to the mouse aimed at, the DPI's resolution
    // where `dpi` is known.
    Event write(std::optional<std::int64_t> dpi);
    std::optional<Event> restore(PointerTuningRestoreReason reason);
    std::optional<Event> retry();
    void drop();
    void standBack();
    std::optional<Event> follow();
    bool serviceGone();
    // Reads again the reading someone asked for, if any.
    void showReading();
    // The originals are no longer held.
    void letGo();

    const PointerTuningReport& report() const { return report_; }
    // Nothing is waited for while tuning is not wanted.
    void stopWaiting() { report_.isWaitingForDevice = false; }
    std::optional<PointerTuningCapture> heldCapture() const;

    // The mouse collections of the matching devices, in the backend's order.
    std::vector<PointerServiceIdentity> candidates();
    // The target's present values, not stored; a reading of them, stored.
    std::optional<PointerTuningCapture> currentReading();
    void refreshReading();
    std::optional<PointerReadBack> readBack();

private:
    struct PutBack;
    // What the tuner put in place of the held originals: what a value must
    // still be for it to be the tuner's to put back. A resolution left by an
    // earlier run is not known, and goes back unjudged.
    struct Written {
        std::optional<std::int64_t> resolution;
        std::optional<std::int64_t> acceleration;
        bool resolutionKnown = true;
    };
    struct Held {
        PointerTuningCapture capture;
        Written written;
    };

    std::optional<PointerServiceIdentity> resolveTarget();
    std::string accelerationKeyFor(std::uint64_t registryID);
    // The service's values as they are now, stamped with the current second.
    PointerTuningCapture readCapture(const PointerServiceIdentity& service);
    std::optional<std::int64_t> replacement(std::uint64_t registryID);
    PointerPropertyWrite writeResolution(const PointerTuningCapture& capture, std::optional<std::int64_t> dpi);
    PointerPropertyWrite writeAcceleration(const PointerTuningCapture& capture);
    Event answerTo(PointerPropertyWrite resolution, PointerPropertyWrite acceleration, bool fresh);
    PutBack putBack(const Held& held);
    Event putBackHeld(bool earlierRun);
    void readBackInto(const PointerTuningCapture& capture);
    void forgetWrites();

    const std::shared_ptr<PointerPropertyBackend> backend_;
    const std::shared_ptr<platform::Clock> clock_;
    PointerCaptureFile& file_;
    std::vector<HIDPPDeviceMatch> matches_;
    std::optional<Held> held_;
    std::optional<PointerServiceIdentity> aimedAt_;
    // The value found in place of Ravolet's, by the last look that found one.
    std::optional<std::int64_t> replacement_;
    PointerTuningReport report_;
};

} // namespace ravolet

#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Executor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/KeyValueStore.hpp"
#include "RavoletEngine/Coordination/PointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerTuningCapture.hpp"
#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// Sets the mouse's HID service pointer resolution to the DPI the mouse really
// runs at and switches the host's acceleration off for that one device, so
// that the program's own pointer curve works on linear motion at its true
// scale.
//
// The values found on the device are saved to a capture file before anything
// is written, and put back when the engine stops, when the user switches
// tuning off, when tuning is no longer requested, when the device goes, and,
// from the file, at the next construction if the process ended with them
// applied. Originals are never dropped while the service they belong to
// still exists without first being written back, or being found replaced:
// a value that is no longer the one the tuner wrote was set by someone else
// since (the user, in the desktop's own settings), and that value stays.
// Where a value cannot be read, whether it went back is not known, and the
// originals are kept and tried again when the device is there.
//
// One per process in practice (shared()), replaceable in tests. Its logic is
// single-threaded: every operation runs to completion, one at a time, and
// then publishes the status once, if it changed. Made by the constructor, it
// runs each operation at once on the caller's thread. Made by queued(), it
// runs them on its work queue, where alone the desktop is reached: a caller
// (the interface thread) only hands the operation over and never waits for
// the desktop, status() reads the last published snapshot, and observers are
// told on the interface's scheduler.
class PointerHardwareTuning : public std::enable_shared_from_this<PointerHardwareTuning> {
public:
    static constexpr std::string_view resolutionKey = "HIDPointerResolution";
    static constexpr std::string_view accelerationTypeKey = "HIDPointerAccelerationType";
    static constexpr std::string_view fallbackAccelerationKey = "HIDMouseAcceleration";
    // -1.0 in 16.16 fixed point: the host's acceleration off.
    static constexpr std::int64_t disabledAcceleration = -65536;
    // The user's switch in the preferences; absent or not a Boolean means on.
    static constexpr std::string_view enabledDefaultsKey = "pointer.hardwareTuning.enabled";
    static constexpr std::string_view captureFileName = "pointer-hardware-capture.json";

    struct ReadBack {
        std::optional<std::int64_t> resolution;
        std::optional<std::int64_t> acceleration;
        friend bool operator==(const ReadBack&, const ReadBack&) = default;
    };

    // Where a queued tuner runs. `work`: its operations and every call to the
    // desktop, one at a time. `interface`: where observers are told and the
    // waiting of an operation is timed.
    struct Queues {
        std::shared_ptr<platform::Executor> work;
        std::shared_ptr<platform::Scheduler> interface;
    };
    static constexpr const char* queueLabel = "ai.ravolet.pointer-tuning";
    // How long an operation may wait on the desktop before the status says so.
    static constexpr std::chrono::milliseconds waitingAfter{500};

    // backend: null for this session's desktop's. captureURL: none for the settings
    // folder's "pointer-hardware-capture.json". Writes back a capture left by
    // an earlier run, whatever the switch and permission say.
    PointerHardwareTuning(std::shared_ptr<PointerPropertyBackend> backend, std::shared_ptr<platform::KeyValueStore> defaults,
                          std::optional<std::filesystem::path> captureURL, std::vector<HIDPPDeviceMatch> matches,
                          std::shared_ptr<platform::Clock> clock, std::shared_ptr<platform::FileSystem> files);
    // The same tuner on `queues`: the capture left by an earlier run goes
    // back on the work queue, not here. It is a run's own tuner: before its
    // first operation there it takes the capture file's lock
    // (captureLockFile), and holds it for as long as it lives, so that the
    // guard of an earlier run never puts back beside it what it has taken over.
    static std::shared_ptr<PointerHardwareTuning> queued(Queues queues, std::shared_ptr<PointerPropertyBackend> backend,
                                                         std::shared_ptr<platform::KeyValueStore> defaults,
                                                         std::optional<std::filesystem::path> captureURL,
                                                         std::vector<HIDPPDeviceMatch> matches,
                                                         std::shared_ptr<platform::Clock> clock,
                                                         std::shared_ptr<platform::FileSystem> files);
    PointerHardwareTuning(const PointerHardwareTuning&) = delete;
    PointerHardwareTuning& operator=(const PointerHardwareTuning&) = delete;

    // The process's tuner: made on first use over this machine's services
    // (live backend, standard preferences, default capture file, the G502 X).
    static std::shared_ptr<PointerHardwareTuning> shared();
    // The process's tuner, made by `make` if there is none yet.
    static std::shared_ptr<PointerHardwareTuning> shared(const std::function<std::shared_ptr<PointerHardwareTuning>()>& make);
    static void setShared(std::shared_ptr<PointerHardwareTuning> tuning);

    // The status as last published; any thread. Never waits on the desktop.
    PointerTuningStatus status() const;
    // Called on every change of the status, after the operation that made it;
    // for a queued tuner on the interface's scheduler (observe it there).
    ObserverConnection observeStatus(std::function<void(const PointerTuningStatus&)> observer);
    // Waits, for at most `limit`, until every operation handed over so far
    // has run: whether they all did. At once true for a tuner that is not queued.
    bool waitUntilIdle(std::chrono::milliseconds limit);
    bool isEnabled() const { return status().isEnabled; }
    const std::filesystem::path& captureURL() const { return captureURL_; }

    // The user's switch; stored in the preferences when it changes. Off
    // always restores, even with nothing applied.
    void setEnabled(bool enabled);
    // The engine's permission and the mouse's DPI (a request without one keeps the known DPI).
    void request(const PointerTuningRequest& request);
    // Puts the captured values back.
    void restore(PointerTuningRestoreReason reason);
    // The DPI the mouse reported; none, below 1 or beyond what the resolution can hold changes nothing.
    void deviceDPIReported(std::optional<std::int64_t> dpi);
    // The mouse (re)attached and is ready, or the desktop listed a device
    // again: originals waiting go back, and tuning is set afresh.
    void deviceBecameReady();
    // The desktop says its settings changed: a value of the tuner's that
    // someone replaced is left to them (see status().changedOutside).
    void desktopSettingsChanged();
    void setDeviceMatches(std::vector<HIDPPDeviceMatch> matches);

    // Re-reads the target's values into status().currentReading. Once read,
    // the reading is read again after every write of the tuner's own, so it
    // never shows values the tuner has since replaced.
    void refreshReading();
    // The target's present values, not stored. This and the next two answer
    // from the work queue, and so wait for it: for tests and tools, never on
    // the interface thread of a queued tuner.
    std::optional<PointerTuningCapture> currentReading();
    std::optional<ReadBack> readBack();
    // The mouse collections of the matching devices, in the backend's order.
    std::vector<PointerServiceIdentity> candidateServices();
    // The capture file as it reads now.
    std::optional<PointerTuningCapture> persistedCapture() const;
    // Whose settings the backend reaches.
    PointerDesktop desktop() const { return backend_->desktop(); }
    // `added` is called, on any thread, when the backend's services start
    // afresh; the caller hands it to the main thread as deviceBecameReady().
    platform::Subscription observeServicesAdded(std::function<void()> added) {
        return backend_->observeServicesAdded(std::move(added));
    }
    // `changed` is called, on any thread, when the desktop's settings may
    // have changed; the caller hands it to the main thread as desktopSettingsChanged().
    platform::Subscription observeValuesChanged(std::function<void()> changed) {
        return backend_->observeValuesChanged(std::move(changed));
    }

    // The lock file beside `captureFile`: held by a run's tuner for its life,
    // and by a guard while it looks at the capture and writes.
    static std::filesystem::path captureLockFile(const std::filesystem::path& captureFile);
    // How long a run's tuner waits for that lock at first: a guard holds it
    // for one put-back, each call of which the desktop answers within
    // seconds. Longer, the holder is a copy that hangs, and the tuner goes
    // on without it (trying again at each operation).
    static constexpr std::chrono::seconds captureLockPatience{15};

    // DPI to 16.16 fixed point; none when |DPI| ≥ 2^47, whose result would not fit.
    static std::optional<std::int64_t> fixed(std::int64_t cpi);
    static double cpi(std::int64_t fixed) { return cpiFromFixed(fixed); }

private:
    PointerHardwareTuning(Queues queues, std::shared_ptr<PointerPropertyBackend> backend,
                          std::shared_ptr<platform::KeyValueStore> defaults, std::optional<std::filesystem::path> captureURL,
                          std::vector<HIDPPDeviceMatch> matches, std::shared_ptr<platform::Clock> clock,
                          std::shared_ptr<platform::FileSystem> files);

    // The operations themselves, on the work queue (or the caller's thread).
    void setEnabledNow(bool enabled);
    void requestNow(const PointerTuningRequest& request);
    void deviceDPIReportedNow(std::optional<std::int64_t> dpi);
    void deviceBecameReadyNow();
    void desktopSettingsChangedNow();
    void setDeviceMatchesNow(std::vector<HIDPPDeviceMatch> matches);
    void refreshReadingNow();
    std::optional<PointerTuningCapture> currentReadingNow();
    std::vector<PointerServiceIdentity> candidatesNow();

    // A queued tuner's hold on the capture file, taken before its operations.
    void holdCaptureFile();
    // Runs `operation` now, or hands it to the work queue and notes when.
    void perform(std::move_only_function<void(PointerHardwareTuning&)> operation);
    // One operation, the backend told where it begins and ends.
    void run(std::move_only_function<void(PointerHardwareTuning&)>& operation);
    // `question`'s answer from the work queue, waiting for it.
    template <class Question>
    auto answered(Question&& question) -> decltype(question());
    // A queued operation ended: the snapshot follows, and the waiting with it.
    void finished();
    // Times the oldest operation still waiting, on the interface's scheduler.
    void armWaitingCheck();
    void checkWaiting();
    bool isOverdue() const; // under snapshotLock_
    PointerTuningStatus composed() const; // under snapshotLock_, on the work queue
    void tellObservers();

    struct RestoreOutcome {
        std::vector<std::string> refusedKeys;
        // Keys whose value could not be read, so nothing was put back.
        std::vector<std::string> unreadKeys;
    };
    // What the tuner put in place of the held originals: what a value must
    // still be for it to be the tuner's to put back. A resolution left by an
    // earlier run is not known, and goes back unjudged.
    struct Written {
        std::optional<std::int64_t> resolution;
        std::optional<std::int64_t> acceleration;
        bool resolutionKnown = true;
    };

    bool shouldBeApplied() const;
    void reevaluate();
    void recoverStrandedCapture();
    void apply();
    void restoreHeld(PointerTuningRestoreReason reason);
    std::optional<PointerServiceIdentity> resolveTarget();
    std::string accelerationKeyFor(std::uint64_t registryID);
    // The service's values as they are now, stamped with the current second.
    PointerTuningCapture readCapture(const PointerServiceIdentity& service);
    RestoreOutcome putBack(const PointerTuningCapture& capture, const Written& written);
    // The state a put-back leaves; `stranded` for a capture of an earlier run's.
    void settle(const RestoreOutcome& outcome, bool stranded);
    // Originals that could not be read back are tried again.
    void retryPending();
    // Whether the held capture's acceleration is no longer the tuner's: then
    // the capture follows it and, unless the tuning is to be set afresh,
    // tuning stands back (status().changedOutside). True when tuning stands
    // back, also when the capture that follows it cannot be saved.
    bool followChangeOutside(std::uint64_t registryID);
    void dropCapture();
    void readBackInto(const PointerTuningCapture& capture);
    // A reading someone asked for follows the tuner's own writes.
    void refreshShownReading();
    void setCapture(std::optional<PointerTuningCapture> capture);
    void clearWriteState();
    void publish();

    bool persist(const PointerTuningCapture& capture);
    std::optional<PointerTuningCapture> loadPersistedCapture() const;
    void clearPersistedCapture();

    const std::shared_ptr<PointerPropertyBackend> backend_;
    const std::shared_ptr<platform::KeyValueStore> defaults_;
    const std::shared_ptr<platform::Clock> clock_;
    const std::shared_ptr<platform::FileSystem> files_;
    const std::filesystem::path captureURL_;
    std::vector<HIDPPDeviceMatch> matches_;
    PointerTuningRequest lastRequest_;
    std::optional<PointerTuningCapture> capture_;
    Written written_;
    // The next apply writes whatever it finds (a reconnect, a new DPI, the
    // user's switch); otherwise a value someone else set is theirs.
    bool reassert_ = false;
    // The status being worked on; published at the end of each operation.
    PointerTuningStatus working_;

    const Queues queues_;
    // A queued tuner's lock of the capture file, once it has it; whether it
    // has waited for it once already.
    std::shared_ptr<void> captureLock_;
    bool awaitedCaptureLock_ = false;
    // What callers see; everything from here on is under the lock.
    mutable std::mutex snapshotLock_;
    PointerTuningStatus snapshot_;
    // The user's switch as last set, while its operation waits: what the
    // status says of it meanwhile, and what that operation takes when it runs.
    std::optional<bool> enabledAsked_;
    bool enabledQueued_ = false;
    // When each queued operation not yet finished was handed over, oldest first.
    std::deque<std::uint64_t> pendingSince_;
    bool waiting_ = false;
    bool waitingCheckArmed_ = false;
    std::uint64_t handedOver_ = 0;
    // A request waiting on the queue as the last operation handed over takes
    // in later ones instead of queueing behind them (the engine asks again
    // at every refresh while tuning does not take).
    bool requestQueued_ = false;
    std::uint64_t requestNumber_ = 0;
    PointerTuningRequest queuedRequest_;

    // Told on the interface's scheduler (the caller's thread, not queued).
    Observable<PointerTuningStatus> status_;
};

} // namespace ravolet

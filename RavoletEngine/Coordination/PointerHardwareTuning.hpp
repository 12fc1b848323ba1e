#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Executor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/KeyValueStore.hpp"
#include "RavoletEngine/Coordination/LastWord.hpp"
#include "RavoletEngine/Coordination/PointerCaptureFile.hpp"
#include "RavoletEngine/Coordination/PointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerTuningCapture.hpp"
#include "RavoletEngine/Coordination/PointerTuningMachine.hpp"
#include "RavoletEngine/Coordination/PointerTuningPublisher.hpp"
#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"
#include "RavoletEngine/Coordination/PointerTuningWork.hpp"
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
// One per process in practice (shared()), replaceable in tests. Its host
// (the desktop's backend, the preferences, the clock, the file system) is
// handed to it. Its logic is single-threaded: every operation runs to
// completion, one at a time, and then publishes the status once, if it
// changed. What an operation does is decided by its state machine
// (PointerTuningMachine) and carried out, at the desktop and in the capture
// file (PointerCaptureFile), by its work (PointerTuningWork); callers see
// the status through its publisher (PointerTuningPublisher).
//
// Made by the constructor, it runs each operation at once on the caller's
// thread. Made by queued(), it runs them on its work queue, where alone the
// desktop is reached: a caller (the interface thread) only hands the
// operation over and never waits for the desktop, status() reads the last
// published snapshot, and observers are told on the interface's scheduler.
class PointerHardwareTuning : public std::enable_shared_from_this<PointerHardwareTuning> {
public:
    static constexpr std::string_view resolutionKey = pointerProperties::resolutionKey;
    static constexpr std::string_view accelerationTypeKey = pointerProperties::accelerationTypeKey;
    static constexpr std::string_view fallbackAccelerationKey = pointerProperties::fallbackAccelerationKey;
    // -1.0 in 16.16 fixed point: the host's acceleration off.
    static constexpr std::int64_t disabledAcceleration = pointerProperties::disabledAcceleration;
    // The user's switch in the preferences; absent or not a Boolean means on.
    static constexpr std::string_view enabledDefaultsKey = "pointer.hardwareTuning.enabled";
    static constexpr std::string_view captureFileName = "pointer-hardware-capture.json";

    using ReadBack = PointerReadBack;

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

    // backend: whose settings it tunes (required). captureURL: none for the
    // settings folder's "pointer-hardware-capture.json". Writes back a
    // capture left by an earlier run, whatever the switch and permission say.
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

    // The process's tuner, made by `make` if there is none yet.
    static std::shared_ptr<PointerHardwareTuning> shared(const std::function<std::shared_ptr<PointerHardwareTuning>()>& make);
    static void setShared(std::shared_ptr<PointerHardwareTuning> tuning);

    // The status as last published; any thread. Never waits on the desktop.
    PointerTuningStatus status() const { return publisher_->status(); }
    // Called on every change of the status, after the operation that made it;
    // for a queued tuner on the interface's scheduler (observe it there).
    ObserverConnection observeStatus(std::function<void(const PointerTuningStatus&)> observer) {
        return publisher_->observe(std::move(observer));
    }
    // Waits, for at most `limit`, until every operation handed over so far
    // has run: whether they all did. At once true for a tuner that is not queued.
    bool waitUntilIdle(std::chrono::milliseconds limit);
    bool isEnabled() const { return status().isEnabled; }
    const std::filesystem::path& captureURL() const { return captureFile_.path(); }

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
    std::optional<PointerTuningCapture> persistedCapture() const { return captureFile_.load(); }
    // Whose settings the backend reaches.
    PointerDesktop desktop() const { return work_.backend().desktop(); }
    // `added` is called, on any thread, when the backend's services start
    // afresh; the caller hands it to the main thread as deviceBecameReady().
    platform::Subscription observeServicesAdded(std::function<void()> added) {
        return work_.backend().observeServicesAdded(std::move(added));
    }
    // `changed` is called, on any thread, when the desktop's settings may
    // have changed; the caller hands it to the main thread as desktopSettingsChanged().
    platform::Subscription observeValuesChanged(std::function<void()> changed) {
        return work_.backend().observeValuesChanged(std::move(changed));
    }

    // The lock file beside `captureFile`: held by a run's tuner for its life,
    // and by a guard while it looks at the capture and writes.
    static std::filesystem::path captureLockFile(const std::filesystem::path& captureFile) {
        return PointerCaptureFile::lockFile(captureFile);
    }
    // How long a run's tuner waits for that lock at first: a guard holds it
    // for one put-back, each call of which the desktop answers within
    // seconds. Longer, the holder is a copy that hangs, and the tuner goes
    // on without it (trying again at each operation).
    static constexpr std::chrono::seconds captureLockPatience{15};

    // DPI to 16.16 fixed point; none when |DPI| ≥ 2^47, whose result would not fit.
    static std::optional<std::int64_t> fixed(std::int64_t cpi) { return pointerProperties::fixed(cpi); }
    static double cpi(std::int64_t fixed) { return cpiFromFixed(fixed); }

private:
    using Operation = std::move_only_function<void(PointerHardwareTuning&)>;

    PointerHardwareTuning(Queues queues, std::shared_ptr<PointerPropertyBackend> backend,
                          std::shared_ptr<platform::KeyValueStore> defaults, std::optional<std::filesystem::path> captureURL,
                          std::vector<HIDPPDeviceMatch> matches, std::shared_ptr<platform::Clock> clock,
                          std::shared_ptr<platform::FileSystem> files);

    // The operations themselves, on the work queue (or the caller's thread).
    void setEnabledNow(bool enabled);
    void requestNow(const PointerTuningRequest& request);
    void deviceDPIReportedNow(std::optional<std::int64_t> dpi);

    // Runs `operation` now, or hands it to the work queue.
    void perform(Operation operation);
    // One operation, the backend told where it begins and ends.
    void run(Operation& operation);
    // `question`'s answer from the work queue, waiting for it.
    template <class Question>
    auto answered(Question&& question) -> decltype(question());

    // Takes `event` through the machine, and does what each step says,
    // until the desktop has nothing more to answer. Whether a look for the
    // mouse that asked it goes on.
    bool fire(PointerTuningEvent event, PointerTuningRestoreReason asked = PointerTuningRestoreReason::engineStopped);
    std::optional<PointerTuningEvent> carryOut(const PointerTuningStep& step);
    // The look for the mouse, asking the machine at each turn.
    std::optional<PointerTuningEvent> look();
    bool wanted() const { return supported_ && enabled_ && lastRequest_.isPermitted; }
    // The status as the machine and the work leave it; on the work queue.
    PointerTuningStatus composed() const;
    void publish();

    const std::shared_ptr<platform::KeyValueStore> defaults_;
    PointerCaptureFile captureFile_;
    PointerTuningWork work_;
    PointerTuningMachine machine_;
    // What the machine weighs as wanted: whether the backend writes, the
    // user's switch, and the engine's last request (its DPI kept while a
    // request brings none).
    const bool supported_;
    bool enabled_;
    PointerTuningRequest lastRequest_;

    const Queues queues_;
    // Operations handed over so far, and the two hand-offs that only the
    // last word counts of: the user's switch, and the engine's requests
    // (the engine asks again at every refresh while tuning does not take).
    std::atomic<std::uint64_t> handedOver_ = 0;
    LastWord<bool> switchAsked_{true};
    LastWord<PointerTuningRequest> requestAsked_{false};
    std::shared_ptr<PointerTuningPublisher> publisher_;
};

} // namespace ravolet

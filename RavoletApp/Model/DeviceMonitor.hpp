#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Executor.hpp"
#include "RavoletApp/Model/GatedHIDPPControl.hpp"
#include "RavoletApp/Model/WheelModeRecord.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// The application's window onto the mouse. Owns the one HID++ device, connects
// it when started, follows its events and keeps a snapshot of what the mouse
// last reported. Holds the user's desired report rate and wheel resolution and
// writes them, through the gated control, whenever the mouse becomes ready.
//
// Confined to the executor it is given (the user interface's): every public
// call is made there, and every completion and observer runs there. Device
// calls suspend nothing; their answers come back to that executor. Queued work
// holds the monitor weakly and does nothing once it is gone.
//
// Events are handled one at a time, in order: each goes first to the
// onDeviceEvent handler. On readiness the monitor reads the wheel's mode
// first (the tap counts wheel ticks by it) and writes the desired settings;
// on removal it empties the snapshot. The mouse is read into the snapshot
// once the events that came together are handled (a connection brings a
// change of state, readiness and perhaps an attachment): once per connection.
// The next event waits until the previous one is fully handled.
//
// The wheel: Ravolet changes only its high-resolution switch. The mode it
// found the wheel in is put back whenever Ravolet lets go of it (stop(), and
// a desired wheel resolution of none, or a closed gate, at the next write),
// and kept in the settings folder meanwhile (WheelModeRecord), so that a
// start after a crash puts it back too.
class DeviceMonitor final : public std::enable_shared_from_this<DeviceMonitor> {
    struct Private {};

public:
    // What the mouse last reported. Rebuilt from empty by every refresh.
    struct Snapshot {
        HIDPPConnectionState connection = HIDPPConnectionState::disconnected();
        std::optional<HIDPPDeviceIdentity> identity;
        std::optional<std::string> deviceName;
        std::optional<HIDPPProtocolVersion> protocolVersion;
        std::optional<HIDPPDeviceInformation> information;
        std::optional<HIDPPDPIState> dpi;
        std::optional<HIDPPDPIRange> dpiRange;
        std::optional<HIDPPReportRateInfo> reportRate;
        std::optional<HIDPPWheelMode> wheelMode;
        std::optional<HIDPPWheelCapability> wheelCapability;
        std::optional<HIDPPRatchetState> ratchet;
        // The last problem worth showing; connection trouble is shown by `connection`.
        std::optional<std::string> lastError;
        bool isNotPermitted = false;
        // Not connected: the mouse is there but did not answer, and the device
        // is trying again by itself.
        bool isRetrying = false;
        // The mouse is there but its wheel's mode has not been read: its
        // ticks are counted by the mode it is taken to be in.
        bool isWheelModeAssumed = false;
        std::optional<std::chrono::system_clock::time_point> lastRefresh;

        // How many of the wheel's reports on the plain HID wheel make one
        // detent, by what the mouse last said: the capability's multiplier
        // while the wheel is in high-resolution mode and reports to HID, 1 in
        // every other case (the standard mode, reports going to HID++ instead,
        // nothing read).
        int wheelReportsPerDetent() const;
        // The same for a mode and capability read: none while the mode is not
        // known, or while high resolution is on without a known multiplier.
        static std::optional<int> wheelReportsPerDetent(const std::optional<HIDPPWheelMode>& mode,
                                                        const std::optional<HIDPPWheelCapability>& capability);

        friend bool operator==(const Snapshot&, const Snapshot&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Snapshot& snapshot);
    };

    using EventHandler = std::function<void(const HIDPPEvent&)>;
    using Completion = std::move_only_function<void()>;

    // Opens nothing. The gate starts open when `managesDeviceSettings`.
    // `wheelRecord`: where the wheel's mode is kept across runs; none keeps
    // it in memory only.
    static std::shared_ptr<DeviceMonitor> create(std::shared_ptr<HIDPPDevice> device, bool managesDeviceSettings,
                                                 std::shared_ptr<platform::Executor> executor,
                                                 std::shared_ptr<platform::Clock> clock,
                                                 std::shared_ptr<WheelModeRecord> wheelRecord = nullptr);

    DeviceMonitor(Private, std::shared_ptr<HIDPPDevice> device, bool managesDeviceSettings,
                  std::shared_ptr<platform::Executor> executor, std::shared_ptr<platform::Clock> clock,
                  std::shared_ptr<WheelModeRecord> wheelRecord);
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    const std::shared_ptr<HIDPPDevice>& device() const { return device_; }
    // The gate on device writes; the engine writes through it too.
    const std::shared_ptr<GatedHIDPPControl>& control() const { return control_; }
    const std::shared_ptr<platform::Executor>& executor() const { return executor_; }

    const Observable<Snapshot>& snapshot() const { return snapshot_; }
    const Observable<bool>& isRefreshing() const { return isRefreshing_; }
    // How many reports of the plain HID wheel make a detent now (see
    // Snapshot::wheelReportsPerDetent); none from the mouse's arrival until
    // its wheel has been read, and while its wheel's mode is being changed.
    const Observable<std::optional<int>>& wheelReportsPerDetent() const { return wheelReportsPerDetent_; }
    // How many are taken to make a detent while that is not known: by the
    // mode the mouse was last found in (this run's, else the one an earlier
    // run kept in the record), else by the mode a G502 X's wheel powers up
    // in (high resolution, reporting to HID); with the multiplier the mouse
    // last reported, else a G502 X's.
    const Observable<int>& assumedWheelReportsPerDetent() const { return assumedWheelReportsPerDetent_; }
    // What a G502 X's wheel powers up in: high resolution, 8 reports a notch.
    static constexpr bool powerUpHighResolution = true;
    static constexpr int powerUpWheelMultiplier = 8;
    // Why the last write of the desired settings failed; cleared by the next
    // one whose writes all succeed. Unlike the snapshot's lastError it
    // survives refreshes, so a refused setting stays visible.
    const Observable<std::optional<std::string>>& lastWriteError() const { return lastWriteError_; }

    // Receives every event before the monitor handles it.
    void setOnDeviceEvent(EventHandler handler) { onDeviceEvent_ = std::move(handler); }
    const std::optional<std::int64_t>& desiredReportRateHertz() const { return desiredReportRateHertz_; }
    // None leaves the mouse's report rate alone.
    void setDesiredReportRateHertz(std::optional<std::int64_t> hertz) { desiredReportRateHertz_ = hertz; }
    const std::optional<bool>& desiredHighResolutionWheel() const { return desiredHighResolutionWheel_; }
    // None leaves the mouse's wheel resolution alone.
    void setDesiredHighResolutionWheel(std::optional<bool> on) { desiredHighResolutionWheel_ = on; }
    // Whether Ravolet's input path is there to count the wheel's ticks (its
    // event tap runs). The desired wheel resolution is written only while it
    // is: without it the desktop reads the wheel itself, and a wheel left in
    // high resolution would scroll several lines a click. A change writes at
    // once (the found mode back, or the desired one) and reads the mouse again.
    void setWheelCounted(bool counted);

    // Subscribes to the device's events and posts the connection: once it has
    // succeeded or failed (a failure is recorded; later events still come),
    // the mouse is read, then the events that arrived meanwhile are handled.
    // A second call while started does nothing.
    void start();
    bool isStarted() const { return isStarted_; }
    // Stops handling events and lets go of the mouse in the background: puts
    // its wheel back into the mode it was found in, where Ravolet changed it,
    // then disconnects the device. The monitor can be started again (it
    // connects once that is done).
    void stop();
    // Calls `completion` once the monitor has let go of the mouse after its
    // last stop(); at once (posted) when it has.
    void whenLetGo(Completion completion);
    // Re-reads the mouse into a new snapshot: the connection, and while
    // connected nine reads, each of which only leaves its own field empty when
    // it fails. Asked for while a refresh runs, it is not lost: the running
    // refresh reads once more when it ends and publishes only the fresh
    // result. The completion comes when the snapshot is published (not once
    // the monitor is gone).
    void refresh(Completion completion = nullptr);
    // With the gate open, writes the desired report rate, then the desired
    // wheel resolution (not after a failed rate, nor once the gate has
    // closed). With no desired wheel resolution, or the gate closed, a wheel
    // Ravolet has changed is put back into the mode it was found in. A
    // failure is recorded in the snapshot and in lastWriteError.
    void applyDesiredSettings(Completion completion = nullptr);

private:
    struct Connect {};
    using Work = std::variant<Connect, HIDPPEvent>;

    void post(std::move_only_function<void(DeviceMonitor&)> body);
    void pump();
    void connect(Completion done);
    void handle(const HIDPPEvent& event, Completion done);
    void readSnapshot();
    void finishRefresh(Snapshot snapshot);
    void deviceRemoved();
    void record(const HIDPPError& error);
    // Reads the wheel's capability and mode, learning the mode it was found
    // in the first time; then `then`.
    void readWheel(Completion then);
    void noteWheel(const std::optional<HIDPPWheelMode>& mode, const std::optional<HIDPPWheelCapability>& capability);
    void learnFoundMode(const HIDPPWheelMode& mode);
    void updateAssumedWheel();
    // The high-resolution switch the next write puts on the wheel, if any.
    std::optional<bool> wheelTarget(bool gateOpen) const;
    // Writes the target: the desired mode through the gate (keeping the found
    // one first), the found one straight to the device (forgetting it after).
    void writeWheel(bool highResolution, HIDPPCompletion<bool> completion);
    void keepFoundMode();
    void forgetFoundMode();
    void letGo();
    void finishLettingGo();

    const std::shared_ptr<HIDPPDevice> device_;
    const std::shared_ptr<GatedHIDPPControl> control_;
    const std::shared_ptr<platform::Executor> executor_;
    const std::shared_ptr<platform::Clock> clock_;

    const std::shared_ptr<WheelModeRecord> wheelRecord_;

    Observable<Snapshot> snapshot_;
    Observable<bool> isRefreshing_{false};
    Observable<std::optional<int>> wheelReportsPerDetent_;
    Observable<int> assumedWheelReportsPerDetent_{powerUpHighResolution ? powerUpWheelMultiplier : 1};
    Observable<std::optional<std::string>> lastWriteError_;
    EventHandler onDeviceEvent_;
    std::optional<std::int64_t> desiredReportRateHertz_;
    std::optional<bool> desiredHighResolutionWheel_;
    bool wheelCounted_ = true;

    bool isStarted_ = false;
    // Counts starts and stops; work of an earlier run finds it changed and ends.
    std::uint64_t run_ = 0;
    HIDPPEventSubscription subscription_;
    std::deque<Work> work_;
    bool busy_ = false;
    // An event asked for the mouse to be read, once the work queued is done.
    bool needsRead_ = false;
    // The wheel as last read or written.
    std::optional<HIDPPWheelMode> wheelMode_;
    std::optional<HIDPPWheelCapability> wheelCapability_;
    // Counts writes of the wheel's mode, and the count when the running read began.
    std::uint64_t wheelWrites_ = 0;
    std::uint64_t readingAfterWheelWrite_ = 0;
    // Whether the wheel was in high resolution when Ravolet first found it
    // (or, after a crash, as kept since); and whether the record holds it,
    // which it does while Ravolet may have the wheel in another mode.
    std::optional<bool> foundHighResolution_;
    bool foundModeKept_ = false;
    // The mode an earlier run kept in the record, as read at creation, and
    // the multiplier the mouse last reported.
    std::optional<bool> keptHighResolution_;
    std::optional<int> lastWheelMultiplier_;
    // Why the record cannot be read or written; it is then left alone.
    std::optional<std::string> recordProblem_;
    // Stops still letting go of the mouse, and who waits for them.
    int lettingGo_ = 0;
    std::vector<Completion> letGoWaiters_;
    // A refresh was asked for, or the mouse went away, while one was reading.
    bool readAgain_ = false;
    std::vector<Completion> refreshWaiters_;
};

} // namespace ravolet

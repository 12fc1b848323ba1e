#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "HIDPlusPlus/HIDPPConnectionState.hpp"
#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/Executor.hpp"
#include "RavoletEngine/Coordination/DesiredDeviceSettings.hpp"
#include "RavoletEngine/Coordination/HIDPPControlling.hpp"
#include "RavoletEngine/Coordination/SettingsApplyState.hpp"

namespace ravolet {

// Brings the mouse's DPI, report rate and wheel resolution to the values the
// engine wants, through an HIDPPControlling, and keeps a state that the
// status shows.
//
// An actor: every operation posts to the applier's own serial executor and
// runs there, one at a time; its fields are touched nowhere else. Writing to
// the mouse is a job: DPI, then report rate, then wheel, then a read-back of
// the DPI, each step waiting for the mouse while the applier stays free for
// other calls. Jobs run strictly one after another, so the mouse sees their
// writes in the order they were asked for: a new job waits for the step in
// flight of the one before, which, superseded, then makes no further call and
// records nothing. Of several jobs waiting, only the newest runs.
//
// Device errors never reach the caller; they become the state. Observers are
// called on the applier's executor and must not block.
class SettingsApplier final : public std::enable_shared_from_this<SettingsApplier> {
    struct Private {};
    struct Job;

public:
    // Told of each new DPI the mouse reports (absent before the first).
    using DPIObserver = std::function<void(std::optional<std::int64_t>)>;
    // Told when the mouse has become ready.
    using ReadyObserver = std::function<void()>;
    // Told of each state the applier passes through.
    using StateObserver = std::function<void(const SettingsApplyState&)>;

    // What the applier holds at one moment.
    struct Snapshot {
        SettingsApplyState state;
        // The DPI returned by the last successful DPI write since the mouse was
        // last removed.
        std::optional<std::int64_t> lastAppliedDPI;
        // The DPI the mouse last reported on read-back.
        std::optional<std::int64_t> deviceReportedDPI;
        DesiredDeviceSettings desired;
        std::optional<std::int64_t> dpiOverride;
        // The override when set, else the desired DPI.
        std::optional<std::int64_t> effectiveDPI() const { return dpiOverride ? dpiOverride : desired.dpi; }

        friend bool operator==(const Snapshot&, const Snapshot&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Snapshot& s);
    };

    static constexpr const char* queueLabel = "ai.ravolet.settings-applier";

    // Touches no device. `executor` must be serial; by default a serial queue
    // labelled "ai.ravolet.settings-applier". Tests pass a virtual-time scheduler.
    static std::shared_ptr<SettingsApplier> create(std::shared_ptr<HIDPPControlling> control,
                                                   DesiredDeviceSettings desired,
                                                   std::shared_ptr<platform::Executor> executor = nullptr);
    SettingsApplier(Private, std::shared_ptr<HIDPPControlling> control, DesiredDeviceSettings desired,
                    std::shared_ptr<platform::Executor> executor);
    ~SettingsApplier();
    SettingsApplier(const SettingsApplier&) = delete;
    SettingsApplier& operator=(const SettingsApplier&) = delete;

    // Replaces the desired settings, then applies them.
    void update(DesiredDeviceSettings desired);
    // State `applying`, then writes every desired setting that is set (the
    // override in place of the desired DPI) and reads the DPI back.
    void applyNow();
    // Sets (or, with no value, clears) the temporary DPI that replaces the
    // desired one, and writes the resulting DPI only, reading it back; the
    // state does not pass through `applying`. With neither an override nor a
    // desired DPI nothing happens at all.
    void setDPIOverride(std::optional<std::int64_t> dpi);
    // Reacts to one device event: ready applies and then, without waiting,
    // tells the ready observer; a change to the not-permitted state records
    // `notPermitted`; removal goes back to `idle` and forgets the last applied
    // DPI. Other events change nothing.
    void handle(HIDPPEvent event);
    // Stores the observer (replacing any earlier one) and calls it at once
    // with the DPI last reported.
    void onDeviceDPIChange(DPIObserver observer);
    // Stores the observer (replacing any earlier one); does not call it.
    void onDeviceReady(ReadyObserver observer);
    // Stores the observer (replacing any earlier one), calls it at once with
    // the state now, then with every new state.
    void onStateChange(StateObserver observer);

    // Hands over what the applier holds once every call made before has run.
    // The completion is called exactly once, on `executor` (null: the applier's).
    void snapshot(HIDPPExecutor executor, std::move_only_function<void(Snapshot)> completion);
    // Completes once the newest job asked for before this call has ended
    // (recorded its outcome, or stopped because a newer one superseded it); at
    // once when there is none.
    void waitForApply(HIDPPExecutor executor, std::move_only_function<void()> completion);

    const std::shared_ptr<platform::Executor>& executor() const { return executor_; }

private:
    // Runs `body` on the applier's executor, keeping the applier alive until then.
    void onExecutor(std::move_only_function<void(SettingsApplier&)> body);

    void applyHere();
    void submit(std::optional<std::int64_t> dpi, std::optional<std::int64_t> reportRateHertz,
                std::optional<bool> highResolutionWheel);
    void launch(const std::shared_ptr<Job>& job);
    void ended(const std::shared_ptr<Job>& job);
    void record(std::optional<std::int64_t> dpi, std::optional<std::int64_t> reported);
    void record(const HIDPPError& error);
    void setState(SettingsApplyState state);

    const std::shared_ptr<HIDPPControlling> control_;
    const std::shared_ptr<platform::Executor> executor_;

    // Touched only on the executor.
    DesiredDeviceSettings desired_;
    std::optional<std::int64_t> dpiOverride_;
    SettingsApplyState state_ = SettingsApplyState::idle();
    std::optional<std::int64_t> lastAppliedDPI_;
    std::optional<std::int64_t> deviceReportedDPI_;
    DPIObserver dpiObserver_;
    ReadyObserver readyObserver_;
    StateObserver stateObserver_;
    // The job talking to the mouse, and the newest one waiting for it.
    std::shared_ptr<Job> running_;
    std::shared_ptr<Job> pending_;
};

} // namespace ravolet

#pragma once

#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Core/Config.hpp"
#include "Core/Profile.hpp"
#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/Displays.hpp"
#include "Platform/EventSystem.hpp"
#include "Platform/Executor.hpp"
#include "Platform/PermissionProbe.hpp"
#include "Platform/PrivateHIDEventSystem.hpp"
#include "Platform/ProcessLauncher.hpp"
#include "Platform/Subscription.hpp"
#include "Platform/Workspace.hpp"
#include "RavoletEngine/Coordination/EngineStatus.hpp"
#include "RavoletEngine/Coordination/HIDPPControlling.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"
#include "RavoletEngine/Coordination/ProfileWatcher.hpp"
#include "RavoletEngine/Coordination/SettingsApplier.hpp"
#include "RavoletEngine/EventPath/ButtonPipeline.hpp"
#include "RavoletEngine/EventPath/DeviceScope.hpp"
#include "RavoletEngine/EventPath/EventPosting.hpp"
#include "RavoletEngine/EventPath/EventTapController.hpp"
#include "RavoletEngine/EventPath/InputRouter.hpp"
#include "RavoletEngine/EventPath/MacroExecutor.hpp"
#include "RavoletEngine/EventPath/PointerPipeline.hpp"
#include "RavoletEngine/EventPath/PrivateSPI.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

namespace ravolet {

// What a held DPI-shift button asks of the mouse: a DPI other than the
// baseline becomes a temporary override; the baseline itself clears it.
struct DPIShiftPolicy {
    DPIShiftPolicy() = delete;
    static std::optional<std::int64_t> override(std::int64_t requestedDPI, std::int64_t baselineDPI) {
        if (requestedDPI == baselineDPI) return std::nullopt;
        return requestedDPI;
    }
};

// The one object through which the application drives the whole input path
// for one settings document: it builds the event path, starts and stops the
// event tap and the profile watcher, hands each newly active profile to the
// pipelines on the tap thread, keeps the mouse's settings and the pointer
// hardware tuning in step, follows the mouse's events, and publishes one
// EngineStatus whenever anything in it changes.
//
// Confined to the UI executor: every call is made there, and whatever other
// threads tell the engine (profile changes, a tap switched off, the mouse's
// reports) hops there first. Nothing on the per-event path passes through the
// engine. The only waits on the UI executor are the tap thread's start-up, the
// macro queue running out and, at a stop, pointer tuning's restore, all bounded.
//
// Held by shared_ptr (made by create()); the handlers it gives away hold it
// weakly. Releasing the engine stops nothing: its owner calls stop() first.
class RavoletEngine final : public std::enable_shared_from_this<RavoletEngine> {
    struct Private {};

public:
    // How the engine runs, as the application sets it; every field is given.
    struct Options {
        // The mice whose events and HID services are the target.
        std::vector<HIDPPDeviceMatch> deviceMatches;
        // The tap's settings; the event mask is replaced by requiredTapMask()
        // unless it is an explicit, non-default one.
        EventTapController::Configuration tap;
        // Where the scroll pipeline and the macro executor post their events.
        std::shared_ptr<EventPosting> poster;
        // The mouse-settings interface the settings applier writes through.
        std::shared_ptr<HIDPPControlling> hidControl;
        // Without hidControl: whether the engine connects an HID++ device of its own.
        bool connectsToDevice;
        bool allowsAppLaunch;
        bool allowsShortcuts;
        // Written to the mouse on each apply; absent leaves that setting alone.
        std::optional<std::int64_t> reportRateHertz;
        std::optional<bool> highResolutionWheel;
        // Whether the pointer pipeline moves the cursor itself.
        bool repositionsCursor;
        bool isPausedByUser;
    };

    // Makes the HID++ device the engine connects itself (connectsToDevice).
    using DeviceFactory = std::function<std::shared_ptr<HIDPPDevice>(HIDPPDeviceMatch)>;
    using StatusHandler = std::function<void(const EngineStatus&)>;

    // The host services and executors the engine works with. Every empty
    // field is filled from standard() when the engine is made.
    struct Environment {
        // Where the engine runs; standard: the run loop of the thread that makes it.
        std::shared_ptr<platform::Executor> ui;
        std::shared_ptr<platform::EventSystem> events;
        std::shared_ptr<platform::PrivateHIDEventSystem> privateHID;
        std::shared_ptr<platform::Displays> displays;
        std::shared_ptr<platform::Workspace> workspace;
        std::shared_ptr<platform::PermissionProbe> permissions;
        std::shared_ptr<platform::ProcessLauncher> launcher;
        // Standard: the process's tuner.
        std::shared_ptr<PointerHardwareTuning> pointerTuning;
        // Standard: a device on the process's HID system and HID I/O thread.
        DeviceFactory makeDevice;
        // The event path's queues and the applier's executor; standard: each
        // component's own serial queue. Tests pass virtual-time schedulers.
        std::shared_ptr<platform::Scheduler> scrollQueue;
        std::shared_ptr<platform::Scheduler> macroQueue;
        std::shared_ptr<platform::Executor> scopeRefreshQueue;
        std::shared_ptr<platform::Executor> applierExecutor;
        // The device scope's tick counter; standard: the monotonic clock.
        std::function<std::uint64_t()> scopeTicks;

        // This machine's services: the Linux forms where they exist (the
        // process's event system on evdev and uinput, the device scope's
        // services from the kernel's input devices, permission checks,
        // process launching), one empty simulated display set and desktop
        // per process where no Linux form exists yet. The event system is the
        // one a live poster should post to.
        static Environment standard();
        // This environment with every empty field taken from standard().
        Environment completed() const;
        // The process's tuner, made on first use over this machine's host:
        // this session's desktop, the standard preferences, the settings
        // folder's capture file and the system clock, for the G502 X. With
        // `interface`, it works on a queue of its own and tells its
        // observers there.
        static std::shared_ptr<PointerHardwareTuning> standardPointerTuning(
            std::shared_ptr<platform::Scheduler> interface = nullptr);
    };

    // How long the engine waits for the macro queue to run out.
    static constexpr std::chrono::milliseconds macroDrainLimit{1000};
    // How long a stop waits for pointer tuning to put the desktop's setting back.
    static constexpr std::chrono::milliseconds pointerRestoreLimit{3000};
    static constexpr const char* disabledConfigurationError = "configuration is disabled";

    // Builds every component of the event path and starts nothing; pointer
    // tuning is already asked for. On the UI executor.
    static std::shared_ptr<RavoletEngine> create(Config config, Options options, Environment environment = {});
    RavoletEngine(Private, Config config, Options options, Environment environment);
    ~RavoletEngine();
    RavoletEngine(const RavoletEngine&) = delete;
    RavoletEngine& operator=(const RavoletEngine&) = delete;

    // Installs the profile watcher and the event tap and brings up the device
    // side. Does nothing while a tap runs; with a disabled document it only
    // records "configuration is disabled". Fails with the tap's own error.
    std::expected<void, EventTapController::StartError> start();
    // Puts the pointer properties back, stops the tap and the watcher, resets
    // the pipelines and releases everything held (the releases are posted when
    // it returns), and lets an engine-owned device go. Any time, also twice.
    void stop();
    // Runs on a new document: its profile is swapped into the pipelines on the
    // tap thread, the tap restarts when the set of tapped events changes, and
    // a disabled document stops the engine.
    void update(Config config);

    bool isPausedByUser() const { return options_.isPausedByUser; }
    // Pausing only stops pointer hardware tuning from being asked for.
    void setPausedByUser(bool paused);
    const Config& currentConfig() const { return config_; }

    // The event mask the tap must be created with for the current document.
    std::uint64_t requiredTapMask() const;
    // The mask the running tap was created with.
    std::optional<std::uint64_t> installedTapMask() const { return installedTapMask_; }

    const EngineStatus& status() const { return status_; }
    // Called on the UI executor with each new status, before the subscribers.
    const StatusHandler& onStatusChange() const { return onStatusChange_; }
    void setOnStatusChange(StatusHandler handler) { onStatusChange_ = std::move(handler); }
    // The current status first, then every later change in order, each on
    // `executor`, until the subscription ends.
    [[nodiscard]] platform::Subscription subscribe(std::shared_ptr<platform::Executor> executor, StatusHandler handler);

    // Gathers every counter into the status and publishes it once; retries
    // pointer tuning while it should be applied and is not.
    void refreshMetrics();
    // Called on the UI executor once the first event since the counters were
    // last gathered (refreshMetrics) has gone through the tap: while the mouse
    // rests the counters stand still, and nobody needs to gather them.
    void setOnCountersMoved(std::function<void()> handler) { onCountersMoved_ = std::move(handler); }
    void refreshPermissions();
    // Applies the profile of that application at once (through the watcher while one runs).
    void activateProfile(const std::optional<std::string>& bundleID);
    void setPointerTuningEnabled(bool enabled);

    // Every event of the device the application owns, as it comes.
    void handleDeviceEvent(const HIDPPEvent& event);

    const std::shared_ptr<DeviceScope>& scope() const { return scope_; }
    const std::shared_ptr<ScrollPipeline>& scrollPipeline() const { return scrollPipeline_; }
    const std::shared_ptr<PointerPipeline>& pointerPipeline() const { return pointerPipeline_; }
    const std::shared_ptr<ButtonPipeline>& buttonPipeline() const { return buttonPipeline_; }
    const std::shared_ptr<MacroExecutor>& macroExecutor() const { return macroExecutor_; }
    const std::shared_ptr<InputRouter>& router() const { return router_; }
    const std::shared_ptr<SettingsApplier>& settingsApplier() const { return settingsApplier_; }
    const std::shared_ptr<PointerHardwareTuning>& pointerTuning() const { return pointerTuning_; }
    const Environment& environment() const { return environment_; }

private:
    // Relays the macro executor's DPI requests to whatever the device side
    // bound; a request with nothing bound is dropped. Any thread.
    // Where the macro queue's side effects report, from that queue: the
    // handler is given once what it reaches exists (after construction).
    template <class... Args>
    class Sink {
    public:
        void setHandler(std::function<void(Args...)> handler) {
            std::lock_guard guard(lock_);
            handler_ = std::move(handler);
        }
        void deliver(Args... args) const {
            std::function<void(Args...)> handler;
            {
                std::lock_guard guard(lock_);
                handler = handler_;
            }
            if (handler) handler(args...);
        }

    private:
        mutable std::mutex lock_;
        std::function<void(Args...)> handler_;
    };
    using DPISink = Sink<std::int64_t>;
    using CommandSink = Sink<const std::string&, const std::optional<std::string>&>;
    class DeviceEventLoop;
    struct Subscriber;

    // Every operation runs on the UI executor (checked in debug builds).
    void confined() const { assert(environment_.ui->isCurrent() && "the engine runs on its UI executor"); }
    // Runs work on the UI executor for the engine, held weakly: nothing
    // happens once it is gone. Handlers on other threads carry one.
    struct Hop {
        std::shared_ptr<platform::Executor> ui;
        std::weak_ptr<RavoletEngine> engine;
        void operator()(std::move_only_function<void(RavoletEngine&)> body) const;
    };
    Hop hop() { return Hop{environment_.ui, weak_from_this()}; }

    void applyProfile(const Profile& profile, const std::optional<std::string>& bundleID);
    void handleTapDisabled(TapDisableReason reason);
    void syncPointerTuning();
    void drainMacros();
    std::shared_ptr<ProfileWatcher> makeProfileWatcher();
    void noteFrontmost();
    std::shared_ptr<EventTapController> makeTapController(std::uint64_t mask);

    // The publication rule: only a value that differs goes out.
    void setStatus(EngineStatus status);
    template <class Field, class Value>
    void assign(Field EngineStatus::*field, Value&& value) {
        EngineStatus next = status_;
        next.*field = std::forward<Value>(value);
        setStatus(std::move(next));
    }

    // The device side.
    void startDeviceIfNeeded();
    DesiredDeviceSettings desiredSettings(const Profile& profile) const;
    void bindDPISink(const std::shared_ptr<SettingsApplier>& applier);
    void bindPointerTuning(const std::shared_ptr<SettingsApplier>& applier);
    void bindDeviceSettings(const std::shared_ptr<SettingsApplier>& applier);
    void replaceSettingsApplier(std::shared_ptr<SettingsApplier> applier);
    void deviceDPIReported(std::optional<std::int64_t> dpi);
    void handleHIDError(const HIDPPError& error);
    void commandRan(const std::string& commandLine, const std::optional<std::string>& problem);

    const Environment environment_;
    const std::shared_ptr<PrivateSPI> spi_;
    const std::shared_ptr<DPISink> dpiSink_ = std::make_shared<DPISink>();
    const std::shared_ptr<CommandSink> commandSink_ = std::make_shared<CommandSink>();

    std::shared_ptr<DeviceScope> scope_;
    std::shared_ptr<ScrollPipeline> scrollPipeline_;
    std::shared_ptr<PointerPipeline> pointerPipeline_;
    std::shared_ptr<ButtonPipeline> buttonPipeline_;
    std::shared_ptr<MacroExecutor> macroExecutor_;
    std::shared_ptr<InputRouter> router_;
    std::shared_ptr<SettingsApplier> settingsApplier_;
    std::shared_ptr<PointerHardwareTuning> pointerTuning_;
    // While running: the tuner re-applies when its backend's services start afresh.
    platform::Subscription pointerServicesAdded_;
    // And hears of its settings changed in the desktop's own.
    platform::Subscription pointerValuesChanged_;
    ObserverConnection pointerTuningStatus_;
    Options options_;
    Config config_;
    std::shared_ptr<EventTapController> tapController_;
    std::optional<std::uint64_t> installedTapMask_;
    bool isStopped_ = false;
    std::shared_ptr<ProfileWatcher> profileWatcher_;
    // Set on the tap thread by the first event after a gathering of the
    // counters, cleared by the next gathering.
    const std::shared_ptr<std::atomic<bool>> countersMoved_ = std::make_shared<std::atomic<bool>>(false);
    std::function<void()> onCountersMoved_;
    std::shared_ptr<HIDPPDevice> hidDevice_;
    std::shared_ptr<DeviceEventLoop> hidEventTask_;
    std::map<std::uint64_t, std::shared_ptr<Subscriber>> subscribers_;
    std::uint64_t nextSubscriber_ = 0;
    EngineStatus status_;
    StatusHandler onStatusChange_;
    std::optional<std::int64_t> lastDeviceReportedDPI_;
};

} // namespace ravolet

#include "RavoletApp/Model/AppModel.hpp"

#include <utility>

#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/Linux/AutostartLoginItemService.hpp"
#include "Platform/Linux/Desktop/DesktopNotifier.hpp"
#include "Platform/Linux/DesktopEntryCatalogue.hpp"
#include "Platform/Linux/JsonFileKeyValueStore.hpp"
#include "Platform/Linux/LinuxApplicationActivator.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/LinuxPermissionProbe.hpp"
#include "Platform/Linux/LinuxUpdaterBackend.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/Simulated/SimulatedSessionWatcher.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletApp/Model/BundleInfo.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"
#include "RavoletEngine/EventPath/CGEventPoster.hpp"

namespace ravolet {

// ---- Dependencies ----

AppModel::Dependencies AppModel::Dependencies::standard() { return Dependencies{}.completed(); }

AppModel::Dependencies AppModel::Dependencies::completed() const {
    Dependencies d = *this;
    if (!d.ui) d.ui = platform::RunLoop::current();
    if (!d.makeEngine) d.makeEngine = &RavoletEngine::create;
    if (!d.files) d.files = platform::LinuxFileSystem::shared();
    if (d.settingsFolder.empty()) d.settingsFolder = ConfigStore::supportDirectory(*d.files);
    if (!d.clock) d.clock = platform::SystemClock::shared();
    if (!d.defaults) d.defaults = platform::JsonFileKeyValueStore::standard();
    if (!d.loginItems) d.loginItems = platform::AutostartLoginItemService::standard();
    if (!d.updater) d.updater = std::make_shared<platform::LinuxUpdaterBackend>();
    if (!d.activator) d.activator = std::make_shared<platform::LinuxApplicationActivator>();
    // The model and its engines share one desktop, so the application they
    // name is the same; the program gives the Linux one, tests their own.
    if (!d.workspace) d.workspace = d.engine.workspace ? d.engine.workspace : platform::SimulatedWorkspace::make();
    if (!d.applications) d.applications = platform::DesktopEntryCatalogue::standard(d.files);
    if (!d.permissions) {
        d.permissions = d.engine.permissions ? d.engine.permissions
                                             : std::make_shared<platform::LinuxPermissionProbe>(
                                                   HIDPPDeviceMatch::g502X.vendorID, HIDPPDeviceMatch::g502X.productID);
    }
    if (!d.device) d.device = HIDPPDevice::create(HIDPPDeviceMatch::g502X);
    if (!d.session) d.session = std::make_shared<platform::SimulatedSessionWatcher>();
    if (!d.notifier) d.notifier = std::make_shared<platform::DesktopNotifier>();
    if (!d.engineMovesCursor) d.engineMovesCursor = false;
    if (!d.engine.ui) d.engine.ui = d.ui;
    if (!d.engine.workspace) d.engine.workspace = d.workspace;
    if (!d.engine.permissions) d.engine.permissions = d.permissions;
    return d;
}

// ---- Construction ----

std::shared_ptr<AppModel> AppModel::create(Dependencies dependencies) {
    return std::make_shared<AppModel>(Private{}, std::move(dependencies));
}

AppModel::AppModel(Private, Dependencies dependencies)
    : dependencies_(dependencies.completed()),
      ui_(dependencies_.ui),
      store_(std::make_shared<ConfigStore>(dependencies_.settingsFolder / ConfigStore::fileName, dependencies_.files,
                                           dependencies_.clock)),
      launchAtLogin_(std::make_shared<LaunchAtLogin>(dependencies_.loginItems)),
      preferences_(std::make_shared<AppPreferences>(dependencies_.defaults)),
      deviceMonitor_(DeviceMonitor::create(dependencies_.device, preferences_->managesDeviceSettings.value(), ui_,
                                           dependencies_.clock,
                                           std::make_shared<WheelModeRecord>(
                                               dependencies_.files, dependencies_.settingsFolder / WheelModeRecord::fileName))),
      updater_(std::make_shared<UpdaterController>(preferences_, dependencies_.updater, dependencies_.activator,
                                                   BundleInfo::main())),
      permissions_(PermissionState::current(*dependencies_.permissions)),
      config_(store_->loadAtStart()) {
    // Saves cut short (a crash, a kill) leave their temporary files behind;
    // those a save in progress holds (another copy's, beside a shared link
    // target) stay.
    for (std::string_view name :
         {std::string_view(ConfigStore::fileName), std::string_view(ConfigStore::inForceFileName),
          platform::JsonFileKeyValueStore::fileName,
          PointerHardwareTuning::captureFileName, WheelModeRecord::fileName})
        (void)dependencies_.files->removeLeftoverTemporaries(dependencies_.settingsFolder / name);
    // Changes the last run could keep only on another disk are named as
    // those kept beside the settings are.
    if (const auto kept = store_->gatherKeptAside()) preferences_->unsavedChangesFile.set(kept->string());
    // No tap counts the wheel's ticks until an engine says its tap runs.
    deviceMonitor_->setWheelCounted(false);
    // The derived values follow everything they are worked out from.
    const auto follow = [this](const auto&) { updateDerived(); };
    derivedInputs_.push_back(status_.observe(follow));
    derivedInputs_.push_back(permissions_.observe(follow));
    derivedInputs_.push_back(preferences_->isPausedByUser.observe(follow));
    derivedInputs_.push_back(store_->problem().observe(follow));
    derivedInputs_.push_back(store_->lastSaveError().observe(follow));
    derivedInputs_.push_back(preferences_->saveError().observe(follow));
    derivedInputs_.push_back(preferences_->setAsideAt().observe(follow));
    derivedInputs_.push_back(preferences_->unsavedChangesFile.observe(follow));
    updateDerived();
}

AppModel::~AppModel() {
    if (phase_ == Phase::started || phase_ == Phase::starting) stop();
}

platform::TaskHandle AppModel::after(std::chrono::milliseconds delay, std::move_only_function<void(AppModel&)> body) {
    return ui_->postAfter(delay, [weak = weak_from_this(), body = std::move(body)]() mutable {
        if (const auto self = weak.lock()) body(*self);
    });
}

// ---- Life ----

void AppModel::start() {
    confined();
    if (phase_ == Phase::starting || phase_ == Phase::started) return;
    // Until the engine's turn, nothing (an observer of the grants, say) may build it.
    phase_ = Phase::starting;
    // Followed first, looked at second: a change in between is heard.
    followNotices();
    refreshPermissions();
    launchAtLogin_->refresh();
    deviceMonitor_->setDesiredReportRateHertz(preferences_->reportRateHertz.value());
    deviceMonitor_->setDesiredHighResolutionWheel(preferences_->highResolutionWheel.value());
    // Looked up at each event: events go to the engine of the moment and are
    // dropped while there is none. The monitor handles its first event only
    // after this start has returned, when the engine exists.
    deviceMonitor_->setOnDeviceEvent([weak = weak_from_this()](const HIDPPEvent& event) {
        const auto self = weak.lock();
        if (!self) return;
        if (const auto engine = self->engine_.value()) engine->handleDeviceEvent(event);
    });
    // Followed first, looked at second: a change in between is heard.
    sessionSubscription_ = dependencies_.session->subscribe(ui_, [weak = weak_from_this()](bool active) {
        if (const auto self = weak.lock()) self->sessionChanged(active);
    });
    sessionActive_ = dependencies_.session->isActive();
    if (sessionActive_) deviceMonitor_->start();
    watchSettingsFile();
    phase_ = Phase::started;
    if (sessionActive_) rebuildEngine();
    updater_->start();
}

void AppModel::stop() {
    confined();
    // Every way out of the program ends here, some of them one after another:
    // only the first stops, and saves.
    if (phase_ == Phase::stopped) return;
    phase_ = Phase::stopped;
    sessionSubscription_.cancel();
    statusSubscription_.cancel();
    permissionNotices_.cancel();
    loginItemNotices_.cancel();
    permissionsTask_.cancel();
    countersTask_.cancel();
    tuningRetryTask_.cancel();
    settingsFileWatch_.cancel();
    takeInTask_.cancel();
    saveNow();
    // After the save: a file changed on disk that it took in instead leaves
    // nothing to run later.
    saveTask_.cancel();
    engineUpdateTask_.cancel();
    preferences_->retrySave();
    stopEngine();
    deviceMonitor_->stop();
}

// ---- The engine ----

const RavoletEngine::Environment& AppModel::engineEnvironment() {
    // Completed at the first start, not at construction: some standard
    // services (pointer tuning) act as soon as they exist.
    if (!engineEnvironment_) engineEnvironment_ = dependencies_.engine.completed();
    return *engineEnvironment_;
}

RavoletEngine::Options AppModel::engineOptions(const RavoletEngine::Environment& environment) const {
    EventTapController::Configuration tap; // an active tap at the head, after the HID system, 2 ms budget
    tap.eventsOfInterest = EventTapController::defaultEventMask;
    return RavoletEngine::Options{
        .deviceMatches = {HIDPPDeviceMatch::g502X},
        .tap = tap,
        .poster = std::make_shared<CGEventPoster>(environment.events, platform::EventTapLocation::session),
        // Every write of the engine passes the gate of the user's device-settings switch.
        .hidControl = deviceMonitor_->control(),
        // The device monitor owns and connects the mouse; the engine hears its events.
        .connectsToDevice = false,
        .allowsAppLaunch = true,
        .allowsShortcuts = true,
        // The device monitor writes the user's report rate and wheel itself.
        .reportRateHertz = std::nullopt,
        .highResolutionWheel = std::nullopt,
        .repositionsCursor = *dependencies_.engineMovesCursor,
        .isPausedByUser = preferences_->isPausedByUser.value(),
    };
}

void AppModel::rebuildEngine() {
    // Whoever hears of the old engine going or the new one coming cannot
    // start yet another in the middle.
    changingEngine_ = true;
    stopEngine();
    startEngine();
    changingEngine_ = false;
}

void AppModel::startEngine() {
    const RavoletEngine::Environment& environment = engineEnvironment();
    auto engine = dependencies_.makeEngine(effectiveConfig(), engineOptions(environment), environment);
    statusSubscription_ = engine->subscribe(ui_, [weak = weak_from_this()](const EngineStatus& status) {
        if (const auto self = weak.lock()) self->mirror(status);
    });
    engine->setOnCountersMoved([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->countersMoved();
    });
    if (const auto started = engine->start(); !started) {
        // The engine publishes nothing about a failed start: the model keeps
        // the text in its mirror until a start succeeds.
        startError_ = std::string(EventTapController::description(started.error()));
        mirror(status_.value());
    } else {
        startError_.reset();
    }
    // Whoever watches the engine hears of it once its start is over.
    engine_.set(std::move(engine));
}

void AppModel::stopEngine() {
    statusSubscription_.cancel();
    if (const auto engine = engine_.value()) {
        engine->stop();
        engine_.set(nullptr);
    }
}

void AppModel::sessionChanged(bool active) {
    confined();
    if (active == sessionActive_) return;
    sessionActive_ = active;
    if (phase_ != Phase::started) return;
    if (!active) {
        // The mouse belongs to whoever is at the computer now: let go of it
        // as a stop does, without touching the document.
        stopEngine();
        deviceMonitor_->stop();
        return;
    }
    deviceMonitor_->start();
    rebuildEngine();
}

void AppModel::mirror(EngineStatus status) {
    // A start made later by the engine itself (an update while not running) counts too.
    if (status.isRunning) startError_.reset();
    if (startError_) status.lastError = startError_;
    const SettingsApplyState before = status_.value().deviceSettings;
    // A wheel in high resolution only while the tap counts its ticks.
    deviceMonitor_->setWheelCounted(status.isTapEnabled);
    // A command that did not start is said where the user sees it with no
    // window open, each time anew.
    if (status.lastCommandFailure && status.lastCommandFailure != status_.value().lastCommandFailure)
        dependencies_.notifier->notify("Ravolet could not run a command", commandFailureSentence(*status.lastCommandFailure));
    status_.set(std::move(status));
    followDeviceWrites(before);
    // Pointer tuning writes the preferences store too, when its switch turns.
    preferences_->refreshStorage();
    retryPointerTuningWhileItFails();
}

void AppModel::followDeviceWrites(const SettingsApplyState& before) {
    // The engine has just put a DPI on the mouse (the profile's, or a held
    // DPI shift's) that the mouse's snapshot does not show yet: read the
    // mouse again, so every page shows what it now runs at.
    const SettingsApplyState& now = status_.value().deviceSettings;
    const auto* applied = std::get_if<SettingsApplyState::Applied>(&now.value);
    if (now == before || !applied || !applied->dpi) return;
    const DeviceMonitor::Snapshot& snapshot = deviceMonitor_->snapshot().value();
    if (snapshot.dpi && snapshot.dpi->current == *applied->dpi) return;
    deviceMonitor_->refresh();
}

void AppModel::restartEngineIfNeeded() {
    confined();
    if (phase_ != Phase::started || changingEngine_ || !sessionActive_) return;
    const PermissionState& granted = permissions_.value();
    if (!granted.accessibility || !granted.inputMonitoring) return;
    // The engine's own status, not the mirror, which hears of a start only
    // after this turn of the executor.
    if (const auto engine = engine_.value(); engine && engine->status().isTapEnabled) return;
    rebuildEngine();
}

// ---- Notices instead of looking again ----

void AppModel::followNotices() {
    // The grants: a device node came, went or changed its access. One change
    // comes as several notices; the grants are read once they are over.
    permissionNotices_ = dependencies_.permissions->observeChanges(ui_, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || self->phase_ != Phase::started) return;
        self->permissionsTask_.cancel();
        self->permissionsTask_ = self->after(noticeDelay, [](AppModel& model) { model.permissionsMayHaveChanged(); });
    });
    loginItemNotices_ = dependencies_.loginItems->observeChanges(ui_, [weak = weak_from_this()] {
        if (const auto self = weak.lock(); self && self->phase_ == Phase::started) self->launchAtLogin_->refresh();
    });
}

void AppModel::permissionsMayHaveChanged() {
    if (phase_ != Phase::started) return;
    const auto bothGranted = [](const PermissionState& p) { return p.accessibility && p.inputMonitoring; };
    const bool wasGranted = bothGranted(permissions_.value());
    refreshPermissions();
    if (const auto engine = engine_.value()) engine->refreshPermissions();
    // Only when both are first seen together, never on every notice.
    if (!wasGranted && bothGranted(permissions_.value())) restartEngineIfNeeded();
}

void AppModel::countersMoved() {
    // The first event of a run: the counters are gathered a while later, and
    // the first event after that asks again.
    if (phase_ != Phase::started || (countersTask_ && !countersTask_.isCancelled())) return;
    countersTask_ = after(countersInterval, [](AppModel& self) {
        self.countersTask_ = {};
        if (const auto engine = self.engine_.value()) engine->refreshMetrics();
    });
}

void AppModel::retryPointerTuningWhileItFails() {
    // The engine tries pointer tuning again at every refresh of its counters
    // while the tuning is wanted and not in force: a refresh comes every
    // countersInterval while so, and never otherwise.
    const PointerTuningStatus& tuning = status_.value().pointerTuning;
    const bool failing = phase_ == Phase::started && status_.value().isRunning && tuning.isSupported &&
                         tuning.isEnabled && !tuning.isApplied && !preferences_->isPausedByUser.value();
    if (!failing) {
        tuningRetryTask_.cancel();
        return;
    }
    if (tuningRetryTask_ && !tuningRetryTask_.isCancelled()) return;
    tuningRetryTask_ = after(countersInterval, [](AppModel& self) {
        self.tuningRetryTask_ = {};
        if (const auto engine = self.engine_.value()) engine->refreshMetrics();
    });
}

void AppModel::setPermissions(PermissionState permissions) {
    confined();
    permissions_.set(std::move(permissions));
}

void AppModel::refreshPermissions() { setPermissions(PermissionState::current(*dependencies_.permissions)); }

// ---- Derived values ----

void AppModel::updateDerived() {
    const EngineStatus& status = status_.value();
    const bool paused = preferences_->isPausedByUser.value();
    menuBar_.set(MenuBarState::of(permissions_.value(), paused, status, dependencies_.simulatedMouse.value_or(false)));
    const auto& problem = store_->problem().value();
    storageNotices_.set(StorageNotices{
        .settingsSaveError = problem ? std::nullopt : store_->lastSaveError().value(),
        .preferencesSaveError = preferences_->saveError().value(),
        .preferencesSetAsideAt = preferences_->setAsideAt().value(),
        .notKeptFromWindow = notKeptFromWindow_,
        .unsavedChangesAt = preferences_->unsavedChangesFile.value(),
    });
    needsBanner_.set(ravolet::needsBanner(problem, permissions_.value(), paused, storageNotices_.value()));
    // The desktop is asked only when another application comes forward.
    if (status.frontmostBundleID != namedBundleID_) {
        namedBundleID_ = status.frontmostBundleID;
        frontmostAppName_.set(displayName(namedBundleID_));
    }
}

std::optional<std::string> AppModel::displayName(const std::optional<std::string>& bundleID) const {
    if (!bundleID) return std::nullopt;
    const auto location = dependencies_.workspace->applicationLocation(*bundleID);
    if (!location) return bundleID;
    return dependencies_.workspace->displayName(*location);
}

} // namespace ravolet

#include "RavoletEngine/Coordination/RavoletEngine.hpp"

#include <atomic>
#include <utility>

#include "RavoletEngine/Coordination/PermissionState.hpp"
#include "RavoletEngine/Coordination/SystemSideEffects.hpp"
#include "RavoletEngine/EventPath/CGPointerCursor.hpp"

namespace ravolet {

// One live status subscriber. Deliveries on their way to its executor carry
// only the handler and the switch that ends them, never the executor itself.
struct RavoletEngine::Subscriber {
    struct Delivery {
        explicit Delivery(StatusHandler handler) : handler(std::move(handler)) {}
        const StatusHandler handler;
        std::atomic<bool> active{true};
    };

    void send(const EngineStatus& status) const {
        executor->post([delivery = delivery, status] {
            if (delivery->active.load(std::memory_order_acquire)) delivery->handler(status);
        });
    }

    const std::shared_ptr<platform::Executor> executor;
    const std::shared_ptr<Delivery> delivery;
};

void RavoletEngine::Hop::operator()(std::move_only_function<void(RavoletEngine&)> body) const {
    ui->post([engine = engine, body = std::move(body)]() mutable {
        if (auto self = engine.lock()) body(*self);
    });
}

std::shared_ptr<RavoletEngine> RavoletEngine::create(Config config, Options options, Environment environment) {
    auto engine = std::make_shared<RavoletEngine>(Private{}, std::move(config), std::move(options), environment.completed());
    engine->commandSink_->setHandler([hop = engine->hop()](const std::string& line, const std::optional<std::string>& problem) {
        hop([line, problem](RavoletEngine& self) { self.commandRan(line, problem); });
    });
    // A queued tuner finishes its work after the call that asked for it.
    engine->pointerTuningStatus_ = engine->pointerTuning_->observeStatus(
        [weak = engine->weak_from_this()](const PointerTuningStatus& status) {
            if (const auto self = weak.lock()) self->assign(&EngineStatus::pointerTuning, status);
        });
    return engine;
}

void RavoletEngine::commandRan(const std::string& commandLine, const std::optional<std::string>& problem) {
    confined();
    if (!problem) return assign(&EngineStatus::lastCommandFailure, std::nullopt);
    const std::uint64_t number = status_.lastCommandFailure ? status_.lastCommandFailure->number + 1 : 1;
    assign(&EngineStatus::lastCommandFailure, CommandFailure{commandLine, *problem, number});
}

RavoletEngine::RavoletEngine(Private, Config config, Options options, Environment environment)
    : environment_(std::move(environment)),
      spi_(std::make_shared<PrivateSPI>(environment_.privateHID)),
      options_(std::move(options)),
      config_(std::move(config)) {
    confined();
    scope_ = DeviceScope::create(options_.deviceMatches, spi_, environment_.scopeRefreshQueue, environment_.scopeTicks);
    pointerTuning_ = environment_.pointerTuning;

    const Profile profile = config_.activeProfile(std::nullopt);
    scrollPipeline_ = ScrollPipeline::create(profile.scroll, options_.poster, environment_.scrollQueue);
    pointerPipeline_ = std::make_shared<PointerPipeline>(profile.pointer, options_.repositionsCursor);
    auto sideEffects = std::make_shared<SystemSideEffects>(
        options_.allowsAppLaunch, options_.allowsShortcuts,
        [sink = dpiSink_](std::int64_t dpi) { sink->deliver(dpi); }, environment_.workspace, environment_.launcher,
        [sink = commandSink_](const std::string& line, const std::optional<std::string>& problem) {
            sink->deliver(line, problem);
        });
    macroExecutor_ = MacroExecutor::create(options_.poster, std::move(sideEffects), environment_.macroQueue);
    buttonPipeline_ = std::make_shared<ButtonPipeline>(profile.makeRouter(), macroExecutor_);
    std::shared_ptr<PointerCursorMoving> cursor;
    if (options_.repositionsCursor) cursor = std::make_shared<CGPointerCursor>(environment_.events, environment_.displays);
    router_ = std::make_shared<InputRouter>(scope_, scrollPipeline_, buttonPipeline_, pointerPipeline_, std::move(cursor));

    // Nobody listens yet: the fields are set without publishing.
    status_.activeProfileID = profile.id;
    status_.activeProfileName = profile.name;
    status_.permissions = PermissionState::current(*environment_.permissions);
    status_.missingSPISymbols = spi_->missingSymbols();
    pointerTuning_->setDeviceMatches(options_.deviceMatches);
    // Pointer tuning is asked for from the start, before anything runs.
    syncPointerTuning();
}

RavoletEngine::~RavoletEngine() = default;

std::expected<void, EventTapController::StartError> RavoletEngine::start() {
    confined();
    if (tapController_) return {};
    isStopped_ = false;
    refreshPermissions();
    assign(&EngineStatus::missingSPISymbols, spi_->missingSymbols());
    if (!config_.isEnabled) {
        assign(&EngineStatus::lastError, std::string(disabledConfigurationError));
        return {};
    }
    // The refresh ends in the background, the mouse may come or go later:
    // the status follows either.
    scope_->setOnAttachmentChange([hop = hop()] {
        hop([](RavoletEngine& engine) {
            engine.assign(&EngineStatus::targetDeviceAttached, engine.scope_->isTargetAttached());
        });
    });
    scope_->refresh(true);
    // A watcher left by a start whose tap failed ends before its successor
    // begins: two would apply every activation twice.
    if (profileWatcher_) profileWatcher_->stop();
    profileWatcher_ = makeProfileWatcher();

    const std::uint64_t mask = requiredTapMask();
    auto controller = makeTapController(mask);
    if (auto started = controller->start(); !started) return std::unexpected(started.error());
    tapController_ = std::move(controller);
    installedTapMask_ = mask;
    // What an earlier start left behind ("configuration is disabled", a
    // device that could not be reached) no longer describes the engine.
    assign(&EngineStatus::lastError, std::nullopt);

    startDeviceIfNeeded();
    // A device the desktop forgot and added again (the X server's values go
    // with the device) gets the tuning again.
    pointerServicesAdded_ = pointerTuning_->observeServicesAdded([hop = hop()] {
        hop([](RavoletEngine& engine) {
            engine.pointerTuning_->deviceBecameReady();
            engine.assign(&EngineStatus::pointerTuning, engine.pointerTuning_->status());
        });
    });
    // A setting changed in the desktop's own settings is the user's.
    pointerValuesChanged_ = pointerTuning_->observeValuesChanged([hop = hop()] {
        hop([](RavoletEngine& engine) {
            engine.pointerTuning_->desktopSettingsChanged();
            engine.assign(&EngineStatus::pointerTuning, engine.pointerTuning_->status());
        });
    });
    syncPointerTuning();
    assign(&EngineStatus::isRunning, true);
    assign(&EngineStatus::isTapEnabled, tapController_->isTapEnabled());
    assign(&EngineStatus::frontmostBundleID, profileWatcher_->frontmostBundleID());
    assign(&EngineStatus::frontmostTracking, environment_.workspace->frontmostTracking());
    refreshMetrics();
    return {};
}

void RavoletEngine::noteFrontmost() {
    if (!profileWatcher_) return;
    assign(&EngineStatus::frontmostBundleID, profileWatcher_->frontmostBundleID());
    assign(&EngineStatus::frontmostTracking, environment_.workspace->frontmostTracking());
}

std::shared_ptr<ProfileWatcher> RavoletEngine::makeProfileWatcher() {
    // Called on whatever thread activated; the profile is applied on the UI executor.
    auto watcher = ProfileWatcher::create(
        environment_.workspace, environment_.ui, config_,
        [hop = hop()](const Profile& profile, const std::optional<std::string>& bundleID, const ProfileResolution&) {
            hop([profile, bundleID](RavoletEngine& engine) { engine.applyProfile(profile, bundleID); });
        },
        // The status names every application that comes forward, also one
        // whose profile is the one in force, and how the desktop tells which.
        [hop = hop()] { hop([](RavoletEngine& engine) { engine.noteFrontmost(); }); });
    watcher->start();
    return watcher;
}

std::shared_ptr<EventTapController> RavoletEngine::makeTapController(std::uint64_t mask) {
    EventTapController::Configuration configuration = options_.tap;
    configuration.eventsOfInterest = mask;
    // Both run on the tap thread and hold the router, not the engine; the
    // pipelines are back to idle before the UI executor hears of a switch-off.
    return EventTapController::create(
        environment_.events, configuration,
        [router = router_, hop = hop()](TapDisableReason reason) {
            router->resetAll();
            hop([reason](RavoletEngine& engine) { engine.handleTapDisabled(reason); });
        },
        [router = router_, moved = countersMoved_, hop = hop()](platform::EventType type, platform::Event& event) {
            const auto verdict = router->route(type, event);
            // One notice for a whole run of events: the flag stays set until
            // the counters are gathered.
            if (!moved->load(std::memory_order_relaxed) && !moved->exchange(true)) {
                hop([](RavoletEngine& engine) {
                    if (engine.onCountersMoved_) engine.onCountersMoved_();
                });
            }
            return verdict;
        });
}

void RavoletEngine::stop() {
    confined();
    isStopped_ = true;
    pointerServicesAdded_.cancel();
    pointerValuesChanged_.cancel();
    pointerTuning_->request(PointerTuningRequest(false, lastDeviceReportedDPI_));
    pointerTuning_->restore(PointerTuningRestoreReason::engineStopped);
    // The user's setting is back before the program ends or lets the devices
    // go, unless the desktop does not answer in time: then the capture file
    // stays, for the guard or the next start to put back.
    (void)pointerTuning_->waitUntilIdle(pointerRestoreLimit);
    if (tapController_) {
        tapController_->stop();
        tapController_.reset();
        installedTapMask_.reset();
    }
    if (profileWatcher_) {
        profileWatcher_->stop();
        profileWatcher_.reset();
    }
    router_->resetAll();
    // Work queued before the stop runs out; then every repeat ends and every
    // key and button still held is released, posted before stop() returns.
    drainMacros();
    macroExecutor_->reset({});
    drainMacros();

    hidEventTask_.reset();
    if (auto device = std::exchange(hidDevice_, nullptr)) {
        // The device stays alive until its disconnection has run.
        environment_.ui->post([device] { device->disconnect(nullptr, [device] {}); });
    }
    assign(&EngineStatus::isRunning, false);
    assign(&EngineStatus::isTapEnabled, false);
    assign(&EngineStatus::pointerTuning, pointerTuning_->status());
    refreshMetrics();
}

void RavoletEngine::update(Config config) {
    confined();
    config_ = std::move(config);
    // The watcher re-applies the frontmost application's profile through its handler.
    if (profileWatcher_) profileWatcher_->update(config_);
    if (!config_.isEnabled) {
        if (tapController_) stop();
        return;
    }
    if (!tapController_ && !status_.isRunning) {
        (void)start();
    } else if (installedTapMask_ && *installedTapMask_ != requiredTapMask()) {
        stop();
        (void)start();
    } else if (!profileWatcher_) {
        applyProfile(config_.activeProfile(std::nullopt), std::nullopt);
    }
    refreshMetrics();
}

void RavoletEngine::setPausedByUser(bool paused) {
    confined();
    if (paused == options_.isPausedByUser) return;
    options_.isPausedByUser = paused;
    syncPointerTuning();
}

std::uint64_t RavoletEngine::requiredTapMask() const {
    const std::uint64_t configured = options_.tap.eventsOfInterest;
    if (configured != EventTapController::defaultEventMask) return configured;
    // Pointer motion is not tapped at all while no profile uses the curve.
    for (const Profile& profile : config_.profiles)
        if (profile.pointer.isEnabled) return EventTapController::defaultEventMask;
    return EventTapController::scrollAndButtonEventMask;
}

void RavoletEngine::applyProfile(const Profile& profile, const std::optional<std::string>& bundleID) {
    // Whatever the old profile holds is released, and its releases have run
    // (a held DPI shift is cleared against the old base DPI), before the new
    // settings are swapped in.
    router_->resetAll();
    drainMacros();
    platform::Task swap = [scroll = scrollPipeline_, buttons = buttonPipeline_, pointer = pointerPipeline_, profile] {
        scroll->setSettings(profile.scroll);
        buttons->setBindings(profile.buttons);
        buttons->setBaseDPI(profile.pointer.dpi);
        pointer->setSettings(profile.pointer);
    };
    // Between two events on the tap thread, never in the middle of one.
    if (tapController_) {
        tapController_->perform(std::move(swap));
    } else {
        swap();
    }
    assign(&EngineStatus::activeProfileID, profile.id);
    assign(&EngineStatus::activeProfileName, profile.name);
    assign(&EngineStatus::frontmostBundleID, bundleID);
    assign(&EngineStatus::frontmostTracking, environment_.workspace->frontmostTracking());
    if (settingsApplier_) settingsApplier_->update(desiredSettings(profile));
    syncPointerTuning();
}

void RavoletEngine::activateProfile(const std::optional<std::string>& bundleID) {
    confined();
    if (profileWatcher_) return profileWatcher_->activate(bundleID, true);
    applyProfile(config_.activeProfile(bundleID), bundleID);
}

void RavoletEngine::handleTapDisabled(TapDisableReason reason) {
    assign(&EngineStatus::lastTapDisableReason, reason);
    assign(&EngineStatus::isTapEnabled, tapController_ && tapController_->isTapEnabled());
    refreshMetrics();
}

void RavoletEngine::refreshMetrics() {
    confined();
    // Before the snapshots: an event that comes after them sets it again.
    countersMoved_->store(false);
    EngineStatus next = status_;
    next.tap = tapController_ ? tapController_->snapshotMetrics() : TapMetrics{};
    next.scope = scope_->snapshotCounters();
    next.scroll = scrollPipeline_->snapshotMetrics();
    next.pointer = pointerPipeline_->snapshotMetrics();
    next.buttons = buttonPipeline_->snapshotMetrics();
    next.targetDeviceAttached = scope_->isTargetAttached();
    next.isTapEnabled = tapController_ && tapController_->isTapEnabled();
    next.pointerTuning = pointerTuning_->status();
    // The watcher notes every activation, also one whose profile is the one
    // in force (its handler is then not called): the status names the
    // application really in front.
    if (profileWatcher_) {
        next.frontmostBundleID = profileWatcher_->frontmostBundleID();
        next.frontmostTracking = environment_.workspace->frontmostTracking();
    }
    setStatus(std::move(next));

    // Retried every refresh until it takes.
    const PointerTuningStatus& tuning = pointerTuning_->status();
    // Originals waiting for the desktop to list the mouse again go back once it does.
    if ((!isStopped_ && !options_.isPausedByUser && tuning.isEnabled && !tuning.isApplied) || tuning.restorePending)
        syncPointerTuning();
}

void RavoletEngine::refreshPermissions() {
    confined();
    assign(&EngineStatus::permissions, PermissionState::current(*environment_.permissions));
}

void RavoletEngine::syncPointerTuning() {
    const bool permitted = !isStopped_ && !options_.isPausedByUser && config_.isEnabled;
    pointerTuning_->request(PointerTuningRequest(permitted, lastDeviceReportedDPI_));
    assign(&EngineStatus::pointerTuning, pointerTuning_->status());
}

void RavoletEngine::setPointerTuningEnabled(bool enabled) {
    confined();
    pointerTuning_->setEnabled(enabled);
    syncPointerTuning();
}

void RavoletEngine::drainMacros() { macroExecutor_->drain(macroDrainLimit); }

void RavoletEngine::setStatus(EngineStatus status) {
    if (status == status_) return;
    status_ = std::move(status);
    // Copies: a handler may publish again, or subscribe, while this runs.
    const EngineStatus published = status_;
    if (StatusHandler handler = onStatusChange_) handler(published);
    std::vector<std::shared_ptr<Subscriber>> subscribers;
    subscribers.reserve(subscribers_.size());
    for (const auto& [id, subscriber] : subscribers_) subscribers.push_back(subscriber);
    for (const auto& subscriber : subscribers) subscriber->send(published);
}

platform::Subscription RavoletEngine::subscribe(std::shared_ptr<platform::Executor> executor, StatusHandler handler) {
    confined();
    auto delivery = std::make_shared<Subscriber::Delivery>(std::move(handler));
    auto subscriber = std::make_shared<Subscriber>(Subscriber{std::move(executor), delivery});
    const std::uint64_t id = nextSubscriber_++;
    subscribers_.emplace(id, subscriber);
    subscriber->send(status_);
    // Deliveries already posted are dropped at once; the entry goes on the UI executor.
    return platform::Subscription([delivery, id, hop = hop()] {
        delivery->active.store(false, std::memory_order_release);
        hop([id](RavoletEngine& engine) { engine.subscribers_.erase(id); });
    });
}

} // namespace ravolet

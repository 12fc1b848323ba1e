// The device side of the engine: the settings applier over the application's
// control or over a device of the engine's own, DPI shifts, the binding of the
// mouse's reports to pointer tuning, and the mouse's events.

#include <deque>
#include <utility>
#include <variant>

#include "RavoletEngine/Coordination/LiveHIDPPControl.hpp"
#include "RavoletEngine/Coordination/RavoletEngine.hpp"

namespace ravolet {

namespace {

// Attach, ready and removal change which HID services the mouse has.
bool changesServices(const HIDPPEvent& event) {
    return std::holds_alternative<HIDPPEvent::DeviceAttached>(event.value) ||
           std::holds_alternative<HIDPPEvent::DeviceReady>(event.value) ||
           std::holds_alternative<HIDPPEvent::DeviceRemoved>(event.value);
}

bool isRemoval(const HIDPPEvent& event) { return std::holds_alternative<HIDPPEvent::DeviceRemoved>(event.value); }

} // namespace

// Follows the events of the device the engine owns, one event at a time and
// in order: each reaches the device scope and the applier, and then the
// connection and apply states reach the status. Events that come while the
// device connects wait until it has finished. Lives on the UI executor,
// holds the engine weakly, and ends (its subscription with it) when released.
class RavoletEngine::DeviceEventLoop : public std::enable_shared_from_this<DeviceEventLoop> {
public:
    DeviceEventLoop(Hop hop, std::shared_ptr<HIDPPDevice> device, std::shared_ptr<SettingsApplier> applier)
        : hop_(std::move(hop)), device_(std::move(device)), applier_(std::move(applier)) {}

    // Subscribes before connecting, so that no event is missed.
    void start() {
        subscription_ = device_->subscribe(hop_.ui, [weak = weak_from_this()](const HIDPPEvent& event) {
            if (auto self = weak.lock()) self->received(event);
        });
        device_->connect(hop_.ui, [weak = weak_from_this()](HIDPPResult<void> result) {
            auto self = weak.lock();
            if (!self) return;
            if (!result) {
                if (auto engine = self->hop_.engine.lock()) engine->handleHIDError(result.error());
            }
            // Later events are followed all the same.
            self->connectFinished_ = true;
            self->next();
        });
    }

private:
    void received(const HIDPPEvent& event) {
        pending_.push_back(event);
        next();
    }

    void next() {
        if (busy_ || !connectFinished_ || pending_.empty()) return;
        busy_ = true;
        HIDPPEvent event = std::move(pending_.front());
        pending_.pop_front();
        if (auto engine = hop_.engine.lock(); engine && changesServices(event)) engine->scope_->refresh(true);
        applier_->handle(event);
        // Lined up behind handle(): the state it reports includes the event.
        applier_->snapshot(hop_.ui, [weak = weak_from_this(), event](SettingsApplier::Snapshot snapshot) {
            if (auto self = weak.lock()) self->handled(event, snapshot.state);
        });
    }

    void handled(const HIDPPEvent& event, const SettingsApplyState& applyState) {
        const HIDPPConnectionState connection = device_->state();
        if (auto engine = hop_.engine.lock()) {
            engine->assign(&EngineStatus::hidConnection, connection);
            engine->assign(&EngineStatus::deviceSettings, applyState);
            engine->assign(&EngineStatus::targetDeviceAttached, engine->scope_->isTargetAttached());
            if (isRemoval(event)) engine->router_->resetAll();
        }
        busy_ = false;
        next();
    }

    const Hop hop_;
    const std::shared_ptr<HIDPPDevice> device_;
    const std::shared_ptr<SettingsApplier> applier_;
    HIDPPEventSubscription subscription_;
    std::deque<HIDPPEvent> pending_;
    bool connectFinished_ = false;
    bool busy_ = false;
};

DesiredDeviceSettings RavoletEngine::desiredSettings(const Profile& profile) const {
    return DesiredDeviceSettings{profile.pointer.dpi, options_.reportRateHertz, options_.highResolutionWheel};
}

void RavoletEngine::startDeviceIfNeeded() {
    const std::optional<std::string> bundleID =
        profileWatcher_ ? profileWatcher_->frontmostBundleID() : std::optional<std::string>();
    const DesiredDeviceSettings desired = desiredSettings(config_.activeProfile(bundleID));

    if (options_.hidControl) {
        replaceSettingsApplier(SettingsApplier::create(options_.hidControl, desired, environment_.applierExecutor));
        // The profile's DPI (and the options' rate and wheel) reach the mouse at once.
        settingsApplier_->applyNow();
        return;
    }
    if (!options_.connectsToDevice) return; // DPI requests are dropped; tuning hears nothing of a device
    const HIDPPDeviceMatch match = options_.deviceMatches.empty() ? HIDPPDeviceMatch::g502X : options_.deviceMatches.front();
    hidDevice_ = environment_.makeDevice(match);
    replaceSettingsApplier(
        SettingsApplier::create(std::make_shared<LiveHIDPPControl>(hidDevice_), desired, environment_.applierExecutor));
    // Nothing is written until the mouse reports ready.
    hidEventTask_ = std::make_shared<DeviceEventLoop>(hop(), hidDevice_, settingsApplier_);
    hidEventTask_->start();
}

void RavoletEngine::replaceSettingsApplier(std::shared_ptr<SettingsApplier> applier) {
    // The applier of an earlier start may still finish a job: it no longer
    // speaks for the mouse, so its observers go.
    if (settingsApplier_) {
        settingsApplier_->onDeviceDPIChange(nullptr);
        settingsApplier_->onDeviceReady(nullptr);
        settingsApplier_->onStateChange(nullptr);
    }
    settingsApplier_ = std::move(applier);
    bindDPISink(settingsApplier_);
    bindPointerTuning(settingsApplier_);
    bindDeviceSettings(settingsApplier_);
}

void RavoletEngine::bindDPISink(const std::shared_ptr<SettingsApplier>& applier) {
    // On the macro queue. The base DPI is the profile's as last swapped in;
    // the applier is only asked, never waited for. The pipeline is held
    // weakly: through its macro executor it holds this very sink.
    dpiSink_->setHandler([weakButtons = std::weak_ptr(buttonPipeline_), applier](std::int64_t dpi) {
        if (auto buttons = weakButtons.lock()) applier->setDPIOverride(DPIShiftPolicy::override(dpi, buttons->baseDPI()));
    });
}

void RavoletEngine::bindPointerTuning(const std::shared_ptr<SettingsApplier>& applier) {
    // Registering replays the DPI the mouse reported before, so none is lost.
    applier->onDeviceDPIChange([hop = hop()](std::optional<std::int64_t> dpi) {
        hop([dpi](RavoletEngine& engine) { engine.deviceDPIReported(dpi); });
    });
    // The tuner hears of readiness even when the engine has gone.
    applier->onDeviceReady([ui = environment_.ui, engine = weak_from_this(), tuner = pointerTuning_] {
        ui->post([engine, tuner] {
            tuner->deviceBecameReady();
            if (auto self = engine.lock()) self->assign(&EngineStatus::pointerTuning, tuner->status());
        });
    });
}

void RavoletEngine::bindDeviceSettings(const std::shared_ptr<SettingsApplier>& applier) {
    // Every state the applier passes through reaches the status, in order.
    applier->onStateChange([hop = hop()](const SettingsApplyState& state) {
        hop([state](RavoletEngine& engine) { engine.assign(&EngineStatus::deviceSettings, state); });
    });
}

void RavoletEngine::deviceDPIReported(std::optional<std::int64_t> dpi) {
    if (dpi) lastDeviceReportedDPI_ = dpi;
    pointerTuning_->deviceDPIReported(dpi);
    assign(&EngineStatus::pointerTuning, pointerTuning_->status());
}

void RavoletEngine::handleDeviceEvent(const HIDPPEvent& event) {
    confined();
    if (isRemoval(event)) {
        // Nothing may stay pressed for a mouse that has gone.
        router_->resetAll();
        drainMacros();
    }
    if (changesServices(event)) scope_->refresh(true);
    if (settingsApplier_) settingsApplier_->handle(event);
}

void RavoletEngine::handleHIDError(const HIDPPError& error) {
    if (error.kind() == HIDPPError::Kind::notPermitted) {
        assign(&EngineStatus::deviceSettings, SettingsApplyState::notPermitted());
    } else {
        assign(&EngineStatus::lastError, error.description());
    }
}

} // namespace ravolet

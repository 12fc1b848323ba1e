#include "RavoletApp/Model/UpdaterController.hpp"

#include "Platform/Linux/LinuxUpdaterBackend.hpp"

namespace ravolet {

// Answers the machinery's questions: gentle reminders for scheduled updates
// of a program that lives in the menu bar, and the front for whatever it
// shows itself.
class UpdaterController::Bridge final : public platform::UpdaterBackendDelegate {
public:
    explicit Bridge(std::shared_ptr<platform::ApplicationActivator> activator) : activator_(std::move(activator)) {}

    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    void willHandleShowingUpdate(bool handleShowingUpdate) override {
        if (handleShowingUpdate) activator_->activate();
    }
    void willShowModalAlert() override { activator_->activate(); }

private:
    const std::shared_ptr<platform::ApplicationActivator> activator_;
};

UpdaterController::UpdaterController(std::shared_ptr<AppPreferences> preferences,
                                     std::shared_ptr<platform::UpdaterBackend> updater,
                                     std::shared_ptr<platform::ApplicationActivator> activator, BundleInfo bundle)
    : preferences(std::move(preferences)),
      updater_(std::move(updater)),
      activator_(std::move(activator)),
      bundle_(std::move(bundle)),
      bridge_(std::make_shared<Bridge>(activator_)) {
    updater_->setDelegate(bridge_);
}

std::shared_ptr<UpdaterController> UpdaterController::standard(std::shared_ptr<AppPreferences> preferences,
                                                               std::shared_ptr<platform::ApplicationActivator> activator) {
    return std::make_shared<UpdaterController>(std::move(preferences), std::make_shared<platform::LinuxUpdaterBackend>(),
                                               std::move(activator), BundleInfo::main());
}

void UpdaterController::start() {
    syncAutomaticChecks();
    if (hasStarted_.value()) return;
    hasStarted_.set(true);
    updater_->startUpdater();
    syncAutomaticChecks();
}

void UpdaterController::syncAutomaticChecks() {
    const bool wanted = preferences->automaticUpdateChecks.value();
    if (updater_->automaticallyChecksForUpdates() != wanted) updater_->setAutomaticallyChecksForUpdates(wanted);
}

void UpdaterController::checkForUpdates() {
    activator_->activate();
    updater_->checkForUpdates();
}

} // namespace ravolet

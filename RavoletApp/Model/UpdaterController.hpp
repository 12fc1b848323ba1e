#pragma once

#include <memory>
#include <string>

#include "Platform/ApplicationActivator.hpp"
#include "Platform/UpdaterBackend.hpp"
#include "RavoletApp/Model/AppPreferences.hpp"
#include "RavoletApp/Model/BundleInfo.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// Ravolet's software updates: the update machinery, started once the program
// has finished launching, with its automatic checks kept equal to the user's
// preference, and the running version for the Updates page. Main thread only.
class UpdaterController {
public:
    // Creates the machinery's delegate and hands it over; starts nothing, so
    // no check runs or is scheduled yet.
    UpdaterController(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<platform::UpdaterBackend> updater,
                      std::shared_ptr<platform::ApplicationActivator> activator, BundleInfo bundle);
    UpdaterController(const UpdaterController&) = delete;
    UpdaterController& operator=(const UpdaterController&) = delete;

    // This machine's machinery (updates come through the package manager
    // here) and this build's version.
    static std::shared_ptr<UpdaterController> standard(std::shared_ptr<AppPreferences> preferences,
                                                       std::shared_ptr<platform::ApplicationActivator> activator);

    const std::shared_ptr<AppPreferences> preferences;

    // What the Updates page and the menu read and drive.
    platform::UpdaterBackend& updater() const { return *updater_; }
    const Observable<bool>& hasStarted() const { return hasStarted_; }

    // Syncs the automatic checks, and the first time starts the machinery and
    // syncs again; later calls only sync.
    void start();
    // Makes the machinery's automatic-check switch equal to the preference,
    // writing only when they differ. Call after changing the preference.
    void syncAutomaticChecks();
    // A check asked for by the user: brings Ravolet to the front first, since
    // the machinery answers in windows of its own.
    void checkForUpdates();
    // "0.1.0 (build 1)".
    std::string currentVersionDescription() const { return bundle_.versionDescription(); }
    // This build's version, and whether the package manager installed it.
    const BundleInfo& bundle() const { return bundle_; }

private:
    class Bridge;

    const std::shared_ptr<platform::UpdaterBackend> updater_;
    const std::shared_ptr<platform::ApplicationActivator> activator_;
    const BundleInfo bundle_;
    const std::shared_ptr<Bridge> bridge_;
    Observable<bool> hasStarted_{false};
};

} // namespace ravolet

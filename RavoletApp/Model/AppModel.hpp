#pragma once

#include <cassert>
#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/Config.hpp"
#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/ApplicationActivator.hpp"
#include "Platform/ApplicationCatalogue.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Executor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/KeyValueStore.hpp"
#include "Platform/LoginItemService.hpp"
#include "Platform/Notifier.hpp"
#include "Platform/PermissionProbe.hpp"
#include "Platform/SessionWatcher.hpp"
#include "Platform/Subscription.hpp"
#include "Platform/UpdaterBackend.hpp"
#include "Platform/Workspace.hpp"
#include "RavoletApp/Model/AppPreferences.hpp"
#include "RavoletApp/Model/ConfigStore.hpp"
#include "RavoletApp/Model/DeviceMonitor.hpp"
#include "RavoletApp/Model/LaunchAtLogin.hpp"
#include "RavoletApp/Model/MenuBarState.hpp"
#include "RavoletApp/Model/MouseFeed.hpp"
#include "RavoletApp/Model/StorageNotices.hpp"
#include "RavoletApp/Model/UpdaterController.hpp"
#include "RavoletEngine/Coordination/EngineStatus.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"
#include "RavoletEngine/Coordination/RavoletEngine.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// The one model the menu, the set-up window and every settings page watch and
// edit. It owns the settings file, the preferences, the login item, the device
// monitor and the updater; it builds, starts, updates and stops the engine;
// it mirrors the engine's status and the grants; and it turns every change of
// the settings document into a save one second later and an engine update a
// quarter second later, each new change replacing the pending ones.
//
// Confined to the user interface's executor, which is also its clock: every
// call is made there, and its delays are scheduled on it. Nothing looks again
// and again while nothing happens: the grants, the login item and the
// settings file are followed through the host's notices, the engine tells of
// its own changes, and its counters are gathered only after events went
// through it. Queued work holds the model weakly and does nothing once it is
// gone or cancelled. Every observable notifies only on a real change.
class AppModel final : public std::enable_shared_from_this<AppModel> {
    struct Private {};

public:
    using EngineFactory = std::function<std::shared_ptr<RavoletEngine>(Config, RavoletEngine::Options,
                                                                       RavoletEngine::Environment)>;

    // Everything the model works with. Every empty field is filled from
    // standard() when the model is made, so the program names none and tests
    // name the simulated ones.
    struct Dependencies {
        // Where the model runs and what its delays are measured on;
        // standard: the run loop of the thread that makes the model.
        std::shared_ptr<platform::Scheduler> ui;
        // The engine's host services; its executor, desktop and grants are
        // the model's own (below) unless given here.
        RavoletEngine::Environment engine;
        // Makes each engine; standard: RavoletEngine::create.
        EngineFactory makeEngine;
        // The settings file lives in settingsFolder (standard: the program's
        // folder of `files`); the wall clock names archived files and dates
        // the mouse's readings.
        std::shared_ptr<platform::FileSystem> files;
        std::filesystem::path settingsFolder;
        std::shared_ptr<platform::Clock> clock;
        // The user's preferences; standard: the process's one store, which
        // pointer tuning shares.
        std::shared_ptr<platform::KeyValueStore> defaults;
        std::shared_ptr<platform::LoginItemService> loginItems;
        std::shared_ptr<platform::UpdaterBackend> updater;
        // Brings Ravolet to the front for the updater; the program's user
        // interface installs what that means (LinuxApplicationActivator).
        std::shared_ptr<platform::ApplicationActivator> activator;
        std::shared_ptr<platform::Workspace> workspace;
        // The installed applications, for the application picker; standard:
        // the desktop entries under the XDG data folders, read through `files`.
        std::shared_ptr<platform::ApplicationCatalogue> applications;
        std::shared_ptr<platform::PermissionProbe> permissions;
        // Whether this login session is the one in front, for letting go of
        // the mouse while another user's is; standard: a session that always
        // is (the program gives logind's).
        std::shared_ptr<platform::SessionWatcher> session;
        // The mouse the device monitor owns; standard: the G502 X on this machine.
        std::shared_ptr<HIDPPDevice> device;
        // The simulated machine's mouse for the "Try It" panel to drive;
        // none (also as standard) on a real machine.
        std::shared_ptr<MouseFeed> tryItMouse;
        // Tells the user, outside the windows, of a command a button ran
        // that did not start; standard: the desktop's notifications.
        std::shared_ptr<platform::Notifier> notifier;
        // Whether the engine moves the cursor itself by the pointer curve's
        // output, as on the host (and the simulated machine). On Linux the
        // desktop moves it by the motion Ravolet passes on, which is the
        // curve's output: standard false.
        std::optional<bool> engineMovesCursor;
        // The mouse is the simulated machine's (`--simulated-mouse`), which
        // the state shown says; standard (and none) false.
        std::optional<bool> simulatedMouse;

        // This machine's services, every field filled.
        static Dependencies standard();
        // These dependencies with each empty field filled from this machine's
        // services (made only for the fields that need them).
        Dependencies completed() const;
    };

    static constexpr std::chrono::milliseconds saveDelay{1000};
    static constexpr std::chrono::milliseconds engineUpdateDelay{250};
    // How long after the first of a run of events the engine's counters are
    // gathered, and how often a pointer tuning that does not take is tried
    // again.
    static constexpr std::chrono::milliseconds countersInterval{2000};
    // How long a burst of the host's notices (a device plugged in comes as
    // several) is left to end before the grants are read.
    static constexpr std::chrono::milliseconds noticeDelay{100};
    // How long the settings file is left to settle after it changed on disk
    // before it is read.
    static constexpr std::chrono::milliseconds takeInDelay{50};

    // Makes the services and loads the settings document; starts nothing (no
    // engine, no device connection, nothing followed). On the user
    // interface's executor.
    static std::shared_ptr<AppModel> create(Dependencies dependencies = {});
    AppModel(Private, Dependencies dependencies);
    // Stops what a start left running (see stop()).
    ~AppModel();
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // ---- Services ----
    ConfigStore& store() const { return *store_; }
    AppPreferences& preferences() const { return *preferences_; }
    LaunchAtLogin& launchAtLogin() const { return *launchAtLogin_; }
    DeviceMonitor& deviceMonitor() const { return *deviceMonitor_; }
    UpdaterController& updater() const { return *updater_; }
    // The services the model was made with (the desktop for the application
    // picker, the activator for the user interface).
    const Dependencies& dependencies() const { return dependencies_; }

    // ---- What the pages watch ----
    // The settings document as the user edits it.
    const Observable<Config>& config() const { return config_; }
    // The engine's latest status, with a failed start's error kept in
    // lastError until a start succeeds; the initial status until the engine
    // publishes. When it reports a DPI put on the mouse that the device
    // monitor's snapshot does not show, the model has the mouse read again.
    const Observable<EngineStatus>& status() const { return status_; }
    // The grants as last read (at start, on the host's notice that they may
    // have changed, or by the set-up window).
    const Observable<PermissionState>& permissions() const { return permissions_; }
    // The engine, or none before the first start, while it is rebuilt and after stop().
    const Observable<std::shared_ptr<RavoletEngine>>& engine() const { return engine_; }
    // The name of the application in front: none when none is known, its
    // bundle identifier when the desktop cannot find it.
    const Observable<std::optional<std::string>>& frontmostAppName() const { return frontmostAppName_; }
    // The menu-bar item's symbol and texts.
    const Observable<MenuBarState>& menuBar() const { return menuBar_; }
    // Saves that failed and a preferences file set aside, for the banners.
    // A failed save of the document is left out while its file has a
    // problem: nothing is saved then, on purpose.
    const Observable<StorageNotices>& storageNotices() const { return storageNotices_; }
    // Whether the settings window shows a banner above its pages.
    const Observable<bool>& needsBanner() const { return needsBanner_; }
    // Whether the desktop has a tray that shows Ravolet's icon, as the user
    // interface found it (true until it says otherwise). Texts that point to
    // the icon read it, so that none speaks of an icon that is not there.
    const Observable<bool>& hasTray() const { return hasTray_; }

    // What the engine receives: the document as edited, or while the user has
    // paused Ravolet the same document with every profile passing scrolling
    // through, its pointer handling off and no button bindings.
    Config effectiveConfig() const;

    // ---- Life ----
    // In order: reads the grants and the login item's status, hands the
    // preferred report rate and wheel resolution to the device monitor, routes
    // its device events to whichever engine exists at the time, starts the
    // monitor, starts the engine and starts the updater; the host's notices
    // of the grants and the login item are followed from the first step.
    // Nothing can build the engine before its turn. Does nothing
    // while started. While the login session is not the one in front, the
    // monitor and the engine wait for it to be.
    //
    // The login session: when another user's session comes in front, the
    // engine and the device monitor stop as in stop() (the grab is let go,
    // the mouse's nodes closed, held keys released), and start again when
    // this one is back; the document is neither saved nor changed by it, and
    // no engine is built meanwhile.
    void start();
    // In order: cancels the pending save and engine update, the status
    // mirror and the notices followed; saves the document at once when it
    // differs from the file's (unless the file was changed on disk, which is then read and
    // kept instead) and tries once more to write preferences that failed to
    // save; stops and drops the engine; stops the device monitor. Nothing
    // restarts afterwards but start(). Once stopped, a stop does nothing.
    void stop();
    // Whether the document is on no disk: it differs from what its file held
    // when last read or written (the last good settings in force while the
    // file is broken do), and while the file cannot be used, from the copy
    // of the settings in force kept beside it (ConfigStore::keepInForce).
    bool hasUnsavedChanges() const;
    // Whether saving the document fails now: the last save failed, or the
    // file has a problem that blocks every save.
    bool savingFails() const;
    // For a program ended with changes it could not save: writes the document
    // beside the settings file (ConfigStore::keepAside) and notes where for
    // the next start, whose storage notices then say so. Where it went, or
    // why it could not.
    std::expected<std::filesystem::path, std::string> keepUnsavedChanges();

    // ---- Edits ----
    // A different document is stored and notified, then saved after 1 s and
    // handed to the engine after 250 ms; an equal one changes nothing.
    void setConfig(Config config);
    // Drops the pending engine update and hands the engine the pause and the
    // effective document at once, then refreshes its counters.
    void applyToEngineNow();
    // Stores the grants (the set-up window's own look writes them too).
    void setPermissions(PermissionState permissions);
    // Reads the grants now and stores them.
    void refreshPermissions();
    // With both grants, builds and starts a new engine unless one runs with
    // its tap enabled. Only between start() and stop(). A start error is kept
    // in the status, never thrown.
    void restartEngineIfNeeded();
    // What takes the place of a settings file moved aside.
    enum class FreshStart {
        // The settings in force: the last good ones, with the window's changes.
        settingsInForce,
        // The factory document, which the user asked for.
        factorySettings,
    };
    // Moves the unusable settings file aside; only when that worked, saves
    // the settings in force (or the factory document in their place) at once
    // and hands them to the engine.
    void startFreshConfig(FreshStart from = FreshStart::settingsInForce);
    // Reads the settings file again: clears the problem, loads, assigns the
    // result (a save follows only a changed document) and hands it to the
    // engine. A file still unusable leaves the settings in force.
    void readConfigAgain();
    // Saves the document and writes the preferences now ("Try Saving Again").
    void retrySaving();
    // The user has taken note that the preferences file was set aside.
    void dismissPreferencesSetAside();
    // Takes in a change made to the settings file outside Ravolet (the folder
    // is watched while the model is started; saving finds one too): with no
    // change of the window's unsaved, the file's document is the document;
    // with one, the window's changes go on top of the file's where they touch
    // other settings, and the file's are kept where they touch the same ones,
    // which the storage notices then name. A file the edit broke sets the
    // problem and leaves the document as it was. Nothing when the file holds
    // what was last read or written.
    void takeInFileChange();
    // Whether the last good settings are in force while the file is broken.
    bool keepsLastGood() const;
    // Where the broken file is gone, saves the settings in force in its
    // place (true), instead of taking the factory ones a missing file gives.
    bool takeOverMissingFile();
    // The user has taken note of the window's changes that were not kept.
    void dismissNotKeptFromWindow();
    // The user has taken note of where the changes the last run could not
    // save were written.
    void dismissUnsavedChangesFile();
    // Pauses or resumes; a value equal to the stored one does nothing.
    void setPausedByUser(bool paused);
    // The user interface tells whether the tray holds Ravolet's icon.
    void setHasTray(bool hasTray);
    // Opens or closes the gate on the mouse's settings. Opening writes the
    // desired report rate and wheel resolution, re-reads the mouse and has
    // the engine write the active profile's DPI again; closing writes nothing.
    void setManagesDeviceSettings(bool enabled);
    // The report rate in hertz, or none to leave the mouse's own; written to
    // the mouse at once (through the gate) and the mouse re-read.
    void setReportRate(std::optional<std::int64_t> hertz);
    // High resolution, standard, or none to leave the mouse's own; likewise.
    void setHighResolutionWheel(std::optional<bool> on);

private:
    enum class Phase { created, starting, started, stopped };

    void confined() const { assert(ui_->isCurrent() && "the application model runs on its UI executor"); }
    // Runs `body` on the UI executor after `delay` while the model exists.
    platform::TaskHandle after(std::chrono::milliseconds delay, std::move_only_function<void(AppModel&)> body);

    // Stops the engine there is, if any, and builds and starts a new one.
    void rebuildEngine();
    void startEngine();
    const RavoletEngine::Environment& engineEnvironment();
    RavoletEngine::Options engineOptions(const RavoletEngine::Environment& environment) const;
    void stopEngine();
    void sessionChanged(bool active);
    void mirror(EngineStatus status);
    void followDeviceWrites(const SettingsApplyState& before);
    void followNotices();
    // The host said the grants may have changed: reads them, and with both
    // first seen together, builds the engine that could not run before.
    void permissionsMayHaveChanged();
    // The engine saw events since its counters were last gathered.
    void countersMoved();
    void retryPointerTuningWhileItFails();
    void scheduleSave();
    // Saves the document as it stands, when it differs from the file's; a
    // file changed on disk is read instead, as "Try Reading It Again" does.
    // While the file cannot be used, keeps it in the copy beside it instead.
    void saveNow();
    // Whether the document differs from what the file held when last read
    // or written.
    bool differsFromFile() const;
    void scheduleEngineUpdate();
    void watchSettingsFile();
    void applyDeviceSettings();
    void updateDerived();
    std::optional<std::string> displayName(const std::optional<std::string>& bundleID) const;

    const Dependencies dependencies_;
    const std::shared_ptr<platform::Scheduler> ui_;
    const std::shared_ptr<ConfigStore> store_;
    const std::shared_ptr<LaunchAtLogin> launchAtLogin_;
    const std::shared_ptr<AppPreferences> preferences_;
    const std::shared_ptr<DeviceMonitor> deviceMonitor_;
    const std::shared_ptr<UpdaterController> updater_;
    std::optional<RavoletEngine::Environment> engineEnvironment_;

    Observable<EngineStatus> status_;
    Observable<PermissionState> permissions_;
    Observable<std::shared_ptr<RavoletEngine>> engine_;
    Observable<Config> config_;
    Observable<std::optional<std::string>> frontmostAppName_;
    Observable<MenuBarState> menuBar_;
    Observable<StorageNotices> storageNotices_;
    Observable<bool> needsBanner_{false};
    Observable<bool> hasTray_{true};
    // The bundle identifier frontmostAppName_ was last worked out for.
    std::optional<std::string> namedBundleID_;

    Phase phase_ = Phase::created;
    bool changingEngine_ = false;
    // Why the last engine start failed, until one succeeds.
    std::optional<std::string> startError_;
    platform::TaskHandle saveTask_;
    platform::TaskHandle engineUpdateTask_;
    platform::Subscription permissionNotices_;
    platform::Subscription loginItemNotices_;
    platform::TaskHandle permissionsTask_;
    platform::TaskHandle countersTask_;
    platform::TaskHandle tuningRetryTask_;
    platform::TaskHandle takeInTask_;
    platform::Subscription settingsFileWatch_;
    std::vector<std::string> notKeptFromWindow_;
    platform::Subscription statusSubscription_;
    platform::Subscription sessionSubscription_;
    bool sessionActive_ = true;
    std::vector<ObserverConnection> derivedInputs_;
};

} // namespace ravolet

// The application model's edits: the settings document with its delayed save
// and engine update, pausing, the settings file's remedies and the mouse's
// own settings.

#include <algorithm>
#include <utility>

#include "RavoletApp/Model/ConfigMerge.hpp"

#include "RavoletApp/Model/AppModel.hpp"

namespace ravolet {

// ---- The settings document ----

void AppModel::setConfig(Config config) {
    confined();
    if (!config_.set(std::move(config))) return;
    scheduleSave();
    scheduleEngineUpdate();
}

void AppModel::scheduleSave() {
    saveTask_.cancel();
    // The document as it stands now: the file gets the last change, 1 s after it.
    saveTask_ = after(saveDelay, [](AppModel& self) { self.saveNow(); });
}

bool AppModel::differsFromFile() const {
    // The last good settings, kept in force while the file is broken, are not
    // what the file holds.
    return keepsLastGood() || config_.value() != store_->storedDocument();
}

bool AppModel::hasUnsavedChanges() const {
    // While the file cannot be used, the copy beside it holds what is in
    // force: a quit, or a kill, loses nothing then. Where that copy could not
    // be written, quitting asks first, and a signal keeps them aside.
    if (store_->problem().value() && store_->keptInForce() == config_.value()) return false;
    return differsFromFile();
}

bool AppModel::savingFails() const { return store_->problem().value() || store_->lastSaveError().value(); }

std::expected<std::filesystem::path, std::string> AppModel::keepUnsavedChanges() {
    confined();
    auto aside = store_->keepAside(config_.value());
    if (aside) preferences_->unsavedChangesFile.set(aside->string());
    return aside;
}

void AppModel::dismissUnsavedChangesFile() {
    confined();
    preferences_->unsavedChangesFile.set(std::nullopt);
}

void AppModel::saveNow() {
    saveTask_.cancel();
    // Only a change is written: an untouched file, however it is laid out,
    // stays as it is, and a copy of the settings in force is needed no more.
    if (!differsFromFile()) return store_->dropInForceCopy();
    if (!hasUnsavedChanges()) return;
    // A failed save keeps the document here; the next change, "Try Saving
    // Again" and quitting each try again. A file that cannot be used keeps
    // it in the copy beside it, while it stands.
    const auto outcome = store_->save(config_.value());
    if (outcome == ConfigStore::SaveOutcome::blocked) {
        (void)store_->keepInForce(config_.value());
        return;
    }
    if (outcome != ConfigStore::SaveOutcome::changedOnDisk) return;
    // Changed outside a moment ago, before the folder's watch told: taken in
    // now, and what remains of the window's changes written on top.
    takeInFileChange();
    if (hasUnsavedChanges()) store_->save(config_.value());
}

// ---- Changes made to the file outside Ravolet ----

void AppModel::watchSettingsFile() {
    // A file kept elsewhere through a link (with the user's dotfiles) is
    // followed to where it lives.
    settingsFileWatch_ = dependencies_.files->watchFile(store_->fileURL, ui_, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || self->phase_ != Phase::started) return;
        // An editor's save, or ours, comes as several changes at once: the
        // file is read once they are over.
        self->takeInTask_.cancel();
        self->takeInTask_ = self->after(takeInDelay, [](AppModel& model) { model.takeInFileChange(); });
    });
}

void AppModel::takeInFileChange() {
    confined();
    takeInTask_.cancel();
    // Ravolet's own saves come back here too, as the same bytes; a file that
    // cannot be used is read again whenever it changes.
    if (!store_->problem().value() && !store_->changedOnDisk()) return;
    const Config base = store_->storedDocument();
    const bool windowChanged = differsFromFile();
    const bool keptLastGood = keepsLastGood();
    Config file = store_->load();
    // Broken by the edit: the problem shows and blocks every save, while the
    // engine runs on as before and the window's changes stay, until the file
    // reads well again; from now on in the copy beside it too.
    if (store_->problem().value()) return saveNow();
    if (keptLastGood && takeOverMissingFile()) return;
    if (!windowChanged) {
        setConfig(std::move(file));
    } else {
        // Both sides changed: the window's changes on top of the file's where
        // they touch other settings, the file's where they touch the same.
        ConfigMerge merge = ConfigMerge::of(base, config_.value(), file);
        setConfig(std::move(merge.merged));
        for (std::string& setting : merge.notKept)
            if (std::ranges::find(notKeptFromWindow_, setting) == notKeptFromWindow_.end())
                notKeptFromWindow_.push_back(std::move(setting));
        updateDerived();
    }
    applyToEngineNow();
}

void AppModel::dismissNotKeptFromWindow() {
    confined();
    notKeptFromWindow_.clear();
    updateDerived();
}

void AppModel::scheduleEngineUpdate() {
    engineUpdateTask_.cancel();
    // The document is read when the update runs.
    engineUpdateTask_ = after(engineUpdateDelay, [](AppModel& self) { self.applyToEngineNow(); });
}

Config AppModel::effectiveConfig() const {
    Config effective = config_.value();
    if (!preferences_->isPausedByUser.value()) return effective;
    // Pausing changes only what the engine receives, never the user's document.
    for (Profile& profile : effective.profiles) {
        profile.scroll = ScrollSettings::passThrough;
        profile.pointer.isEnabled = false;
        profile.buttons.clear();
    }
    return effective;
}

void AppModel::applyToEngineNow() {
    confined();
    engineUpdateTask_.cancel();
    engineUpdateTask_ = {};
    const auto engine = engine_.value();
    if (!engine) return;
    engine->setPausedByUser(preferences_->isPausedByUser.value());
    engine->update(effectiveConfig());
    engine->refreshMetrics();
}

void AppModel::setPausedByUser(bool paused) {
    confined();
    if (preferences_->isPausedByUser.value() == paused) return;
    preferences_->isPausedByUser.set(paused);
    applyToEngineNow();
}

void AppModel::setHasTray(bool hasTray) {
    confined();
    hasTray_.set(hasTray);
}

// ---- The settings file's remedies ----

void AppModel::startFreshConfig(FreshStart from) {
    confined();
    if (!store_->startFresh()) return;
    // The settings in force exist nowhere else: only the user's asking puts
    // the factory ones in their place.
    if (from == FreshStart::factorySettings) setConfig(Config::defaultConfig());
    store_->save(config_.value());
    applyToEngineNow();
}

void AppModel::readConfigAgain() {
    confined();
    const bool keptLastGood = keepsLastGood();
    if (store_->problem().value()) store_->setProblem(std::nullopt);
    Config file = store_->load();
    // Still unusable: the settings in force stay, as does the window's work.
    if (!store_->problem().value() && !(keptLastGood && takeOverMissingFile())) setConfig(std::move(file));
    // Kept beside the file while it cannot be used; dropped where it holds them.
    saveNow();
    applyToEngineNow();
}

bool AppModel::keepsLastGood() const {
    const auto& problem = store_->problem().value();
    return problem && problem->inForce == ConfigStore::Problem::InForce::lastGood;
}

bool AppModel::takeOverMissingFile() {
    // The broken file is gone (removed by hand): the settings in force, the
    // last good ones, are what the file becomes, not the factory ones, which
    // would replace them without a word. Nothing on disk is lost by that.
    if (dependencies_.files->exists(store_->fileURL)) return false;
    saveNow();
    applyToEngineNow();
    return true;
}

void AppModel::retrySaving() {
    confined();
    saveNow();
    preferences_->retrySave();
}

void AppModel::dismissPreferencesSetAside() {
    confined();
    preferences_->dismissSetAside();
}

// ---- The mouse's own settings ----

void AppModel::setManagesDeviceSettings(bool enabled) {
    confined();
    preferences_->managesDeviceSettings.set(enabled);
    deviceMonitor_->control()->setEnabled(enabled);
    // Closing the gate holds back later writes; what it writes now is only
    // the wheel's mode put back, where Ravolet had changed it.
    applyDeviceSettings();
    if (!enabled) return;
    if (const auto engine = engine_.value(); engine && engine->settingsApplier()) engine->settingsApplier()->applyNow();
}

void AppModel::setReportRate(std::optional<std::int64_t> hertz) {
    confined();
    preferences_->reportRateHertz.set(hertz);
    deviceMonitor_->setDesiredReportRateHertz(hertz);
    applyDeviceSettings();
}

void AppModel::setHighResolutionWheel(std::optional<bool> on) {
    confined();
    preferences_->highResolutionWheel.set(on);
    deviceMonitor_->setDesiredHighResolutionWheel(on);
    applyDeviceSettings();
}

void AppModel::applyDeviceSettings() {
    // Both return at once; the mouse is re-read once the writes are done, so
    // the pages show what it took.
    deviceMonitor_->applyDesiredSettings([monitor = std::weak_ptr<DeviceMonitor>(deviceMonitor_)] {
        if (const auto self = monitor.lock()) self->refresh();
    });
}

} // namespace ravolet

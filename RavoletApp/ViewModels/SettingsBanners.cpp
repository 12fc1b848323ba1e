#include "RavoletApp/ViewModels/SettingsBanners.hpp"

#include "RavoletApp/ViewModels/AccessRemedy.hpp"

namespace ravolet {

namespace {

// "Cannot write …: No space left on device.": the system's words as a sentence.
std::string sentence(std::string text) {
    if (!text.empty() && text.front() >= 'a' && text.front() <= 'z') text.front() = static_cast<char>(text.front() - 'a' + 'A');
    if (!text.ends_with('.')) text += '.';
    return text;
}

// The grants banner names the device nodes still closed, so the remedy the
// set-up walk-through gives can be checked against them.
std::string grantsMissing(const PermissionState& permissions) {
    std::string message = "Everything on these pages is saved, but nothing takes effect until your computer grants "
                          "Ravolet permission.";
    std::vector<std::string> closed = permissions.closedListeningNodes;
    closed.insert(closed.end(), permissions.closedPostingNodes.begin(), permissions.closedPostingNodes.end());
    if (const auto nodes = AccessRemedy::closedNodes(closed)) message += " " + *nodes;
    return message;
}

} // namespace

std::vector<SettingsBanner> settingsBanners(const std::optional<ConfigStore::Problem>& problem,
                                            const std::filesystem::path& settingsFile,
                                            const PermissionState& permissions, bool isPausedByUser,
                                            const StorageNotices& storage) {
    using Action = SettingsBanner::Action;
    std::vector<SettingsBanner> banners;
    if (problem) {
        // With the last good settings in force, moving the file aside keeps
        // them; the factory settings take their place only by a button that
        // says so.
        std::vector<SettingsBanner::Button> buttons{{"Try Reading It Again", Action::readAgain}};
        if (problem->inForce == ConfigStore::Problem::InForce::lastGood) {
            buttons.push_back({"Move It Aside, Keep Settings", Action::startFresh});
            buttons.push_back({"Move It Aside, Use Factory Settings", Action::startFromFactory});
        } else {
            buttons.push_back({"Move It Aside And Start Fresh", Action::startFresh});
        }
        buttons.push_back({"Show In Folder", Action::showFile});
        banners.push_back({.kind = SettingsBanner::Kind::problem,
                           .title = problem->headline(),
                           .message = problem->explanation() + " Your file is still on disk at " +
                                      settingsFile.string() + ".",
                           .buttons = std::move(buttons)});
    }
    if (storage.settingsSaveError || storage.preferencesSaveError) {
        std::string message = "Your changes are kept while Ravolet runs, and it tries again with your next change "
                              "and when it quits.";
        for (const auto& error : {storage.settingsSaveError, storage.preferencesSaveError})
            if (error) message += " " + sentence(*error);
        banners.push_back({.kind = SettingsBanner::Kind::problem,
                           .title = storage.settingsSaveError ? "Ravolet could not save your settings"
                                                              : "Ravolet could not save your preferences",
                           .message = std::move(message),
                           .buttons = {{"Try Saving Again", Action::retrySave}}});
    }
    if (storage.unsavedChangesAt) {
        banners.push_back({.kind = SettingsBanner::Kind::warning,
                           .title = "Ravolet could not save your last changes before it was ended",
                           .message = "They were written to " + storage.unsavedChangesAt->string() +
                                      " instead. To have them back, put that file in place of " +
                                      (storage.unsavedChangesAt->parent_path() == settingsFile.parent_path()
                                           ? settingsFile.filename().string() + " in the same folder"
                                           : settingsFile.string()) +
                                      "; Ravolet takes it in at once.",
                           .buttons = {{"Show In Folder", Action::showFile}, {"OK", Action::dismissUnsavedChanges}}});
    }
    if (!storage.notKeptFromWindow.empty()) {
        std::string settings;
        for (const std::string& setting : storage.notKeptFromWindow) settings += (settings.empty() ? "" : "; ") + setting;
        banners.push_back({.kind = SettingsBanner::Kind::warning,
                           .title = "Your settings file was changed outside Ravolet",
                           .message = "Ravolet took in the changes made to the file and kept yours where they touched "
                                      "other settings. Where both changed the same setting, the file's was kept: " +
                                      settings + ".",
                           .buttons = {{"OK", Action::dismissNotKept}}});
    }
    if (storage.preferencesSetAsideAt) {
        banners.push_back({.kind = SettingsBanner::Kind::informational,
                           .title = "Your Ravolet preferences file could not be read",
                           .message = "Ravolet moved it aside to " + storage.preferencesSetAsideAt->string() +
                                      " and started again from its default preferences. Your settings and profiles "
                                      "are not affected.",
                           .buttons = {{"OK", Action::dismissSetAside}}});
    }
    if (!permissions.accessibility || !permissions.inputMonitoring) {
        banners.push_back({.kind = SettingsBanner::Kind::warning,
                           .title = "Ravolet is not allowed to touch your input yet",
                           .message = grantsMissing(permissions),
                           .buttons = {{"Finish Setting Up…", Action::finishSetUp, true}}});
    } else if (isPausedByUser) {
        banners.push_back({.kind = SettingsBanner::Kind::informational,
                           .title = "Ravolet is paused",
                           .message = "Your mouse behaves exactly as your desktop ships it. Changes you make here are "
                                      "saved and take effect the moment you resume.",
                           .buttons = {{"Resume", Action::resume, true}}});
    }
    return banners;
}

std::optional<QuitPrompt> quitPrompt(bool hasUnsavedChanges, const std::optional<ConfigStore::Problem>& problem,
                                     const std::optional<std::string>& saveError) {
    if (!hasUnsavedChanges || (!problem && !saveError)) return std::nullopt;
    const std::string why = problem ? problem->headline() + ", and Ravolet does not save over it." : sentence(*saveError);
    if (problem && problem->inForce == ConfigStore::Problem::InForce::lastGood)
        return QuitPrompt{.text = "The settings Ravolet runs on are not saved",
                          .detail = why + " Your last good settings are kept only while Ravolet runs: if you quit now, "
                                          "they are lost. Keep Ravolet running and move the file aside from its "
                                          "settings window to save them.",
                          .keepRunning = "Keep Running",
                          .quitAnyway = "Quit Anyway"};
    return QuitPrompt{.text = "Your latest changes are not saved",
                      .detail = why + " If you quit now, these changes are lost. Keep Ravolet running to try again "
                                      "from its settings window.",
                      .keepRunning = "Keep Running",
                      .quitAnyway = "Quit Anyway"};
}

std::string fixedProfileSelection(const Config& config, const std::string& selectedProfileID,
                                  const std::string& activeProfileID) {
    return config.profile(selectedProfileID) ? selectedProfileID : activeProfileID;
}

} // namespace ravolet

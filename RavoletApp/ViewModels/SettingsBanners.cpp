#include "RavoletApp/ViewModels/SettingsBanners.hpp"

namespace ravolet {

std::vector<SettingsBanner> settingsBanners(const std::optional<ConfigStore::Problem>& problem,
                                            const std::filesystem::path& settingsFile,
                                            const PermissionState& permissions, bool isPausedByUser) {
    using Action = SettingsBanner::Action;
    std::vector<SettingsBanner> banners;
    if (problem) {
        banners.push_back({.kind = SettingsBanner::Kind::problem,
                           .title = problem->headline(),
                           .message = problem->explanation() + " Your file is still on disk at " +
                                      settingsFile.string() + ".",
                           .buttons = {{"Try Reading It Again", Action::readAgain},
                                       {"Move It Aside And Start Fresh", Action::startFresh},
                                       {"Show In Finder", Action::showFile}}});
    }
    if (!permissions.accessibility || !permissions.inputMonitoring) {
        banners.push_back({.kind = SettingsBanner::Kind::warning,
                           .title = "Ravolet is not allowed to touch your input yet",
                           .message = "Everything on these pages is saved, but nothing takes effect until macOS "
                                      "grants Ravolet permission.",
                           .buttons = {{"Finish Setting Up…", Action::finishSetUp, true}}});
    } else if (isPausedByUser) {
        banners.push_back({.kind = SettingsBanner::Kind::informational,
                           .title = "Ravolet is paused",
                           .message = "Your mouse behaves exactly as macOS ships it. Changes you make here are "
                                      "saved and take effect the moment you resume.",
                           .buttons = {{"Resume", Action::resume, true}}});
    }
    return banners;
}

std::string fixedProfileSelection(const Config& config, const std::string& selectedProfileID,
                                  const std::string& activeProfileID) {
    return config.profile(selectedProfileID) ? selectedProfileID : activeProfileID;
}

} // namespace ravolet

#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Core/Config.hpp"
#include "RavoletApp/Model/ConfigStore.hpp"
#include "RavoletApp/Model/StorageNotices.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"

namespace ravolet {

// A banner above the settings pages, as plain data.
struct SettingsBanner {
    enum class Kind { informational, warning, problem };
    enum class Action {
        readAgain,
        // Moves the file aside and saves the settings in force.
        startFresh,
        // Moves it aside and saves the factory settings.
        startFromFactory,
        showFile,
        retrySave,
        dismissSetAside,
        finishSetUp,
        resume,
        dismissNotKept,
        dismissUnsavedChanges,
    };
    struct Button {
        std::string title;
        Action action;
        // The filled accent style, for the one remedy a banner leads to.
        bool prominent = false;
        friend bool operator==(const Button&, const Button&) = default;
    };

    Kind kind = Kind::informational;
    std::string title;
    std::string message;
    std::vector<Button> buttons;

    friend bool operator==(const SettingsBanner&, const SettingsBanner&) = default;
};

// The banners in order: the settings file's, when it is unusable; failed
// saves; where the changes the last run could not save went; changes of the
// window's that an edit of the file outside Ravolet overrode; the preferences
// file set aside; then at most one of missing grants or the user's pause, the
// grants first.
std::vector<SettingsBanner> settingsBanners(const std::optional<ConfigStore::Problem>& problem,
                                            const std::filesystem::path& settingsFile,
                                            const PermissionState& permissions, bool isPausedByUser,
                                            const StorageNotices& storage = {});

// What the user is asked on quitting with changes that are not saved and
// cannot be, as things stand (a save failed, or the file has a problem):
// quitting drops them. None when nothing is left unsaved or saving works
// (the quit then saves).
struct QuitPrompt {
    std::string text;
    std::string detail;
    std::string keepRunning;
    std::string quitAnyway;
    friend bool operator==(const QuitPrompt&, const QuitPrompt&) = default;
};
std::optional<QuitPrompt> quitPrompt(bool hasUnsavedChanges, const std::optional<ConfigStore::Problem>& problem,
                                     const std::optional<std::string>& saveError);

// The profile the window's pages edit when it comes on screen: the selected
// one while the document has it, else the one the engine applies now.
std::string fixedProfileSelection(const Config& config, const std::string& selectedProfileID,
                                  const std::string& activeProfileID);

} // namespace ravolet

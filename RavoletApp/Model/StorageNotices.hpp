#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ravolet {

// What the user must hear of about keeping their settings on disk, beyond a
// settings file that cannot be used: saves that failed, and a preferences
// file that could not be read and was set aside.
struct StorageNotices {
    // Why the settings document was not saved, in the system's words.
    std::optional<std::string> settingsSaveError;
    // Why the preferences were not saved.
    std::optional<std::string> preferencesSaveError;
    // Where the unreadable preferences file went, until the user has taken note.
    std::optional<std::filesystem::path> preferencesSetAsideAt;
    // The settings changed in the window and, before that change was saved,
    // in the file by another program, where the file's were kept: named as
    // ConfigMerge names them, until the user has taken note.
    std::vector<std::string> notKeptFromWindow = {};
    // Where the changes that could not be saved when Ravolet was last ended
    // were written instead, until the user has taken note.
    std::optional<std::filesystem::path> unsavedChangesAt = {};

    bool any() const {
        return settingsSaveError || preferencesSaveError || preferencesSetAsideAt || !notKeptFromWindow.empty() ||
               unsavedChangesAt;
    }
    friend bool operator==(const StorageNotices&, const StorageNotices&) = default;
};

} // namespace ravolet

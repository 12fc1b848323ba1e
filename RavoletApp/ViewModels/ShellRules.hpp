#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ravolet {

// How the program lives on a desktop with or without a tray: which windows
// open when it starts, and what it says the first time its settings window
// is closed where no tray icon is left to show that it still runs.
namespace ShellRules {

inline constexpr std::string_view quitTitle = "Quit Ravolet";
inline constexpr std::string_view quitShortcut = "Ctrl+Q";

struct LaunchWindows {
    bool settings = false;
    bool setUp = false;
    friend bool operator==(const LaunchWindows&, const LaunchWindows&) = default;
};

// With a tray, only the set-up window of a first run. Without one, the
// settings window too, since nothing else would show that Ravolet runs;
// but nothing at all when the desktop starts it at login, where a window
// at every login is in the way.
LaunchWindows windowsAtLaunch(bool hasTray, bool startedAtLogin, bool hasCompletedOnboarding);

struct Note {
    std::string title;
    std::string message;
};

// Said once, the first time the settings window is closed with no tray.
std::optional<Note> noteOnClosingSettings(bool hasTray, bool alreadyShown);

// Said by a copy started while another runs on the same settings folder,
// when that one neither answered nor ended: why, in the words of the lock
// ("it neither answered nor ended within 10 seconds").
Note noteOnUnreachableCopy(const std::string& settingsFolder, const std::string& why);

} // namespace ShellRules

} // namespace ravolet

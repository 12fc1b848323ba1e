#include "RavoletApp/ViewModels/ShellRules.hpp"

namespace ravolet::ShellRules {

LaunchWindows windowsAtLaunch(bool hasTray, bool startedAtLogin, bool hasCompletedOnboarding) {
    if (!hasTray && startedAtLogin) return {};
    return {.settings = !hasTray, .setUp = !hasCompletedOnboarding};
}

std::optional<Note> noteOnClosingSettings(bool hasTray, bool alreadyShown) {
    if (hasTray || alreadyShown) return std::nullopt;
    return Note{"Ravolet keeps working",
                "Closing the window leaves Ravolet running: your wheel, buttons and profiles work as before. To change "
                "a setting, open Ravolet again from your applications menu. To stop it, choose " +
                    std::string(quitTitle) + " (" + std::string(quitShortcut) + ") in its window."};
}

Note noteOnUnreachableCopy(const std::string& settingsFolder, const std::string& why) {
    return Note{"Ravolet is already running, but does not answer",
                "Another copy of Ravolet runs on the settings in " + settingsFolder + ", but " + why +
                    ", so this one does not start. End that copy, or wait for it to finish quitting, and start "
                    "Ravolet again."};
}

} // namespace ravolet::ShellRules

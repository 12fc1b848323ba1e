#include "RavoletApp/ViewModels/UpdatesRules.hpp"

#include "RavoletApp/Model/UpdaterController.hpp"

namespace ravolet::updatesPage {

bool setAutomaticChecks(UpdaterController& updater, bool on) {
    if (updater.preferences->automaticUpdateChecks.value() == on) return false;
    updater.preferences->automaticUpdateChecks.set(on);
    updater.syncAutomaticChecks();
    return true;
}

bool resetAutomaticChecks(UpdaterController& updater) { return setAutomaticChecks(updater, true); }

std::string checkDisabledNote(bool updatesItself) {
    return updatesItself ? "A check is already under way." : "This build does not update itself.";
}

std::string_view updatedElsewhereNote(bool fromPackage) { return fromPackage ? packageManagerNote : sourceBuildNote; }

std::string_view updatedElsewhereShortNote(bool fromPackage) {
    return fromPackage ? packageManagerShortNote : sourceBuildShortNote;
}

std::string feedText(const std::optional<std::string>& feedURL) { return feedURL.value_or("\u2014"); }

} // namespace ravolet::updatesPage

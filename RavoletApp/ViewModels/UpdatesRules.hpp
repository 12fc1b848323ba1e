#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ravolet {

class UpdaterController;

// The Updates page's rules, free of widgets.
namespace updatesPage {

// Stores the automatic-check switch and makes the updater follow it; a value
// equal to the stored one writes nothing and leaves the updater alone.
// Returns whether it wrote.
bool setAutomaticChecks(UpdaterController& updater, bool on);
// The switch's reset: back on (its default), only when it is off.
bool resetAutomaticChecks(UpdaterController& updater);

// The note beside a disabled "Check for Updates…": a check under way, or,
// for a build that does not update itself, that it never will.
std::string checkDisabledNote(bool updatesItself);

// What the page says of a copy that does not update itself: one installed
// from Ravolet's Debian package is updated by installing a newer package; one
// built from source by nothing but building it again.
inline constexpr std::string_view packageManagerNote =
    "Ravolet is updated by your package manager: installing a newer Ravolet package replaces this copy (sudo apt "
    "install ./ravolet_…_amd64.deb). It never checks for updates or installs anything by itself, so this switch stays "
    "off.";
inline constexpr std::string_view sourceBuildNote =
    "This copy was built from source, so your package manager does not update it: to update it, build the newer source "
    "again (scripts/run.sh does), or install Ravolet's Debian package instead (scripts/package.sh builds it), which "
    "your package manager then updates. It never checks for updates or installs anything by itself, so this switch "
    "stays off.";
std::string_view updatedElsewhereNote(bool fromPackage);

// The same, where there is room for a line only: beside the disabled check
// in the tray's menu, and as the switch's own tip.
inline constexpr std::string_view packageManagerShortNote = "Updated by your package manager";
inline constexpr std::string_view sourceBuildShortNote = "Built from source: build it again to update it";
std::string_view updatedElsewhereShortNote(bool fromPackage);

// The feed's address, or "—" when the updater has none.
std::string feedText(const std::optional<std::string>& feedURL);

} // namespace updatesPage
} // namespace ravolet

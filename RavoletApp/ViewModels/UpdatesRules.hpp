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

// What the page says where the package manager updates the program.
inline constexpr std::string_view packageManagerNote =
    "Ravolet is updated by your package manager, together with the rest of your system, so it never checks for "
    "updates or installs anything by itself. This switch stays off.";

// The same, where there is room for a line only: beside the disabled check
// in the tray's menu, and as the switch's own tip.
inline constexpr std::string_view packageManagerShortNote = "Updated by your package manager";

// The feed's address, or "—" when the updater has none.
std::string feedText(const std::optional<std::string>& feedURL);

} // namespace updatesPage
} // namespace ravolet

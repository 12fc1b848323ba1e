#pragma once

#include <string>
#include <string_view>

#include "Platform/Workspace.hpp"

namespace ravolet {

// What the section on Ravolet's GNOME Shell extension says and offers, on
// the Profiles page and the set-up window's last page: what the extension is
// and tells, where it stands, and installing, updating or removing it. Only
// the user's press of a button installs or removes anything.
struct ShellExtensionOffer {
    enum class Action { none, install, update };

    static constexpr std::string_view title = "GNOME Shell Extension";
    static constexpr std::string_view about =
        "Per-application profiles on GNOME need Ravolet\u2019s small GNOME Shell extension. It tells Ravolet which "
        "app\u2019s window has the focus and which apps are running, and nothing else.";
    static constexpr std::string_view removeTitle = "Remove the Extension";

    // Only where GNOME Shell tells which app is in front (and is there).
    bool shown = false;
    std::string status;
    Action action = Action::none;
    bool removable = false;

    friend bool operator==(const ShellExtensionOffer&, const ShellExtensionOffer&) = default;
};

ShellExtensionOffer shellExtensionOffer(const platform::FrontmostTracking& tracking);
// "Install the Extension", "Update the Extension"; empty for none.
std::string_view actionTitle(ShellExtensionOffer::Action action);

} // namespace ravolet

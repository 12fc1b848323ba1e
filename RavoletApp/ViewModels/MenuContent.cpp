#include "RavoletApp/ViewModels/MenuContent.hpp"

#include <ostream>

#include "RavoletApp/ViewModels/ShellRules.hpp"
#include "RavoletApp/ViewModels/UpdatesRules.hpp"

namespace ravolet {

namespace {

MenuItem item(MenuItem::Role role, MenuItem::Kind kind, std::string title, bool checked = false, bool enabled = true,
              std::string shortcut = {}) {
    return {role, kind, std::move(title), checked, enabled, std::move(shortcut)};
}

MenuItem text(MenuItem::Role role, std::string title) {
    return item(role, MenuItem::Kind::text, std::move(title), false, false);
}

MenuItem separator() { return {}; }

} // namespace

std::vector<MenuItem> menuItems(const MenuInputs& in) {
    using Role = MenuItem::Role;
    using Kind = MenuItem::Kind;
    const MenuBarState state = MenuBarState::of(in.permissions, in.isPausedByUser, in.status);
    std::vector<MenuItem> items;
    items.push_back(text(Role::headline, state.headline));
    if (state.detail) items.push_back(text(Role::detail, *state.detail));
    items.push_back(separator());
    items.push_back(item(Role::pause, Kind::toggle, "Pause Ravolet", in.isPausedByUser));
    items.push_back(text(Role::profile, "Profile: " + in.status.activeProfileName));
    items.push_back(
        item(Role::startAtLogin, Kind::toggle, "Start at Login", in.loginItem == platform::LoginItemStatus::enabled));
    items.push_back(separator());
    if (!in.permissions.canRunActiveTap())
        items.push_back(item(Role::finishSetUp, Kind::button, "Finish Setting Up Ravolet…"));
    // No key equivalent: nothing takes Ctrl+, while the menu is shut, and the
    // settings window it opens has no use for one.
    items.push_back(item(Role::settings, Kind::button, "Settings…"));
    items.push_back(item(Role::checkForUpdates, Kind::button, "Check for Updates…", false, in.canCheckForUpdates));
    if (!in.updatesItself)
        items.push_back(text(Role::updatesNote, std::string(updatesPage::updatedElsewhereShortNote(in.fromPackage))));
    items.push_back(separator());
    items.push_back(item(Role::quit, Kind::button, std::string(ShellRules::quitTitle), false, true,
                         std::string(ShellRules::quitShortcut)));
    return items;
}

std::string trayToolTip(const MenuBarState& state) { return "Ravolet — " + state.headline; }

std::ostream& operator<<(std::ostream& os, const MenuItem& item) {
    if (item.kind == MenuItem::Kind::separator) return os << "---";
    os << item.title;
    if (item.checked) os << " [on]";
    if (!item.enabled && item.kind != MenuItem::Kind::text) os << " (disabled)";
    return os;
}

} // namespace ravolet

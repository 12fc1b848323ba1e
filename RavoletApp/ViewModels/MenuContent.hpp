#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "Platform/LoginItemService.hpp"
#include "RavoletApp/Model/BundleInfo.hpp"
#include "RavoletApp/Model/MenuBarState.hpp"
#include "RavoletEngine/Coordination/EngineStatus.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"

namespace ravolet {

// One row of the tray icon's menu, as plain data: the menu is rebuilt from
// these whenever what it reads changes, so the widgets hold no rules.
struct MenuItem {
    enum class Role {
        headline,
        detail,
        separator,
        pause,
        profile,
        startAtLogin,
        finishSetUp,
        settings,
        checkForUpdates,
        updatesNote,
        quit
    };
    enum class Kind { text, toggle, button, separator };

    Role role = Role::separator;
    Kind kind = Kind::separator;
    std::string title;
    bool checked = false;
    bool enabled = true;
    // A portable key sequence ("Ctrl+Q"), or empty.
    std::string shortcut;

    friend bool operator==(const MenuItem&, const MenuItem&) = default;
    friend std::ostream& operator<<(std::ostream& os, const MenuItem& item);
};

// Everything the menu reads.
struct MenuInputs {
    PermissionState permissions;
    bool isPausedByUser = false;
    EngineStatus status;
    platform::LoginItemStatus loginItem = platform::LoginItemStatus::notRegistered;
    bool canCheckForUpdates = false;
    // False where Ravolet does not update itself: the check is then never
    // possible, and the menu says under it what does update it instead (the
    // package manager, for the copy its Debian package installed; building
    // it again, for one built from source). This build's own by default.
    bool updatesItself = true;
    bool fromPackage = BundleInfo::main().fromPackage;
};

// The menu from top to bottom: the state, the pause and login switches, the
// profile in use, then the actions. "Finish Setting Up Ravolet…" is there only
// while a grant is missing; text rows are never clickable.
std::vector<MenuItem> menuItems(const MenuInputs& inputs);

// The tray icon's tooltip: "Ravolet — " and the headline.
std::string trayToolTip(const MenuBarState& state);

} // namespace ravolet

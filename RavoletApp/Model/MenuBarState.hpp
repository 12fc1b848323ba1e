#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "RavoletApp/Model/ConfigStore.hpp"
#include "RavoletApp/Model/StorageNotices.hpp"
#include "RavoletEngine/Coordination/EngineStatus.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"

namespace ravolet {

// What the menu-bar item shows: the symbol of its icon, a one-line headline
// and an optional second line. Each is the first case that holds, in a fixed
// order: missing grants first, then the user's pause, then the engine (where
// a command a button ran that did not start is the second line).
struct MenuBarState {
    std::string symbol;
    std::string headline;
    std::optional<std::string> detail;

    // Reads the grants as the application last read them (not the engine's
    // copy), the pause preference and the engine's published status; a
    // simulated mouse is said on the second line while nothing else is.
    static MenuBarState of(const PermissionState& permissions, bool isPausedByUser, const EngineStatus& status,
                           bool mouseIsSimulated = false);

    friend bool operator==(const MenuBarState&, const MenuBarState&) = default;
    friend std::ostream& operator<<(std::ostream& os, const MenuBarState& state);
};

// "“date2 +%s” did not start: No program named “date2” is in the folders of
// your PATH."
std::string commandFailureSentence(const CommandFailure& failure);

// Whether the settings window shows a banner above its pages: an unusable
// settings file, a failed save or a preferences file set aside, a missing
// grant, or the user's pause.
bool needsBanner(const std::optional<ConfigStore::Problem>& problem, const PermissionState& permissions,
                 bool isPausedByUser, const StorageNotices& storage = {});

} // namespace ravolet

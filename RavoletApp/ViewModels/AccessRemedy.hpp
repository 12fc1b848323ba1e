#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravolet {

// What opens the mouse and the input device to the program, said the same way
// wherever a missing grant is shown: the set-up walk-through, the banners and
// the Device page. The grants come from our udev rules file, which tags the
// nodes for the user logged in at the machine.
namespace AccessRemedy {

inline constexpr std::string_view rulesFileName = "70-ravolet.rules";

// The two grants by the names the interface gives them.
inline constexpr std::string_view listeningGrant = "Mouse Access";
inline constexpr std::string_view postingGrant = "Virtual Input";

// How the mouse's nodes are opened: the rules file, scripts/run.sh, re-plugging.
std::string forTheMouse();
// How /dev/uinput is opened: the same file, applied at once by scripts/run.sh.
std::string forVirtualInput();

// "Still closed to Ravolet: /dev/hidraw3 and /dev/input/event7.", or nothing
// when no node is named.
std::optional<std::string> closedNodes(const std::vector<std::string>& nodes);

} // namespace AccessRemedy

} // namespace ravolet

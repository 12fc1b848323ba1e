#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace ravolet::platform {

// Where the files Ravolet installs beside itself (its KWin script, its GNOME
// Shell extension) are: $RAVOLET_DATA_DIR when set, else "share/ravolet"
// beside the folder of the program's executable. Installed, that is
// /usr/share/ravolet for /usr/bin/ravolet; in the build tree the build puts
// a copy of data/ at <build>/share/ravolet, beside <build>/RavoletApp. None
// when no candidate holds `relative`.
std::optional<std::filesystem::path> programDataFile(std::string_view relative);

} // namespace ravolet::platform

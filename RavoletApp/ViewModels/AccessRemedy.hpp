#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RavoletEngine/Coordination/PermissionState.hpp"

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

// Where this copy of Ravolet has its rules file.
struct RulesFile {
    std::filesystem::path path;
    // Run from a checkout (the program in its build folder): the file is the
    // checkout's, and scripts/run.sh installs it.
    bool fromCheckout = false;
    // Installed into a folder udev reads rules from.
    bool readByUdev = true;

    // For the program at `executable`: in the checkout's data/ when it lies
    // in the build folder `binaryDir` (of the checkout `sourceDir`), else
    // under the prefix it was installed in (`executable` sits in the prefix's
    // `bindir`), in `rulesDir` (relative to the prefix, or absolute).
    static RulesFile of(const std::filesystem::path& executable, const std::filesystem::path& sourceDir,
                        const std::filesystem::path& binaryDir, const std::filesystem::path& bindir,
                        const std::filesystem::path& rulesDir);
    // This running copy's.
    static RulesFile thisCopy();

    friend bool operator==(const RulesFile&, const RulesFile&) = default;
};

// What opens a grant: sentences, and the shell commands they speak of ("the
// command below"), which are shown apart from the sentences, each whole and
// to be copied as one line.
struct Remedy {
    std::string text;
    std::vector<std::string> commands;

    friend bool operator==(const Remedy&, const Remedy&) = default;
};

// How the mouse's nodes are opened: where the rules file is, the command that
// applies it to the nodes still closed (a re-plug does the same), and
// scripts/run.sh only when running from a checkout.
Remedy forTheMouse(const PermissionState& permissions, const RulesFile& rules = RulesFile::thisCopy());
// How /dev/uinput is opened, or, when it does not exist, how its kernel module
// is loaded.
Remedy forVirtualInput(const PermissionState& permissions, const RulesFile& rules = RulesFile::thisCopy());

// The grants missing, by name: "Mouse Access and Virtual Input", "Mouse
// Access", "Virtual Input", or "" when none is.
std::string missingGrants(const PermissionState& permissions);

// "Still closed to Ravolet: /dev/hidraw3 and /dev/input/event7.", or nothing
// when no node is named.
std::optional<std::string> closedNodes(const std::vector<std::string>& nodes);

// A command laid out in lines of at most `columns` characters where it can
// be: broken only at blanks, every line but the last ending in " \" and the
// ones after the first indented, so that even a selection of all the lines,
// pasted into a shell, is still the one command. A word longer than a line
// keeps a line of its own.
std::vector<std::string> commandLines(std::string_view command, std::size_t columns);

} // namespace AccessRemedy

} // namespace ravolet

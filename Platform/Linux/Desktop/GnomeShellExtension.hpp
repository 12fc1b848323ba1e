#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Workspace.hpp"

namespace ravolet::platform {

// Ravolet's GNOME Shell extension as files and settings: which of its two
// builds (data/gnome-shell: up-to-44, and 45-and-later as an ES module) fits
// a version of the shell, where a copy is installed, putting it in place and
// taking it away, and what keeps it from running, from what the shell says.
// Files and GNOME Shell's settings only: the shell's own answers on the bus
// are the source's to fetch.
class GnomeShellExtension {
public:
    static constexpr const char* uuid = "front-window@ravolet.ai";

    // The shell's ExtensionState numbers on its org.gnome.Shell.Extensions
    // interface (ENABLED and DISABLED up to 45 are ACTIVE and INACTIVE later).
    enum ShellState : int {
        active = 1,
        inactive = 2,
        error = 3,
        outOfDate = 4,
        downloading = 5,
        initialized = 6,
        deactivating = 7,
        activating = 8,
        uninstalled = 99,
    };

    // What is known of the extension while it is not on the bus.
    struct Facts {
        // The state the shell has for it; none when the shell has loaded no
        // extension of that name (it looks only at login).
        std::optional<int> shellState;
        bool userExtensionsEnabled = true;
        // Named in enabled-extensions and not in disabled-extensions.
        bool enabledInSettings = false;
        // A copy in the user's or the system's extension folders, and whether
        // its metadata names the running shell.
        bool installed = false;
        bool installedCopyFitsShell = false;
    };
    // What keeps the extension from telling, or following where the shell
    // is starting it.
    static FrontmostTracking::State state(const Facts& facts);

    // Whether a metadata "shell-version" list names the shell of this version
    // ("43.9", "3.38.4", "51.beta"): by major and minor before 40, by the
    // major from 40 on, as the shell matches them.
    static bool namesShell(const std::vector<std::string>& shellVersions, std::string_view shellVersion);
    // The "shell-version" list of a metadata.json text; none when it has none.
    static std::optional<std::vector<std::string>> shellVersions(std::string_view metadata);
    // The folder of the build for this version of the shell.
    static std::string_view buildFor(std::string_view shellVersion);

    // `builds`: the folder of data/gnome-shell; `userExtensions`: the user's
    // extensions folder ($XDG_DATA_HOME/gnome-shell/extensions);
    // `systemExtensions`: those of the system's data folders, in the shell's
    // order.
    GnomeShellExtension(std::filesystem::path builds, std::filesystem::path userExtensions,
                        std::vector<std::filesystem::path> systemExtensions);
    // With the system folders of XDG_DATA_DIRS.
    GnomeShellExtension(std::filesystem::path builds, std::filesystem::path userExtensions);

    // The facts from the files and the settings, with the shell's answers.
    Facts facts(std::optional<int> shellState, bool userExtensionsEnabled, std::string_view shellVersion) const;

    // Puts the build for this shell in the user's folder (unless a copy for
    // every user fits it) and switches it on in the shell's settings; what
    // went wrong, in words for the user, else none.
    std::optional<std::string> install(std::string_view shellVersion) const;
    // Switches it off in the shell's settings (the shell stops it at once)
    // and deletes the user's copy; what went wrong, else none.
    std::optional<std::string> remove() const;

private:
    // The copy the shell loads: the user's, else the first system one.
    std::optional<std::filesystem::path> installedCopy() const;

    const std::filesystem::path builds_;
    const std::filesystem::path userExtensions_;
    const std::vector<std::filesystem::path> systemExtensions_;
};

} // namespace ravolet::platform

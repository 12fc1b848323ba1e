#pragma once

#include <filesystem>
#include <memory>

#include "Platform/Linux/Desktop/FrontmostSource.hpp"

namespace ravolet::platform {

// The front window from GNOME Shell, which tells no other program: an
// extension of ours (data/gnome-shell, one build per generation: up to 44,
// and 45 or later as an ES module) exports the focused application's id
// (Shell.WindowTracker's focus_app) and the focused window's class on the
// session bus, with a signal on every change.
//
// When the shell does not know the extension yet, the source installs it into
// the user's extensions folder and enables it in GNOME Shell's settings; the
// shell loads it at the next login, and until then the source says it waits
// for that. An extension the user (or a setting that stops every user
// extension) has switched off is left off, and the source says so. When the
// shell goes away the source cannot tell any more.
class GnomeShellFrontmostSource final : public FrontmostSource {
public:
    static constexpr const char* uuid = "front-window@ravolet.ai";
    static constexpr const char* busName = "ai.ravolet.ShellFrontWindow";

    // `extensions`: the folder of data/gnome-shell (its up-to-44 and
    // 45-and-later builds); `userExtensions`: where the user's extensions live
    // ($XDG_DATA_HOME/gnome-shell/extensions).
    GnomeShellFrontmostSource(std::filesystem::path extensions, std::filesystem::path userExtensions);
    ~GnomeShellFrontmostSource() override;

    FrontmostTracking::Source kind() const override { return FrontmostTracking::Source::gnomeShell; }
    // False when there is no session bus or no GNOME Shell on it.
    bool start(std::function<void()> changed) override;
    void stop() override;
    Front front() const override;
    // The shell's running applications, asked for on each call.
    std::vector<WindowClues> windows() const override;

    struct State;

private:
    const std::filesystem::path extensions_;
    const std::filesystem::path userExtensions_;
    std::shared_ptr<State> state_;
};

} // namespace ravolet::platform

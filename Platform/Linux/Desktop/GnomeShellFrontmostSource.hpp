#pragma once

#include <filesystem>
#include <memory>

#include "Platform/Linux/Desktop/FrontmostSource.hpp"

namespace ravolet::platform {

// The front window from GNOME Shell, which tells no other program: an
// extension of ours (GnomeShellExtension) exports the focused application's
// id (Shell.WindowTracker's focus_app) and the focused window's class on the
// session bus, with a signal on every change of those or of the running
// applications.
//
// Nothing is installed or switched on unless the user asks (install());
// until then, and while the shell does not run the extension (switched off,
// made for another version of the shell, stopped by an error, every user
// extension off), the source says which, from the shell's own account of it
// (org.gnome.Shell.Extensions). When the shell goes away the source cannot
// tell any more.
//
// Every question to the shell is asked on the session's own thread and
// answered there, so a shell that is slow to answer holds up nobody who asks
// for the front or the running applications: they get what was last heard.
class GnomeShellFrontmostSource final : public FrontmostSource, public FrontmostExtension {
public:
    static constexpr const char* busName = "ai.ravolet.ShellFrontWindow";

    // `extensions`: the folder of data/gnome-shell (its up-to-44 and
    // 45-and-later builds); `userExtensions`: where the user's extensions live
    // ($XDG_DATA_HOME/gnome-shell/extensions).
    GnomeShellFrontmostSource(std::filesystem::path extensions, std::filesystem::path userExtensions);
    ~GnomeShellFrontmostSource() override;

    FrontmostTracking::Source kind() const override { return FrontmostTracking::Source::gnomeShell; }
    // False when there is no session bus or no GNOME Shell on it (which the
    // bus itself answers).
    bool start(std::function<void()> changed) override;
    void stop() override;
    Front front() const override;
    // The shell's running applications, as last reported.
    std::vector<WindowClues> windows() const override;
    FrontmostExtension* extension() override { return this; }

    // Both work on the session's thread; `done` follows on `executor`.
    void install(std::shared_ptr<Executor> executor, Completion done) override;
    void remove(std::shared_ptr<Executor> executor, Completion done) override;

    struct State;

private:
    const std::filesystem::path extensions_;
    const std::filesystem::path userExtensions_;
    std::shared_ptr<State> state_;
};

} // namespace ravolet::platform

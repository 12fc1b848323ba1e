#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Platform/Executor.hpp"
#include "Platform/FrontmostExtension.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// A running application as the workspace describes it. Not every application
// has a bundle identifier.
struct RunningApplication {
    std::optional<std::string> bundleID;
    std::string localizedName;
    // An ordinary application with windows of its own, not an agent or a
    // background process.
    bool isRegular = true;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// The payload of one application-activation notification, as it arrives. The
// host does not promise its shape: there may be no application entry at all,
// an entry of another kind, or a running application (which itself may lack a
// bundle identifier).
struct ApplicationActivation {
    // No user information, or none under the application key.
    struct NoApplication {
        friend bool operator==(const NoApplication&, const NoApplication&) = default;
    };
    // Something under the application key that is not a running application.
    struct OtherObject {
        std::string kind;
        friend bool operator==(const OtherObject&, const OtherObject&) = default;
    };

    std::variant<NoApplication, OtherObject, RunningApplication> payload;

    // The activated application's bundle identifier; absent when any piece is missing.
    std::optional<std::string> bundleID() const {
        const auto* application = std::get_if<RunningApplication>(&payload);
        return application ? application->bundleID : std::nullopt;
    }

    friend bool operator==(const ApplicationActivation&, const ApplicationActivation&) = default;
};

// How the workspace learns which application is in front, for the status
// and the Profiles page: where it learns it and whether it can tell.
struct FrontmostTracking {
    enum class Source {
        // A desktop that tests script: it always knows.
        simulated,
        // The X server (EWMH), also for the X clients of a Wayland session.
        x11,
        // A wlroots compositor's foreign-toplevel list (sway, labwc, river, ...).
        wlroots,
        // KWin, through a script of ours it runs.
        kwin,
        // GNOME Shell, through an extension of ours.
        gnomeShell,
        // Nothing on this desktop answers.
        none,
    };
    enum class State {
        // The source names the window in front.
        following,
        // Under Wayland, only the X clients are seen: with a Wayland window in
        // front nothing is known.
        x11ClientsOnly,
        // Nothing can tell which application is in front, now or later.
        cannotTell,
        // The GNOME Shell extension is installed and runs from the next login.
        waitingForLogin,
        // The GNOME Shell extension is switched off.
        switchedOff,
        // GNOME Shell tells only through Ravolet's extension, which is not
        // installed (or never was switched on): the user may install it.
        extensionNotInstalled,
        // GNOME Shell runs no extension of the user's at all.
        extensionsOff,
        // The installed extension was made for another version of GNOME
        // Shell, which therefore does not run it.
        extensionOutOfDate,
        // GNOME Shell stopped the extension with an error.
        extensionFailed,
    };

    Source source = Source::simulated;
    State state = State::following;
    // The class (or application id) of the window in front when no installed
    // application matches it, so that the user can still see what is there.
    std::optional<std::string> unmatchedWindowClass;

    friend bool operator==(const FrontmostTracking&, const FrontmostTracking&) = default;
};

std::string_view toString(FrontmostTracking::Source source);
std::string_view toString(FrontmostTracking::State state);

// The desktop's applications: which one is frontmost, when another becomes
// frontmost, where an application is installed, and opening one. Callable
// from any thread.
class Workspace {
public:
    using ActivationHandler = std::function<void(const ApplicationActivation&)>;

    virtual ~Workspace() = default;

    // The application that receives key events now, if any.
    virtual std::optional<RunningApplication> frontmostApplication() const = 0;

    // The applications running now, in the order the desktop lists them.
    virtual std::vector<RunningApplication> runningApplications() const = 0;

    // Calls `handler` on `executor` for every later activation, in order,
    // until the subscription is dropped (an activation being delivered at that
    // moment on another thread may still arrive).
    virtual Subscription subscribeToActivations(std::shared_ptr<Executor> executor, ActivationHandler handler) = 0;

    // Where the application with this bundle identifier is installed; absent
    // when none is.
    virtual std::optional<std::string> applicationLocation(const std::string& bundleID) const = 0;

    // Opens (launches, or brings forward) the application installed at
    // `location`, making it frontmost when `activates` is set. Returns at
    // once; the outcome is not reported.
    virtual void openApplication(const std::string& location, bool activates) = 0;

    // The name to show for the application (or file) at `location`.
    virtual std::string displayName(const std::string& location) const = 0;

    // Where the frontmost application comes from and whether it can be told.
    // An activation is delivered whenever this changes.
    virtual FrontmostTracking frontmostTracking() const = 0;

    // The piece of Ravolet this desktop needs before it tells which
    // application is in front, for the user to install or remove; none where
    // the desktop needs none. It lives as long as the workspace.
    virtual FrontmostExtension* frontmostExtension() { return nullptr; }
};

} // namespace ravolet::platform

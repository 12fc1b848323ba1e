#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace ravolet::platform {

// What the update machinery asks of the program while it works.
class UpdaterBackendDelegate {
public:
    virtual ~UpdaterBackendDelegate() = default;

    // Whether scheduled updates may be announced gently (without taking the
    // focus) rather than in a window of their own.
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    // The backend is about to show an update it found; `handleShowingUpdate`
    // tells whether it shows it itself.
    virtual void willHandleShowingUpdate(bool handleShowingUpdate) = 0;
    // The backend is about to show a modal alert.
    virtual void willShowModalAlert() = 0;
};

// The software-update machinery: checks a feed for new versions, on a
// schedule and when the user asks, in windows of its own. Nothing happens
// before startUpdater(). Main thread only; the delegate is called there.
class UpdaterBackend {
public:
    virtual ~UpdaterBackend() = default;

    // The delegate is held weakly.
    virtual void setDelegate(std::weak_ptr<UpdaterBackendDelegate> delegate) = 0;
    virtual void startUpdater() = 0;

    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
    // Whether a check asked for by the user may start now (false while one
    // is under way).
    virtual bool canCheckForUpdates() const = 0;
    // Starts a check asked for by the user.
    virtual void checkForUpdates() = 0;
    // Whether this build updates itself at all. One that does not never can
    // check, and must not be described as busy checking.
    virtual bool updatesItself() const { return true; }
    virtual std::optional<std::chrono::system_clock::time_point> lastUpdateCheckDate() const = 0;
    virtual std::optional<std::string> feedURL() const = 0;
};

} // namespace ravolet::platform

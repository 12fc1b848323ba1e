#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Platform/Linux/Desktop/FrontmostSource.hpp"
#include "Platform/Linux/Desktop/WindowIdentifier.hpp"
#include "Platform/Linux/DesktopEntryCatalogue.hpp"
#include "Platform/ProcessLauncher.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Workspace.hpp"

namespace ravolet::platform {

// The desktop's applications on Linux: the front window from a source (the
// X server or a Wayland compositor's), mapped to installed desktop entries;
// applications located, named and opened through their entries. The source
// starts with the first subscriber (the profile watcher of a running engine)
// and only listens: nothing on the desktop changes but what the user asks of
// its extension (frontmostExtension()). Its start may take seconds (KWin's is
// several calls on the session bus, each of which may wait for an answer), so
// it runs on the workspace's own queue, where every report of the source is
// looked at too; whoever asks meanwhile hears that the desktop is followed and
// nothing has been seen in front yet. Without a source, or once it fails, the
// workspace says it cannot tell and names no application in front. Callable
// from any thread.
class LinuxWorkspace final : public Workspace, public std::enable_shared_from_this<LinuxWorkspace> {
    struct Private {};

public:
    // `source` may be null: nothing on this desktop answers.
    static std::shared_ptr<LinuxWorkspace> make(std::unique_ptr<FrontmostSource> source,
                                                std::shared_ptr<const DesktopEntryCatalogue> catalogue,
                                                std::shared_ptr<ProcessLauncher> launcher);
    // The source for this session (SessionFrontmostSource), the desktop
    // entries of the XDG data folders and the process launcher.
    static std::shared_ptr<LinuxWorkspace> standard();
    LinuxWorkspace(Private, std::unique_ptr<FrontmostSource> source,
                   std::shared_ptr<const DesktopEntryCatalogue> catalogue, std::shared_ptr<ProcessLauncher> launcher);
    ~LinuxWorkspace() override;

    std::optional<RunningApplication> frontmostApplication() const override;
    // The distinct applications of the source's windows that have an entry.
    std::vector<RunningApplication> runningApplications() const override;
    Subscription subscribeToActivations(std::shared_ptr<Executor> executor, ActivationHandler handler) override;
    // The entry's file.
    std::optional<std::string> applicationLocation(const std::string& bundleID) const override;
    // Starts the entry's Exec (field codes removed) through the launcher,
    // never a shell; an entry that cannot start is left alone. Bringing a
    // running application forward is the application's own business.
    void openApplication(const std::string& location, bool activates) override;
    // The entry's Name, else the file's name without its extension.
    std::string displayName(const std::string& location) const override;
    FrontmostTracking frontmostTracking() const override;
    // The source's, once it answers (GNOME Shell's extension).
    FrontmostExtension* frontmostExtension() override;

    // Starts following the desktop, once, and returns at once; the first
    // subscriber and the first question about the front or the running
    // applications do it.
    void startFollowing() const;

private:
    struct Subscriber {
        std::shared_ptr<Executor> executor;
        ActivationHandler handler;
        std::atomic<bool> active{true};
    };
    struct Seen {
        FrontmostTracking tracking;
        std::optional<WindowApplication> application;
        friend bool operator==(const Seen&, const Seen&) = default;
    };

    Seen look() const;
    // On the queue: tells the subscribers when what is seen has changed.
    void sourceChanged();
    bool running() const { return startDone_.load(std::memory_order_acquire) && sourceRunning_; }

    const std::unique_ptr<FrontmostSource> source_;
    const std::shared_ptr<const DesktopEntryCatalogue> catalogue_;
    const std::shared_ptr<ProcessLauncher> launcher_;
    const WindowIdentifier identifier_;

    mutable std::mutex lock_;
    // Guards starting the source.
    mutable std::mutex startLock_;
    mutable bool started_ = false;
    // Where the source starts and its reports are looked at, one at a time
    // and in order; made by the start.
    mutable std::unique_ptr<SerialQueue> queue_;
    // The source's kind as it was before its start, told while it starts.
    mutable FrontmostTracking::Source startingKind_ = FrontmostTracking::Source::none;
    mutable std::atomic<bool> startDone_{false};
    mutable bool sourceRunning_ = false; // written before startDone_
    std::vector<std::shared_ptr<Subscriber>> subscribers_;
    Seen seen_;
};

} // namespace ravolet::platform

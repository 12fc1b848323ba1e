#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Workspace.hpp"

namespace ravolet::platform {

// A desktop that a test scripts: a catalogue of installed applications, the
// ones running, which one is frontmost, and a record of every call the
// program made. Activations reach each subscriber on its executor, in order.
// Every member may be called from any thread; the lock is never held while
// posting to an executor.
class SimulatedWorkspace final : public Workspace, public std::enable_shared_from_this<SimulatedWorkspace> {
public:
    struct InstalledApplication {
        std::string bundleID;
        std::string displayName;
        std::string location;
    };
    struct OpenRequest {
        std::string location;
        bool activates = false;
        friend bool operator==(const OpenRequest&, const OpenRequest&) = default;
    };

    static std::shared_ptr<SimulatedWorkspace> make() { return std::make_shared<SimulatedWorkspace>(); }

    // ---- The catalogue ----
    // Adds an application (or replaces the one with that bundle identifier).
    void install(InstalledApplication application);
    // Starts an application without making it frontmost.
    void launch(const RunningApplication& application);

    // ---- Scripting activations ----
    // Makes `application` frontmost (and running) and tells every subscriber.
    void activate(const RunningApplication& application);
    // Activates the installed application with this bundle identifier.
    void activate(const std::string& bundleID);
    // Delivers an activation exactly as given, frontmost unchanged.
    void deliver(const ApplicationActivation& activation);
    // Sets the frontmost application without telling anyone.
    void setFrontmost(std::optional<RunningApplication> application);
    // Changes how the front application is learnt, and tells every subscriber
    // (with the frontmost application, or none when tracking cannot tell).
    void setTracking(FrontmostTracking tracking);
    // What the desktop needs installed before it tells (none unless given).
    void setFrontmostExtension(std::shared_ptr<FrontmostExtension> extension);
    std::size_t subscriberCount() const;

    // ---- What the program did ----
    // Every openApplication call, oldest first.
    std::vector<OpenRequest> openRequests() const;
    // Every call of the program as text: "frontmostApplication()",
    // "applicationLocation(<id>)", "openApplication(<location>, activates)",
    // "displayName(<location>)".
    std::vector<std::string> calls() const;

    // Workspace
    std::optional<RunningApplication> frontmostApplication() const override;
    std::vector<RunningApplication> runningApplications() const override;
    Subscription subscribeToActivations(std::shared_ptr<Executor> executor, ActivationHandler handler) override;
    std::optional<std::string> applicationLocation(const std::string& bundleID) const override;
    // Records the request; an installed application starts running and, when
    // asked, is activated.
    void openApplication(const std::string& location, bool activates) override;
    // The catalogue's name, else the last part of the path without its extension.
    std::string displayName(const std::string& location) const override;
    FrontmostTracking frontmostTracking() const override;
    FrontmostExtension* frontmostExtension() override;

private:
    struct Subscriber {
        std::shared_ptr<Executor> executor;
        ActivationHandler handler;
        std::atomic<bool> active{true};
    };

    void record(std::string call) const;
    void markRunningLocked(const RunningApplication& application);
    const InstalledApplication* installedLocked(const std::string& bundleID) const;

    mutable std::mutex mutex_;
    std::vector<InstalledApplication> installed_;
    std::vector<RunningApplication> running_;
    std::optional<RunningApplication> frontmost_;
    FrontmostTracking tracking_;
    std::shared_ptr<FrontmostExtension> extension_;
    std::vector<std::shared_ptr<Subscriber>> subscribers_;
    std::vector<OpenRequest> opened_;
    mutable std::vector<std::string> calls_;
};

} // namespace ravolet::platform

#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Core/Config.hpp"
#include "Core/Profile.hpp"
#include "Core/ProfileIndex.hpp"
#include "Core/ProfileResolution.hpp"
#include "Core/RuleSetIndex.hpp"
#include "Platform/Executor.hpp"
#include "Platform/Subscription.hpp"
#include "Platform/Workspace.hpp"

namespace ravolet {

// Follows the frontmost application and tells its handler which profile is
// in force: each activation resolves the application's bundle identifier
// through the document's rules, and the handler hears of it when the profile
// differs from the one in force, or whenever the caller forces it. The rules
// and the profiles are filed once per document, so that a switch costs the
// same with ten thousand of each as with one.
//
// Safe to use from any thread: one lock guards the document, the profile in
// force, the frontmost identifier and the registration; the handler is always
// called after the lock is released, on the thread of the activation (the
// workspace's notifications arrive on the executor given at creation), so it
// may call back into the watcher. The registration holds the watcher weakly.
class ProfileWatcher final : public std::enable_shared_from_this<ProfileWatcher> {
    struct Private {};

public:
    // The profile now in force, the bundle identifier that led to it (absent
    // when none is known) and the rules' resolution of that identifier.
    using Handler = std::function<void(const Profile& profile, const std::optional<std::string>& bundleID,
                                       const ProfileResolution& resolution)>;

    // Registers nothing and calls nothing; the profile in force is the
    // document's profile for no application. `activated`, when given, is
    // called after every activation the workspace tells of, once it is noted
    // (the handler hears only of those that change the profile).
    static std::shared_ptr<ProfileWatcher> create(std::shared_ptr<platform::Workspace> workspace,
                                                  std::shared_ptr<platform::Executor> notificationExecutor,
                                                  Config config, Handler handler,
                                                  std::function<void()> activated = {});
    ProfileWatcher(Private, std::shared_ptr<platform::Workspace> workspace,
                   std::shared_ptr<platform::Executor> notificationExecutor, Config config, Handler handler,
                   std::function<void()> activated);
    ~ProfileWatcher();
    ProfileWatcher(const ProfileWatcher&) = delete;
    ProfileWatcher& operator=(const ProfileWatcher&) = delete;

    // Registers for activations, then activates (unforced) for the
    // application frontmost now. Calling it again replaces the registration.
    void start();
    // Ends the registration, if any. Later activations and updates still work.
    void stop();
    // Replaces the document and activates again, forced, for the last known
    // bundle identifier: the handler always hears of it.
    void update(Config config);
    void activate(const std::optional<std::string>& bundleID, bool force);

    // The bundle identifier of the last activation.
    std::optional<std::string> frontmostBundleID() const;
    Profile currentProfile() const;

private:
    const std::shared_ptr<platform::Workspace> workspace_;
    const std::shared_ptr<platform::Executor> notificationExecutor_;
    const Handler handler_;
    const std::function<void()> activated_;

    mutable std::mutex lock_;
    Config config_;
    // The document's rules and profiles, filed once per document for the
    // switches.
    RuleSetIndex rules_;
    ProfileIndex profiles_;
    Profile current_;
    std::optional<std::string> frontmostBundleID_;
    platform::Subscription registration_;
};

} // namespace ravolet

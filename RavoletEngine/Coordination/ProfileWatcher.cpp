#include "RavoletEngine/Coordination/ProfileWatcher.hpp"

#include <utility>

namespace ravolet {

std::shared_ptr<ProfileWatcher> ProfileWatcher::create(std::shared_ptr<platform::Workspace> workspace,
                                                       std::shared_ptr<platform::Executor> notificationExecutor,
                                                       Config config, Handler handler,
                                                       std::function<void()> activated) {
    return std::make_shared<ProfileWatcher>(Private{}, std::move(workspace), std::move(notificationExecutor),
                                            std::move(config), std::move(handler), std::move(activated));
}

ProfileWatcher::ProfileWatcher(Private, std::shared_ptr<platform::Workspace> workspace,
                               std::shared_ptr<platform::Executor> notificationExecutor, Config config, Handler handler,
                               std::function<void()> activated)
    : workspace_(std::move(workspace)),
      notificationExecutor_(std::move(notificationExecutor)),
      handler_(std::move(handler)),
      activated_(std::move(activated)),
      config_(std::move(config)),
      rules_(config_.ruleSet),
      profiles_(config_.profiles),
      current_(config_.activeProfile(rules_.resolve(std::nullopt))) {}

// The registration member ends itself; nothing else is left to undo.
ProfileWatcher::~ProfileWatcher() = default;

void ProfileWatcher::start() {
    platform::Subscription registration = workspace_->subscribeToActivations(
        notificationExecutor_, [weak = weak_from_this()](const platform::ApplicationActivation& activation) {
            const auto self = weak.lock();
            if (!self) return;
            self->activate(activation.bundleID(), false);
            if (self->activated_) self->activated_();
        });
    {
        std::lock_guard guard(lock_);
        std::swap(registration_, registration);
    }
    // An earlier registration ends here, outside the lock.
    registration.cancel();

    std::optional<platform::RunningApplication> frontmost = workspace_->frontmostApplication();
    activate(frontmost ? frontmost->bundleID : std::nullopt, false);
}

void ProfileWatcher::stop() {
    platform::Subscription registration;
    {
        std::lock_guard guard(lock_);
        std::swap(registration_, registration);
    }
    registration.cancel();
}

void ProfileWatcher::update(Config config) {
    // Filed before the lock is taken, and the old document let go after it
    // is released: a long rule list takes a while either way.
    RuleSetIndex rules(config.ruleSet);
    ProfileIndex profiles(config.profiles);
    std::optional<std::string> bundleID;
    {
        std::lock_guard guard(lock_);
        std::swap(config_, config);
        std::swap(rules_, rules);
        std::swap(profiles_, profiles);
        bundleID = frontmostBundleID_;
    }
    activate(bundleID, true);
}

void ProfileWatcher::activate(const std::optional<std::string>& bundleID, bool force) {
    std::optional<Profile> changed;
    ProfileResolution resolution;
    {
        std::lock_guard guard(lock_);
        frontmostBundleID_ = bundleID;
        resolution = rules_.resolve(bundleID);
        const Profile* chosen = config_.activeProfile(resolution, profiles_);
        std::optional<Profile> standard;
        if (!chosen) chosen = &standard.emplace(Profile::defaultProfile());
        if (!force && *chosen == current_) return;
        current_ = *chosen;
        changed = *chosen;
    }
    if (handler_) handler_(*changed, bundleID, resolution);
}

std::optional<std::string> ProfileWatcher::frontmostBundleID() const {
    std::lock_guard guard(lock_);
    return frontmostBundleID_;
}

Profile ProfileWatcher::currentProfile() const {
    std::lock_guard guard(lock_);
    return current_;
}

} // namespace ravolet

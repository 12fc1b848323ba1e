#include "Platform/Simulated/SimulatedWorkspace.hpp"

#include <algorithm>

namespace ravolet::platform {

void SimulatedWorkspace::install(InstalledApplication application) {
    std::lock_guard lock(mutex_);
    auto same = std::ranges::find(installed_, application.bundleID, &InstalledApplication::bundleID);
    if (same != installed_.end()) {
        *same = std::move(application);
    } else {
        installed_.push_back(std::move(application));
    }
}

std::vector<RunningApplication> SimulatedWorkspace::runningApplications() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void SimulatedWorkspace::launch(const RunningApplication& application) {
    std::lock_guard lock(mutex_);
    markRunningLocked(application);
}

void SimulatedWorkspace::activate(const RunningApplication& application) {
    {
        std::lock_guard lock(mutex_);
        markRunningLocked(application);
        frontmost_ = application;
    }
    deliver(ApplicationActivation{application});
}

void SimulatedWorkspace::activate(const std::string& bundleID) {
    RunningApplication application{bundleID, bundleID};
    {
        std::lock_guard lock(mutex_);
        if (const InstalledApplication* installed = installedLocked(bundleID)) application.localizedName = installed->displayName;
    }
    activate(application);
}

void SimulatedWorkspace::deliver(const ApplicationActivation& activation) {
    std::vector<std::shared_ptr<Subscriber>> subscribers;
    {
        std::lock_guard lock(mutex_);
        subscribers = subscribers_;
    }
    for (const auto& subscriber : subscribers) {
        subscriber->executor->post([subscriber, activation] {
            if (subscriber->active.load(std::memory_order_acquire)) subscriber->handler(activation);
        });
    }
}

void SimulatedWorkspace::setFrontmost(std::optional<RunningApplication> application) {
    std::lock_guard lock(mutex_);
    if (application) markRunningLocked(*application);
    frontmost_ = std::move(application);
}

void SimulatedWorkspace::setTracking(FrontmostTracking tracking) {
    ApplicationActivation activation;
    {
        std::lock_guard lock(mutex_);
        tracking_ = std::move(tracking);
        if (tracking_.state == FrontmostTracking::State::cannotTell) frontmost_.reset();
        if (frontmost_) activation.payload = *frontmost_;
    }
    deliver(activation);
}

FrontmostTracking SimulatedWorkspace::frontmostTracking() const {
    std::lock_guard lock(mutex_);
    return tracking_;
}

void SimulatedWorkspace::setFrontmostExtension(std::shared_ptr<FrontmostExtension> extension) {
    std::lock_guard lock(mutex_);
    extension_ = std::move(extension);
}

FrontmostExtension* SimulatedWorkspace::frontmostExtension() {
    std::lock_guard lock(mutex_);
    return extension_.get();
}

std::size_t SimulatedWorkspace::subscriberCount() const {
    std::lock_guard lock(mutex_);
    return subscribers_.size();
}

std::vector<SimulatedWorkspace::OpenRequest> SimulatedWorkspace::openRequests() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

std::vector<std::string> SimulatedWorkspace::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::optional<RunningApplication> SimulatedWorkspace::frontmostApplication() const {
    record("frontmostApplication()");
    std::lock_guard lock(mutex_);
    return frontmost_;
}

Subscription SimulatedWorkspace::subscribeToActivations(std::shared_ptr<Executor> executor, ActivationHandler handler) {
    auto subscriber = std::make_shared<Subscriber>();
    subscriber->executor = std::move(executor);
    subscriber->handler = std::move(handler);
    {
        std::lock_guard lock(mutex_);
        subscribers_.push_back(subscriber);
    }
    return Subscription([weak = weak_from_this(), subscriber] {
        subscriber->active.store(false, std::memory_order_release);
        if (auto self = weak.lock()) {
            std::lock_guard lock(self->mutex_);
            std::erase(self->subscribers_, subscriber);
        }
    });
}

std::optional<std::string> SimulatedWorkspace::applicationLocation(const std::string& bundleID) const {
    record("applicationLocation(" + bundleID + ")");
    std::lock_guard lock(mutex_);
    const InstalledApplication* installed = installedLocked(bundleID);
    return installed ? std::optional(installed->location) : std::nullopt;
}

void SimulatedWorkspace::openApplication(const std::string& location, bool activates) {
    record("openApplication(" + location + (activates ? ", activates)" : ")"));
    std::optional<RunningApplication> started;
    {
        std::lock_guard lock(mutex_);
        opened_.push_back({location, activates});
        auto installed = std::ranges::find(installed_, location, &InstalledApplication::location);
        if (installed == installed_.end()) return;
        started = RunningApplication{installed->bundleID, installed->displayName};
        markRunningLocked(*started);
    }
    if (activates) activate(*started);
}

std::string SimulatedWorkspace::displayName(const std::string& location) const {
    record("displayName(" + location + ")");
    {
        std::lock_guard lock(mutex_);
        auto installed = std::ranges::find(installed_, location, &InstalledApplication::location);
        if (installed != installed_.end()) return installed->displayName;
    }
    std::string name = location.substr(location.find_last_of('/') + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

void SimulatedWorkspace::record(std::string call) const {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

void SimulatedWorkspace::markRunningLocked(const RunningApplication& application) {
    if (std::ranges::find(running_, application) == running_.end()) running_.push_back(application);
}

const SimulatedWorkspace::InstalledApplication* SimulatedWorkspace::installedLocked(const std::string& bundleID) const {
    auto installed = std::ranges::find(installed_, bundleID, &InstalledApplication::bundleID);
    return installed == installed_.end() ? nullptr : &*installed;
}

} // namespace ravolet::platform

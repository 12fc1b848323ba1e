#include "Platform/Linux/Desktop/LinuxWorkspace.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "Platform/Linux/Desktop/DesktopExec.hpp"
#include "Platform/Linux/Desktop/SessionFrontmostSource.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"

namespace ravolet::platform {

std::shared_ptr<LinuxWorkspace> LinuxWorkspace::make(std::unique_ptr<FrontmostSource> source,
                                                     std::shared_ptr<const DesktopEntryCatalogue> catalogue,
                                                     std::shared_ptr<ProcessLauncher> launcher) {
    return std::make_shared<LinuxWorkspace>(Private{}, std::move(source), std::move(catalogue), std::move(launcher));
}

std::shared_ptr<LinuxWorkspace> LinuxWorkspace::standard() {
    return make(SessionFrontmostSource::forThisSession(), DesktopEntryCatalogue::standard(LinuxFileSystem::shared()),
                std::make_shared<LinuxProcessLauncher>());
}

LinuxWorkspace::LinuxWorkspace(Private, std::unique_ptr<FrontmostSource> source,
                               std::shared_ptr<const DesktopEntryCatalogue> catalogue,
                               std::shared_ptr<ProcessLauncher> launcher)
    : source_(std::move(source)),
      catalogue_(std::move(catalogue)),
      launcher_(std::move(launcher)),
      identifier_(catalogue_) {}

LinuxWorkspace::~LinuxWorkspace() {
    if (!queue_) return;
    // A start under way ends first; once the source has stopped it reports
    // nothing more, and what it reported before is dropped with the queue.
    queue_->sync([] {});
    source_->stop();
    queue_.reset();
}

void LinuxWorkspace::startFollowing() const {
    std::lock_guard guard(startLock_);
    if (started_ || !source_) return;
    started_ = true;
    startingKind_ = source_->kind();
    // The source calls back on its own thread; the workspace outlives it
    // (the destructor stops it first).
    auto* self = const_cast<LinuxWorkspace*>(this);
    {
        std::lock_guard seenGuard(lock_);
        self->seen_ = look();
    }
    queue_ = std::make_unique<SerialQueue>("ai.ravolet.workspace", QueuePriority::utility);
    queue_->async([self] {
        self->sourceRunning_ = self->source_->start([self] { self->queue_->async([self] { self->sourceChanged(); }); });
        self->startDone_.store(true, std::memory_order_release);
        self->sourceChanged();
    });
}

LinuxWorkspace::Seen LinuxWorkspace::look() const {
    Seen seen;
    if (!source_ || !startDone_.load(std::memory_order_acquire)) {
        seen.tracking = {source_ ? startingKind_ : FrontmostTracking::Source::none,
                         source_ ? FrontmostTracking::State::following : FrontmostTracking::State::cannotTell,
                         std::nullopt};
        return seen;
    }
    if (!sourceRunning_) {
        seen.tracking = {source_->kind(), FrontmostTracking::State::cannotTell, std::nullopt};
        return seen;
    }
    const FrontmostSource::Front front = source_->front();
    seen.tracking.source = source_->kind();
    seen.tracking.state = front.state;
    if (front.window) {
        seen.application = identifier_.identify(*front.window);
        if (!seen.application->bundleID && !seen.application->name.empty())
            seen.tracking.unmatchedWindowClass = seen.application->name;
    }
    return seen;
}

void LinuxWorkspace::sourceChanged() {
    Seen now = look();
    std::vector<std::shared_ptr<Subscriber>> subscribers;
    {
        std::lock_guard guard(lock_);
        if (now == seen_) return;
        seen_ = now;
        subscribers = subscribers_;
    }
    ApplicationActivation activation;
    if (now.application) activation.payload = RunningApplication{now.application->bundleID, now.application->name};
    for (const auto& subscriber : subscribers) {
        subscriber->executor->post([subscriber, activation] {
            if (subscriber->active.load(std::memory_order_acquire)) subscriber->handler(activation);
        });
    }
}

std::optional<RunningApplication> LinuxWorkspace::frontmostApplication() const {
    startFollowing();
    const Seen seen = look();
    if (!seen.application) return std::nullopt;
    return RunningApplication{seen.application->bundleID, seen.application->name};
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() const {
    startFollowing();
    if (!running()) return {};
    std::vector<RunningApplication> running;
    for (WindowApplication& application : identifier_.identify(source_->windows())) {
        if (!application.bundleID) continue;
        if (std::ranges::find(running, application.bundleID, &RunningApplication::bundleID) != running.end()) continue;
        running.push_back({std::move(application.bundleID), std::move(application.name)});
    }
    return running;
}

Subscription LinuxWorkspace::subscribeToActivations(std::shared_ptr<Executor> executor, ActivationHandler handler) {
    auto subscriber = std::make_shared<Subscriber>();
    subscriber->executor = std::move(executor);
    subscriber->handler = std::move(handler);
    {
        std::lock_guard guard(lock_);
        subscribers_.push_back(subscriber);
    }
    startFollowing();
    return Subscription([weak = weak_from_this(), subscriber] {
        subscriber->active.store(false, std::memory_order_release);
        if (auto self = weak.lock()) {
            std::lock_guard guard(self->lock_);
            std::erase(self->subscribers_, subscriber);
        }
    });
}

std::optional<std::string> LinuxWorkspace::applicationLocation(const std::string& bundleID) const {
    const auto application = catalogue_->application(bundleID);
    if (!application) return std::nullopt;
    return application->location.string();
}

void LinuxWorkspace::openApplication(const std::string& location, bool /*activates*/) {
    const auto text = catalogue_->files().readFile(location);
    if (!text) return;
    const auto entry = DesktopEntryCatalogue::parse(*text, {}, location);
    if (!entry) return;
    auto arguments = execArguments(entry->exec);
    if (!arguments) return;
    const char* path = std::getenv("PATH");
    const auto program = findProgram(arguments->front(), path ? path : "/usr/local/bin:/usr/bin:/bin");
    if (!program) return;
    arguments->erase(arguments->begin());
    launcher_->launchDetached(*program, *arguments);
}

std::string LinuxWorkspace::displayName(const std::string& location) const {
    if (const auto text = catalogue_->files().readFile(location)) {
        if (const auto entry = DesktopEntryCatalogue::parse(*text, {}, location)) return entry->name;
    }
    return std::filesystem::path(location).stem().string();
}

FrontmostTracking LinuxWorkspace::frontmostTracking() const {
    startFollowing();
    // The engine asks on every refresh: what the last report showed will do.
    if (running()) {
        std::lock_guard guard(lock_);
        return seen_.tracking;
    }
    return look().tracking;
}

FrontmostExtension* LinuxWorkspace::frontmostExtension() {
    startFollowing();
    return running() ? source_->extension() : nullptr;
}

} // namespace ravolet::platform

#include "RavoletEngine/EventPath/EventTapController.hpp"

#include <condition_variable>
#include <optional>
#include <utility>

#include "Platform/MonotonicClock.hpp"

namespace ravolet {

using platform::Event;
using platform::EventType;
using platform::MonotonicClock;

namespace {

// Waits for a tap thread to end; on that very thread (which cannot wait for
// itself) lets it end on its own.
void finish(std::optional<platform::Thread>& thread) {
    if (!thread || !thread->joinable()) return;
    if (thread->isCurrent())
        thread->detach();
    else
        thread->join();
}
} // namespace

struct EventTapController::Session {
    bool stopRequested = false; // guarded by the controller's lock
};

// start() waits here until the thread has its tap running or has failed.
struct EventTapController::Handshake {
    std::mutex lock;
    std::condition_variable signalled;
    bool done = false;
    std::optional<StartError> failure;

    void signal(std::optional<StartError> error = std::nullopt) {
        std::lock_guard guard(lock);
        failure = error;
        done = true;
        signalled.notify_all();
    }
    // The thread's answer; tapCreationFailed when none came within the limit.
    std::optional<StartError> wait(std::chrono::milliseconds limit) {
        std::unique_lock guard(lock);
        if (!signalled.wait_for(guard, limit, [&] { return done; })) return StartError::tapCreationFailed;
        return failure;
    }
};

std::string_view EventTapController::description(StartError error) {
    switch (error) {
    case StartError::tapCreationFailed:
        return "the event tap could not be created \u2014 Virtual Input (and Mouse Access) must be granted";
    case StartError::alreadyRunning:
        return "the tap is already running";
    }
    return {};
}

std::ostream& operator<<(std::ostream& os, EventTapController::StartError error) {
    return os << EventTapController::description(error);
}

EventTapController::EventTapController(Passkey, std::shared_ptr<platform::EventSystem> system, Configuration configuration,
                                       DisabledHandler onDisabled, Handler handler)
    : system_(std::move(system)), configuration_(configuration), handler_(std::move(handler)),
      onDisabled_(std::move(onDisabled)), budgetNanos_(configuration.budgetMillis * 1e6) {}

std::shared_ptr<EventTapController> EventTapController::create(std::shared_ptr<platform::EventSystem> system,
                                                               Configuration configuration, DisabledHandler onDisabled,
                                                               Handler handler) {
    return std::make_shared<EventTapController>(Passkey{}, std::move(system), configuration, std::move(onDisabled),
                                                std::move(handler));
}

EventTapController::~EventTapController() {
    // A running thread holds the controller, so this runs only once the loop
    // has ended; the thread object is joined (or, on that thread, detached).
    std::optional<platform::Thread> thread;
    {
        std::lock_guard guard(lock_);
        thread.swap(thread_);
    }
    finish(thread);
}

std::expected<void, EventTapController::StartError> EventTapController::start(std::chrono::milliseconds limit) {
    auto session = std::make_shared<Session>();
    {
        std::lock_guard guard(lock_);
        if (running_) return std::unexpected(StartError::alreadyRunning);
        running_ = true;
        session_ = session;
    }
    auto handshake = std::make_shared<Handshake>();
    platform::Thread thread(
        platform::Thread::Options{std::string(tapThreadName), platform::ThreadPriority::userInteractive, 0},
        [weakSelf = weak_from_this(), handshake, session]() mutable {
            threadBody(std::move(weakSelf), std::move(handshake), std::move(session));
        });
    if (!thread.started()) {
        std::lock_guard guard(lock_);
        running_ = false;
        return std::unexpected(StartError::tapCreationFailed);
    }
    std::optional<platform::Thread> previous;
    {
        std::lock_guard guard(lock_);
        previous.swap(thread_);
        thread_.emplace(std::move(thread));
    }
    // A thread left from a stop() made on the tap thread itself ends on its own.
    if (previous && previous->joinable()) previous->detach();

    if (const auto failure = handshake->wait(limit)) {
        // Whatever made the thread give up, or keeps it from answering, a
        // failed start leaves the controller stopped (unless a newer start has
        // taken over): what a late thread installed is undone, and a thread
        // still making its tap ends on its own.
        if (auto late = endSession(&session); late && late->joinable()) late->detach();
        return std::unexpected(*failure);
    }
    return {};
}

void EventTapController::threadBody(std::weak_ptr<EventTapController> weakSelf, std::shared_ptr<Handshake> handshake,
                                    std::shared_ptr<Session> session) {
    // The thread holds the controller while its loop runs, so that every
    // callback (which finds the controller through its raw user data) has it.
    auto self = weakSelf.lock();
    if (!self) {
        handshake->signal(StartError::tapCreationFailed);
        return;
    }
    const auto& config = self->configuration_;
    auto tap = self->system_->createTap(config.location, config.placement, config.options, config.eventsOfInterest,
                                        &EventTapController::callback, self.get());
    if (!tap) {
        {
            std::lock_guard guard(self->lock_);
            if (self->session_ == session) self->running_ = false;
        }
        handshake->signal(StartError::tapCreationFailed);
        return;
    }
    auto loop = platform::RunLoop::current();
    self->system_->addTapToRunLoop(*tap, loop);
    self->system_->enableTap(*tap, true);
    bool abandoned = false;
    {
        // A start that gave up waiting, or a stop, came while the tap was
        // being made: nothing of this thread stays installed.
        std::lock_guard guard(self->lock_);
        abandoned = session->stopRequested;
        if (!abandoned) {
            self->machPort_ = tap;
            self->runLoopSource_ = true;
            self->runLoop_ = loop;
        }
    }
    if (abandoned) {
        self->system_->removeTapFromRunLoop(*tap);
        handshake->signal(StartError::tapCreationFailed);
        return;
    }
    handshake->signal();
    handshake.reset();
    // Where the process may not raise the thread's urgency itself, the
    // desktop may: asked once the start has been answered, so that it never
    // holds the start up.
    const platform::ThreadNice nice = platform::raiseCurrentThreadPriority();
    {
        std::lock_guard guard(self->lock_);
        self->threadNice_ = nice;
    }

    // The loop sleeps until an event, a block or the stop comes: stop()
    // marks the session and then stops the loop (this session's loop is
    // stored above, under the same lock that marks it), and a stop that comes
    // before the run makes it return at once. So nothing needs to wake the
    // thread to look at the session.
    for (;;) {
        {
            std::lock_guard guard(self->lock_);
            if (session->stopRequested) break;
        }
        loop->run();
    }
    // stop() asks the loop to take the source off; if the loop ended before
    // that block ran, do it here, on the loop's own thread.
    self->system_->removeTapFromRunLoop(*tap);
}

void EventTapController::stop() {
    std::optional<platform::Thread> thread = endSession(nullptr);
    finish(thread);
}

std::optional<platform::Thread> EventTapController::endSession(const std::shared_ptr<Session>* session) {
    std::shared_ptr<platform::EventTap> port;
    std::shared_ptr<platform::RunLoop> loop;
    bool hadSource = false;
    std::optional<platform::Thread> thread;
    {
        std::lock_guard guard(lock_);
        if (session) {
            (*session)->stopRequested = true;
            if (session_ != *session) return std::nullopt;
        }
        running_ = false;
        if (session_) session_->stopRequested = true;
        session_.reset();
        port = std::exchange(machPort_, nullptr);
        hadSource = std::exchange(runLoopSource_, false);
        loop = std::exchange(runLoop_, nullptr);
        thread.swap(thread_);
    }
    if (port) system_->enableTap(*port, false);
    if (loop && hadSource && port) {
        loop->perform([system = system_, weakPort = std::weak_ptr<platform::EventTap>(port)] {
            if (auto p = weakPort.lock()) system->removeTapFromRunLoop(*p);
        });
        // Ends the run the tap thread sleeps in.
        loop->stop();
    }
    return thread;
}

bool EventTapController::isRunning() const {
    std::lock_guard guard(lock_);
    return running_;
}

bool EventTapController::isTapEnabled() const {
    std::shared_ptr<platform::EventTap> port;
    {
        std::lock_guard guard(lock_);
        port = machPort_;
    }
    return port && system_->isTapEnabled(*port);
}

void EventTapController::perform(platform::Task block) {
    std::shared_ptr<platform::RunLoop> loop;
    {
        std::lock_guard guard(lock_);
        loop = runLoop_;
    }
    if (!loop) return;
    loop->perform(std::move(block));
    loop->wakeUp();
}

bool EventTapController::isOnTapThread() { return platform::currentThreadName() == tapThreadName; }

TapMetrics EventTapController::snapshotMetrics() const {
    std::lock_guard guard(lock_);
    TapMetrics metrics = metrics_;
    metrics.threadNice = threadNice_;
    return metrics;
}

void EventTapController::resetMetrics() {
    std::lock_guard guard(lock_);
    metrics_ = TapMetrics{};
}

Event* EventTapController::callback(platform::EventTapProxy, EventType type, Event* event, void* userInfo) {
    if (!userInfo) return event;
    return static_cast<EventTapController*>(userInfo)->handle(type, event);
}

Event* EventTapController::handle(EventType type, Event* event) {
    if (type == platform::EventTypes::tapDisabledByTimeout || type == platform::EventTypes::tapDisabledByUserInput) {
        const bool byTimeout = type == platform::EventTypes::tapDisabledByTimeout;
        std::shared_ptr<platform::EventTap> port;
        {
            std::lock_guard guard(lock_);
            if (byTimeout)
                ++metrics_.disabledByTimeout;
            else
                ++metrics_.disabledByUserInput;
            ++metrics_.reEnables;
            port = machPort_;
        }
        if (port) system_->enableTap(*port, true);
        if (onDisabled_) onDisabled_(byTimeout ? TapDisableReason::timeout : TapDisableReason::userInput);
        return event;
    }

    const auto before = MonotonicClock::ticks();
    const TapVerdict verdict = handler_(type, *event);
    const auto after = MonotonicClock::ticks();
    const double elapsed = MonotonicClock::nanoseconds(after - before);
    {
        std::lock_guard guard(lock_);
        ++metrics_.events;
        metrics_.totalCallbackNanos += elapsed;
        if (elapsed > metrics_.maxCallbackNanos) metrics_.maxCallbackNanos = elapsed;
        if (elapsed > budgetNanos_) {
            ++metrics_.budgetOverruns;
            if (elapsed > metrics_.worstOverrunNanos) metrics_.worstOverrunNanos = elapsed;
        }
    }
    return verdict == TapVerdict::suppress ? nullptr : event;
}

} // namespace ravolet

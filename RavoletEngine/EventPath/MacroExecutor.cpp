#include "RavoletEngine/EventPath/MacroExecutor.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <type_traits>
#include <utility>

#include "Support/ValueSupport.hpp"
#include "RavoletEngine/EventPath/PipelineQueue.hpp"

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const MacroExecutor::Metrics& m) {
    return os << "MacroExecutor.Metrics(executed " << m.intentsExecuted << ", keys " << m.keysPosted << ", buttons "
              << m.mouseButtonsPosted << ", repeatsStarted " << m.repeatsStarted << ", repeatsStopped "
              << m.repeatsStopped << ", repeatIterations " << m.repeatIterations << ", dpiRequests " << m.dpiRequests
              << ", resets " << m.resets << ", abandoned " << m.intentsAbandoned << ", keysForceReleased "
              << m.keysForceReleased << ", buttonsForceReleased " << m.mouseButtonsForceReleased << ')';
}

std::shared_ptr<MacroExecutor> MacroExecutor::create(std::shared_ptr<EventPosting> poster,
                                                     std::shared_ptr<MacroSideEffects> sideEffects,
                                                     std::shared_ptr<platform::Scheduler> queue) {
    if (!queue) queue = makePipelineQueue(queueLabel);
    return std::make_shared<MacroExecutor>(Passkey{}, std::move(poster), std::move(sideEffects), std::move(queue));
}

MacroExecutor::MacroExecutor(Passkey, std::shared_ptr<EventPosting> poster, std::shared_ptr<MacroSideEffects> sideEffects,
                             std::shared_ptr<platform::Scheduler> queue)
    : poster_(std::move(poster)), sideEffects_(std::move(sideEffects)), queue_(std::move(queue)) {}

MacroExecutor::~MacroExecutor() {
    // Timers run on the queue; stop them before the queue can go.
    std::map<std::int64_t, std::shared_ptr<platform::DispatchTimer>> timers;
    {
        std::lock_guard guard(lock_);
        timers.swap(repeatTimers_);
    }
    for (auto& [id, timer] : timers) timer->cancel();
}

namespace {
// Whether the intent only posts a key or a mouse button: quick, and free of
// side effects that could block (a launch, a DPI request) or of timing.
bool onlyPosts(const ButtonIntent& intent) {
    return std::holds_alternative<ButtonIntent::KeyDown>(intent.value) ||
           std::holds_alternative<ButtonIntent::KeyUp>(intent.value) ||
           std::holds_alternative<ButtonIntent::MouseButtonDown>(intent.value) ||
           std::holds_alternative<ButtonIntent::MouseButtonUp>(intent.value) ||
           std::holds_alternative<ButtonIntent::PassThroughButton>(intent.value);
}
} // namespace

void MacroExecutor::execute(const std::vector<ButtonIntent>& intents) {
    if (intents.empty()) return;
    std::uint64_t epoch = 0;
    {
        std::lock_guard guard(lock_);
        epoch = epoch_;
    }
    // A key stroke or a button, with nothing of the queue's before it, goes
    // out from the caller (the event tap's thread) as a block of the queue
    // would: no thread hand-off, no allocation. Anything else, and any list
    // that finds the queue busy, is queued behind what is there.
    if (std::ranges::all_of(intents, onlyPosts) &&
        queue_->runHereIfIdle([&] {
            for (const auto& intent : intents) perform(intent, epoch);
        }))
        return;
    enqueueRun(std::make_shared<const std::vector<ButtonIntent>>(intents), epoch);
}

void MacroExecutor::enqueueRun(IntentList intents, std::uint64_t epoch) {
    queue_->post([weak = weak_from_this(), intents = std::move(intents), epoch] {
        if (auto self = weak.lock()) self->run(intents, 0, epoch);
    });
}

void MacroExecutor::run(const IntentList& intents, std::size_t from, std::uint64_t epoch) {
    const auto& list = *intents;
    for (std::size_t i = from; i < list.size(); ++i) {
        {
            std::lock_guard guard(lock_);
            if (epoch_ != epoch) {
                metrics_.intentsAbandoned += static_cast<std::int64_t>(list.size() - i);
                return;
            }
        }
        if (const auto* delay = std::get_if<ButtonIntent::Delay>(&list[i].value)) {
            // A trailing delay has nothing to hold back.
            if (i + 1 == list.size()) return;
            queue_->postAfter(nanosFromMillis(delay->millis), [weak = weak_from_this(), intents, next = i + 1, epoch] {
                if (auto self = weak.lock()) self->run(intents, next, epoch);
            });
            return;
        }
        perform(list[i], epoch);
    }
}

bool MacroExecutor::admitLocked(std::uint64_t epoch) {
    if (epoch_ != epoch) {
        metrics_.intentsAbandoned += 1;
        return false;
    }
    metrics_.intentsExecuted += 1;
    return true;
}

void MacroExecutor::perform(const ButtonIntent& intent, std::uint64_t epoch) {
    std::visit(
        Overloaded{
            // Mouse buttons are admitted (and counted once) where they are posted.
            [&](const ButtonIntent::PassThroughButton& b) { postMouseButton(b.number, b.isDown, epoch); },
            [&](const ButtonIntent::MouseButtonDown& b) { postMouseButton(b.number, true, epoch); },
            [&](const ButtonIntent::MouseButtonUp& b) { postMouseButton(b.number, false, epoch); },
            [&](const ButtonIntent::KeyDown& k) {
                {
                    std::lock_guard guard(lock_);
                    if (!admitLocked(epoch)) return;
                    metrics_.keysPosted += 1;
                    std::erase_if(heldKeys_, [&](const HeldKey& h) { return h.code == k.code; });
                    heldKeys_.push_back(HeldKey{k.code, k.modifiers});
                }
                poster_->postKey(k.code, true, k.modifiers);
            },
            [&](const ButtonIntent::KeyUp& k) {
                {
                    std::lock_guard guard(lock_);
                    if (!admitLocked(epoch)) return;
                    metrics_.keysPosted += 1;
                    std::erase_if(heldKeys_, [&](const HeldKey& h) { return h.code == k.code; });
                }
                poster_->postKey(k.code, false, k.modifiers);
            },
            [&](const ButtonIntent::Delay&) {},
            [&](const ButtonIntent::StartRepeat& r) {
                {
                    std::lock_guard guard(lock_);
                    if (!admitLocked(epoch)) return;
                }
                startRepeat(r.token, epoch);
            },
            [&](const ButtonIntent::StopRepeat& r) {
                {
                    std::lock_guard guard(lock_);
                    if (!admitLocked(epoch)) return;
                }
                stopRepeat(r.id);
            },
            [&](const ButtonIntent::SetDPI& d) {
                {
                    std::lock_guard guard(lock_);
                    if (!admitLocked(epoch)) return;
                    metrics_.dpiRequests += 1;
                }
                sideEffects_->requestDPI(d.dpi);
            },
            [&](const ButtonIntent::LaunchApp& a) {
                {
                    std::lock_guard guard(lock_);
                    if (!admitLocked(epoch)) return;
                }
                sideEffects_->launchApp(a.bundleID);
            },
            [&](const ButtonIntent::RunShortcut& s) {
                {
                    std::lock_guard guard(lock_);
                    if (!admitLocked(epoch)) return;
                }
                sideEffects_->runShortcut(s.name);
            },
        },
        intent.value);
}

void MacroExecutor::postMouseButton(std::int64_t number, bool isDown, std::uint64_t epoch) {
    {
        std::lock_guard guard(lock_);
        if (!admitLocked(epoch)) return;
        metrics_.mouseButtonsPosted += 1;
        std::erase(heldMouseButtons_, number);
        if (isDown) heldMouseButtons_.push_back(number);
    }
    poster_->postMouseButton(number, isDown);
}

void MacroExecutor::startRepeat(const RepeatToken& token, std::uint64_t epoch) {
    const double intervalMillis = std::isnan(token.intervalMillis) ? 1.0 : std::max(token.intervalMillis, 1.0);
    const auto interval = static_cast<std::uint64_t>(nanosFromMillis(intervalMillis).count());
    auto step = std::make_shared<const std::vector<ButtonIntent>>(token.step.intents());

    auto timer = platform::DispatchTimer::create(
        *queue_, platform::Scheduler::deadlineAfter(queue_->nowNanos(), std::chrono::nanoseconds(interval)), interval,
        repeatLeewayNanos, [weak = weak_from_this(), step, epoch] {
            auto self = weak.lock();
            if (!self) return;
            {
                std::lock_guard guard(self->lock_);
                if (self->epoch_ != epoch) return;
                self->metrics_.repeatIterations += 1;
            }
            self->run(step, 0, epoch);
        });

    std::shared_ptr<platform::DispatchTimer> replaced;
    bool stale = false;
    {
        std::lock_guard guard(lock_);
        // A reset may have come between the admission of this intent and now;
        // a timer stored after it would fire for nothing until the next reset.
        if (epoch_ != epoch) {
            stale = true;
        } else {
            auto& slot = repeatTimers_[token.id];
            replaced = std::exchange(slot, timer);
            metrics_.repeatsStarted += 1;
        }
    }
    if (stale) {
        timer->cancel();
        return;
    }
    if (replaced) replaced->cancel();
    timer->resume();
}

void MacroExecutor::stopRepeat(std::int64_t id) {
    std::shared_ptr<platform::DispatchTimer> timer;
    {
        std::lock_guard guard(lock_);
        const auto it = repeatTimers_.find(id);
        if (it == repeatTimers_.end()) return;
        timer = std::move(it->second);
        repeatTimers_.erase(it);
        metrics_.repeatsStopped += 1;
    }
    timer->cancel();
}

void MacroExecutor::stopAllRepeats() {
    std::map<std::int64_t, std::shared_ptr<platform::DispatchTimer>> timers;
    {
        std::lock_guard guard(lock_);
        timers.swap(repeatTimers_);
        metrics_.repeatsStopped += static_cast<std::int64_t>(timers.size());
    }
    for (auto& [id, timer] : timers) timer->cancel();
}

void MacroExecutor::reset(std::vector<ButtonIntent> thenExecuting) {
    // Keys and buttons that the coming list releases itself are left to it.
    std::set<std::uint16_t> keysReleasedByList;
    std::set<std::int64_t> buttonsReleasedByList;
    for (const auto& intent : thenExecuting) {
        if (const auto* up = std::get_if<ButtonIntent::KeyUp>(&intent.value)) keysReleasedByList.insert(up->code);
        if (const auto* up = std::get_if<ButtonIntent::MouseButtonUp>(&intent.value)) buttonsReleasedByList.insert(up->number);
        if (const auto* pass = std::get_if<ButtonIntent::PassThroughButton>(&intent.value); pass && !pass->isDown) {
            buttonsReleasedByList.insert(pass->number);
        }
    }

    std::vector<HeldKey> keysToRelease;
    std::vector<std::int64_t> buttonsToRelease;
    std::map<std::int64_t, std::shared_ptr<platform::DispatchTimer>> timers;
    std::uint64_t epoch = 0;
    {
        std::lock_guard guard(lock_);
        epoch = ++epoch_;
        for (auto it = heldKeys_.rbegin(); it != heldKeys_.rend(); ++it) {
            if (!keysReleasedByList.contains(it->code)) keysToRelease.push_back(*it);
        }
        for (auto it = heldMouseButtons_.rbegin(); it != heldMouseButtons_.rend(); ++it) {
            if (!buttonsReleasedByList.contains(*it)) buttonsToRelease.push_back(*it);
        }
        timers.swap(repeatTimers_);
        std::erase_if(heldKeys_, [&](const HeldKey& h) { return !keysReleasedByList.contains(h.code); });
        std::erase_if(heldMouseButtons_, [&](std::int64_t b) { return !buttonsReleasedByList.contains(b); });
        metrics_.resets += 1;
        metrics_.repeatsStopped += static_cast<std::int64_t>(timers.size());
        metrics_.keysForceReleased += static_cast<std::int64_t>(keysToRelease.size());
        metrics_.mouseButtonsForceReleased += static_cast<std::int64_t>(buttonsToRelease.size());
    }
    for (auto& [id, timer] : timers) timer->cancel();

    if (!keysToRelease.empty() || !buttonsToRelease.empty()) {
        // Holds the poster, not the executor: what is held is released even
        // when the executor goes away meanwhile.
        queue_->post([poster = poster_, keys = std::move(keysToRelease), buttons = std::move(buttonsToRelease)] {
            for (const auto& key : keys) poster->postKey(key.code, false, key.modifiers);
            for (const auto button : buttons) poster->postMouseButton(button, false);
        });
    }
    if (!thenExecuting.empty()) {
        enqueueRun(std::make_shared<const std::vector<ButtonIntent>>(std::move(thenExecuting)), epoch);
    }
}

bool MacroExecutor::drain(std::optional<std::chrono::nanoseconds> limit) { return drainPipelineQueue(*queue_, limit); }

MacroExecutor::Metrics MacroExecutor::snapshotMetrics() const {
    std::lock_guard guard(lock_);
    return metrics_;
}

void MacroExecutor::resetMetrics() {
    std::lock_guard guard(lock_);
    metrics_ = Metrics{};
}

std::size_t MacroExecutor::activeRepeatCount() const {
    std::lock_guard guard(lock_);
    return repeatTimers_.size();
}

std::size_t MacroExecutor::heldKeyCount() const {
    std::lock_guard guard(lock_);
    return heldKeys_.size();
}

std::size_t MacroExecutor::heldMouseButtonCount() const {
    std::lock_guard guard(lock_);
    return heldMouseButtons_.size();
}

} // namespace ravolet

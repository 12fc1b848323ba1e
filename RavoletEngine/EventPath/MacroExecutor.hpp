#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <vector>

#include "Core/ButtonIntent.hpp"
#include "Support/ValueSupport.hpp"
#include "Core/ModifierFlags.hpp"
#include "Platform/DispatchTimer.hpp"
#include "Platform/Executor.hpp"
#include "RavoletEngine/EventPath/EventPosting.hpp"
#include "RavoletEngine/EventPath/MacroSideEffects.hpp"

namespace ravolet {

// Performs the intent lists of the button router on its own serial queue, so
// the event-tap thread never waits: key and mouse-button events, delays,
// repeat-while-held timers, DPI requests, application launches and Shortcut
// runs. A list of key and button posts alone that finds the queue idle runs
// at once on the caller, in the queue's turn (Executor::runHereIfIdle), which
// spares a key stroke the hand-off to the queue's thread.
//
// It remembers every key and mouse button it has pressed and not released, so
// that a reset (profile change, device removal, engine stop) can release them
// and nothing stays stuck. A reset starts a new epoch: queued blocks, delayed
// continuations and timer fires of an older epoch are abandoned when they come
// up. Delays and repeats are deadlines on the queue, never sleeps, because
// drain() is called from the main thread.
//
// Queued work holds the executor weakly; the lock guards the epoch, the held
// lists, the timers and the counters and is never held while posting, calling
// a side effect, touching a timer or enqueuing.
class MacroExecutor final : public std::enable_shared_from_this<MacroExecutor> {
public:
    struct Metrics {
        std::int64_t intentsExecuted = 0;
        std::int64_t keysPosted = 0;
        std::int64_t mouseButtonsPosted = 0;
        std::int64_t repeatsStarted = 0;
        std::int64_t repeatsStopped = 0;
        std::int64_t repeatIterations = 0;
        std::int64_t dpiRequests = 0;
        std::int64_t resets = 0;
        std::int64_t intentsAbandoned = 0;
        std::int64_t keysForceReleased = 0;
        std::int64_t mouseButtonsForceReleased = 0;

        friend constexpr bool operator==(const Metrics&, const Metrics&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Metrics& m);
    };

    static constexpr const char* queueLabel = "ai.ravolet.macro";
    // How late a repeat fire may come.
    static constexpr std::uint64_t repeatLeewayNanos = 2'000'000;

    // `queue` runs every intent, continuation, timer fire and release; by
    // default a serial queue labelled "ai.ravolet.macro". Tests pass a
    // virtual-time scheduler.
    static std::shared_ptr<MacroExecutor> create(std::shared_ptr<EventPosting> poster,
                                                 std::shared_ptr<MacroSideEffects> sideEffects,
                                                 std::shared_ptr<platform::Scheduler> queue = nullptr);
    ~MacroExecutor();
    MacroExecutor(const MacroExecutor&) = delete;
    MacroExecutor& operator=(const MacroExecutor&) = delete;

    // Runs the list under the current epoch: on the queue, or at once on the
    // caller when it only posts keys and buttons and the queue is idle. An
    // empty list does nothing.
    void execute(const std::vector<ButtonIntent>& intents);
    // Releases what is held and not released by `thenExecuting` itself, stops
    // every repeat, starts a new epoch, then runs `thenExecuting` under it.
    void reset(std::vector<ButtonIntent> thenExecuting = {});
    // Returns once every block already enqueued has run (delays and timer fires
    // not yet due are not waited for), or after `limit` at the latest; false
    // when those blocks have not all run. Not from the queue itself.
    bool drain(std::optional<std::chrono::nanoseconds> limit = std::nullopt);
    void stopAllRepeats();

    Metrics snapshotMetrics() const;
    // Every counter to 0; the epoch stays.
    void resetMetrics();
    std::size_t activeRepeatCount() const;
    std::size_t heldKeyCount() const;
    std::size_t heldMouseButtonCount() const;

    platform::Scheduler& queue() const { return *queue_; }

    struct Passkey {
    private:
        friend class MacroExecutor;
        Passkey() = default;
    };
    MacroExecutor(Passkey, std::shared_ptr<EventPosting> poster, std::shared_ptr<MacroSideEffects> sideEffects,
                  std::shared_ptr<platform::Scheduler> queue);

private:
    using IntentList = std::shared_ptr<const std::vector<ButtonIntent>>;

    struct HeldKey {
        std::uint16_t code = 0;
        ModifierFlags modifiers;
        friend bool operator==(const HeldKey&, const HeldKey&) = default;
    };

    void enqueueRun(IntentList intents, std::uint64_t epoch);
    void run(const IntentList& intents, std::size_t from, std::uint64_t epoch);
    void perform(const ButtonIntent& intent, std::uint64_t epoch);
    void postMouseButton(std::int64_t number, bool isDown, std::uint64_t epoch);
    void startRepeat(const RepeatToken& token, std::uint64_t epoch);
    void stopRepeat(std::int64_t id);
    // Under the lock: true when `epoch` is current (and counts the intent as
    // executed); otherwise counts it as abandoned.
    bool admitLocked(std::uint64_t epoch);

    const std::shared_ptr<EventPosting> poster_;
    const std::shared_ptr<MacroSideEffects> sideEffects_;
    const std::shared_ptr<platform::Scheduler> queue_;

    mutable std::mutex lock_;
    std::map<std::int64_t, std::shared_ptr<platform::DispatchTimer>> repeatTimers_;
    Metrics metrics_;
    std::uint64_t epoch_ = 0;
    std::vector<HeldKey> heldKeys_;
    std::vector<std::int64_t> heldMouseButtons_;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::MacroExecutor::Metrics> {
    std::size_t operator()(const ravolet::MacroExecutor::Metrics& m) const noexcept {
        return ravolet::hashFields(m.intentsExecuted, m.keysPosted, m.mouseButtonsPosted, m.repeatsStarted,
                                   m.repeatsStopped, m.repeatIterations, m.dpiRequests, m.resets, m.intentsAbandoned,
                                   m.keysForceReleased, m.mouseButtonsForceReleased);
    }
};

#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <string_view>

#include "Platform/EventSystem.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/Task.hpp"
#include "Platform/Thread.hpp"
#include "RavoletEngine/EventPath/TapDisableReason.hpp"
#include "RavoletEngine/EventPath/TapMetrics.hpp"
#include "RavoletEngine/EventPath/TapVerdict.hpp"

namespace ravolet {

// Owns one event tap and the thread whose run loop services it. Every tapped
// event is handed, on that thread, to the handler, whose verdict lets the event
// go on or swallows it. Handler calls are timed against a budget; when the
// system switches the tap off (time-out, user input) it is switched straight
// back on and the engine is told. Other threads run work on the tap thread
// with perform(), so it never interleaves with an event being handled.
//
// Held by shared_ptr, made only by create(); safe to share between threads.
class EventTapController : public std::enable_shared_from_this<EventTapController> {
public:
    struct Configuration {
        std::uint64_t eventsOfInterest = 0; // bit n set: event type n is tapped
        platform::EventTapOptions options = platform::EventTapOptions::defaultTap;
        platform::EventTapLocation location = platform::EventTapLocation::session;
        platform::EventTapPlacement placement = platform::EventTapPlacement::headInsert;
        double budgetMillis = 2.0; // per handler call

        friend bool operator==(const Configuration&, const Configuration&) = default;
    };

    enum class StartError { tapCreationFailed, alreadyRunning };
    static std::string_view description(StartError error);

    using Handler = std::function<TapVerdict(platform::EventType, platform::Event&)>;
    using DisabledHandler = std::function<void(TapDisableReason)>;

    // The thread's name, exactly.
    static constexpr std::string_view tapThreadName = "ai.ravolet.event-tap";

    // Bit n for each type n below 64; larger types add nothing.
    static constexpr std::uint64_t mask(std::span<const platform::EventType> types) {
        std::uint64_t m = 0;
        for (const auto type : types)
            if (type < 64) m |= std::uint64_t{1} << type;
        return m;
    }
    static constexpr std::uint64_t mask(std::initializer_list<platform::EventType> types) {
        return mask(std::span<const platform::EventType>(types.begin(), types.size()));
    }

    // Wheel and button events: 0x640001E.
    static const std::uint64_t scrollAndButtonEventMask;
    // Moved and dragged events: 0x80000E0.
    static const std::uint64_t pointerMotionEventMask;
    // Both: 0xE4000FE.
    static const std::uint64_t defaultEventMask;

    static std::shared_ptr<EventTapController> create(std::shared_ptr<platform::EventSystem> system,
                                                      Configuration configuration, DisabledHandler onDisabled,
                                                      Handler handler);
    // Only create() builds one: the tap thread holds the controller through
    // a weak reference, which needs it owned by a shared_ptr from the start.
    struct Passkey {
    private:
        friend class EventTapController;
        Passkey() = default;
    };
    EventTapController(Passkey, std::shared_ptr<platform::EventSystem> system, Configuration configuration,
                       DisabledHandler onDisabled, Handler handler);
    ~EventTapController();
    EventTapController(const EventTapController&) = delete;
    EventTapController& operator=(const EventTapController&) = delete;

    // How long start() waits for the tap thread by default.
    static constexpr std::chrono::milliseconds startLimit{2000};

    // Starts the tap thread and returns once the tap runs on it or has failed.
    // A thread that has not answered within `limit` counts as a failed start:
    // it is told to stop and ends on its own, leaving nothing installed.
    std::expected<void, StartError> start(std::chrono::milliseconds limit = startLimit);
    // Switches the tap off and ends its thread (waiting for it, unless called
    // on the tap thread itself). Harmless when not started.
    void stop();

    bool isRunning() const;
    std::uint64_t eventsOfInterest() const { return configuration_.eventsOfInterest; }
    const Configuration& configuration() const { return configuration_; }
    // False without a tap; otherwise the system's answer for it.
    bool isTapEnabled() const;

    // Runs the block on the tap thread; dropped when the tap is not running.
    void perform(platform::Task block);

    // Whether the calling thread is named "ai.ravolet.event-tap".
    static bool isOnTapThread();

    TapMetrics snapshotMetrics() const;
    void resetMetrics();

    // The function given to the system as the tap's callback; userInfo is the
    // controller (not owned). Public so that the event path can be measured.
    static platform::Event* callback(platform::EventTapProxy proxy, platform::EventType type, platform::Event* event,
                                     void* userInfo);

private:
    struct Session;
    struct Handshake;
    // Ends the current session, or only `session` when given and still the
    // current one (it is told to stop either way): the tap is switched off
    // and taken off its loop, whose run ends at once. Gives back the
    // session's thread, for the caller to wait for or hand over.
    std::optional<platform::Thread> endSession(const std::shared_ptr<Session>* session);
    static void threadBody(std::weak_ptr<EventTapController> weakSelf, std::shared_ptr<Handshake> handshake,
                           std::shared_ptr<Session> session);
    platform::Event* handle(platform::EventType type, platform::Event* event);

    const std::shared_ptr<platform::EventSystem> system_;
    const Configuration configuration_;
    const Handler handler_;
    const DisabledHandler onDisabled_;

    mutable std::mutex lock_;
    TapMetrics metrics_;
    // As the tap thread last reported it.
    platform::ThreadNice threadNice_;
    std::shared_ptr<platform::EventTap> machPort_;
    bool runLoopSource_ = false; // the tap's source is on runLoop_
    std::shared_ptr<platform::RunLoop> runLoop_;
    std::optional<platform::Thread> thread_;
    bool running_ = false;
    // The stop token of the current tap thread: each thread loops until its own
    // session is stopped, so a thread from before a restart can never keep
    // looping on a run loop that has lost its tap.
    std::shared_ptr<Session> session_;

    const double budgetNanos_;
};

std::ostream& operator<<(std::ostream& os, EventTapController::StartError error);

inline constexpr std::uint64_t EventTapController::scrollAndButtonEventMask =
    mask({platform::EventTypes::scrollWheel, platform::EventTypes::leftMouseDown, platform::EventTypes::leftMouseUp,
          platform::EventTypes::rightMouseDown, platform::EventTypes::rightMouseUp, platform::EventTypes::otherMouseDown,
          platform::EventTypes::otherMouseUp});
inline constexpr std::uint64_t EventTapController::pointerMotionEventMask =
    mask({platform::EventTypes::mouseMoved, platform::EventTypes::leftMouseDragged,
          platform::EventTypes::rightMouseDragged, platform::EventTypes::otherMouseDragged});
inline constexpr std::uint64_t EventTapController::defaultEventMask = scrollAndButtonEventMask | pointerMotionEventMask;

} // namespace ravolet

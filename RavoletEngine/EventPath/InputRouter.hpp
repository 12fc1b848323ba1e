#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>

#include "Support/ValueSupport.hpp"
#include "Platform/Event.hpp"
#include "RavoletEngine/EventPath/DeviceScope.hpp"
#include "RavoletEngine/EventPath/RouterTargets.hpp"
#include "RavoletEngine/EventPath/TapVerdict.hpp"

namespace ravolet {

// The per-event decision point of the event tap: passes the program's own
// events on, asks the device scope whose event it is, hands the target
// mouse's events to the button, pointer or scroll pipeline by type and turns
// their answer into the tap's verdict. Everything not from the target passes
// unchanged; pointer motion is never swallowed, only rewritten in place.
class InputRouter {
public:
    struct Metrics {
        std::int64_t selfEmittedSeen = 0;
        std::int64_t fromTargetDevice = 0;
        std::int64_t fromForeignDevice = 0;
        std::int64_t unidentified = 0;
        std::int64_t scrollHandled = 0;
        std::int64_t buttonsHandled = 0;
        std::int64_t pointerHandled = 0;
        std::int64_t pointerSkippedDisabled = 0;
        std::int64_t passedThrough = 0;
        std::int64_t suppressed = 0;
        double maxClockSkewMillis = 0;

        friend bool operator==(const Metrics&, const Metrics&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Metrics& m);
    };

    // Event types by group (bit n for type n).
    static constexpr std::uint64_t buttonTypesMask = 0x600001E;
    static constexpr std::uint64_t motionTypesMask = 0x80000E0;

    InputRouter(std::shared_ptr<DeviceScope> scope, std::shared_ptr<ScrollTarget> scroll,
                std::shared_ptr<ButtonTarget> buttons, std::shared_ptr<PointerTarget> pointer,
                std::shared_ptr<PointerCursorMoving> pointerCursor = nullptr);
    InputRouter(const InputRouter&) = delete;
    InputRouter& operator=(const InputRouter&) = delete;

    // On the tap thread only; may change the event's fields in place.
    TapVerdict route(platform::EventType type, platform::Event& event);

    // Back to idle: the button pipeline (releasing what it holds), then the
    // scroll pipeline, then the pointer pipeline. Any thread.
    void resetAll();

    Metrics snapshotMetrics() const;
    void resetMetrics();

    const std::shared_ptr<DeviceScope>& scope() const { return scope_; }
    const std::shared_ptr<ScrollTarget>& scroll() const { return scroll_; }
    const std::shared_ptr<ButtonTarget>& buttons() const { return buttons_; }
    const std::shared_ptr<PointerTarget>& pointer() const { return pointer_; }

    // Whether the program's own events are swallowed instead of passed on.
    bool swallowsOwnOutput() const { return swallowsOwnOutput_.load(std::memory_order_relaxed); }
    void setSwallowsOwnOutput(bool swallow) { swallowsOwnOutput_.store(swallow, std::memory_order_relaxed); }

private:
    // What an event of the target adds to the metrics besides its verdict.
    struct Tally {
        // The counter of the pipeline that took it, if any.
        std::int64_t Metrics::*handled = nullptr;
        // Whether the verdict counts as passed through or suppressed.
        bool countsVerdict = true;
        double clockSkewMillis = 0;
    };
    // The pipelines' part, without the lock; route() counts the tally and the
    // verdict under one hold of it.
    TapVerdict routeTarget(platform::EventType type, platform::Event& event, DeviceID device, Tally& tally);
    TapVerdict routeMotion(platform::Event& event, DeviceID device, Tally& tally);

    const std::shared_ptr<DeviceScope> scope_;
    const std::shared_ptr<ScrollTarget> scroll_;
    const std::shared_ptr<ButtonTarget> buttons_;
    const std::shared_ptr<PointerTarget> pointer_;
    const std::shared_ptr<PointerCursorMoving> pointerCursor_;
    std::atomic<bool> swallowsOwnOutput_{false};

    mutable std::mutex lock_;
    Metrics metrics_;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::InputRouter::Metrics> {
    std::size_t operator()(const ravolet::InputRouter::Metrics& m) const noexcept {
        return ravolet::hashFields(m.selfEmittedSeen, m.fromTargetDevice, m.fromForeignDevice, m.unidentified,
                                   m.scrollHandled, m.buttonsHandled, m.pointerHandled, m.pointerSkippedDisabled,
                                   m.passedThrough, m.suppressed, m.maxClockSkewMillis);
    }
};

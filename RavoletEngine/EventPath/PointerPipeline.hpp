#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>

#include "Core/DeviceID.hpp"
#include "Support/ValueSupport.hpp"
#include "Core/PointerAccumulator.hpp"
#include "Core/PointerSettings.hpp"
#include "RavoletEngine/EventPath/PointerMotion.hpp"
#include "RavoletEngine/EventPath/RouterTargets.hpp"

namespace ravolet {

// Reshapes the target mouse's pointer motion with the profile's curve. Each
// sample is timed against the previous one of the same device and run through
// the accumulator, whose sub-pixel rests carry over to the next sample; the
// carry is dropped whenever the stream of samples is interrupted (another
// device, a reset, new settings).
//
// handle() runs on the event-tap thread inside the tap's budget: one lock
// hold, constant arithmetic, no allocation. The settings, reset() and the
// counters may be used from any thread.
class PointerPipeline final : public PointerTarget {
public:
    struct Metrics {
        std::int64_t samplesSeen = 0;
        std::int64_t samplesTransformed = 0;
        std::int64_t samplesPassedThrough = 0;
        std::int64_t pixelsIn = 0;
        std::int64_t pixelsOut = 0;
        std::int64_t subPixelHolds = 0;
        std::int64_t accumulatorResets = 0;
        std::int64_t deviceChanges = 0;

        friend constexpr bool operator==(const Metrics&, const Metrics&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Metrics& m);
    };

    // Samples further apart than this cannot be timed: the gap is a pause, not a speed.
    static constexpr double maxSampleIntervalMillis = 250;
    // Samples closer together than this are timed as this, so speeds stay finite.
    static constexpr double minSampleIntervalMillis = 0.25;

    PointerPipeline(const PointerSettings& settings, bool repositionsCursor);

    // Whether transformed motion also moves the event's location; fixed at construction.
    bool repositionsCursor() const override { return repositionsCursor_; }
    bool isEnabled() const override;

    PointerOutcome handle(const PointerMotion& motion) override;
    void reset() override;

    PointerSettings settings() const;
    // Takes the new curve with empty rests and forgets the previous sample.
    void setSettings(const PointerSettings& settings);

    Metrics snapshotMetrics() const;
    void resetMetrics();

private:
    void forgetStreamLocked();

    const bool repositionsCursor_;
    // settings_.isEnabled, readable without the lock: the router asks for
    // every motion event.
    std::atomic<bool> isEnabled_;
    mutable std::mutex lock_;
    PointerSettings settings_;
    PointerAccumulator accumulator_;
    double lastTimestampMillis_ = 0;
    std::optional<DeviceID> lastDeviceID_;
    Metrics metrics_;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerPipeline::Metrics> {
    std::size_t operator()(const ravolet::PointerPipeline::Metrics& m) const noexcept {
        return ravolet::hashFields(m.samplesSeen, m.samplesTransformed, m.samplesPassedThrough, m.pixelsIn, m.pixelsOut,
                                   m.subPixelHolds, m.accumulatorResets, m.deviceChanges);
    }
};

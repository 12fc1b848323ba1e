#include "RavoletEngine/EventPath/PointerPipeline.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ravolet {

namespace {

constexpr std::int64_t counterMax = std::numeric_limits<std::int64_t>::max();

// Counters stop at the top instead of overflowing: a forged delta of 1e300
// counts must not wrap the totals.
std::int64_t addSaturating(std::int64_t total, std::int64_t amount) {
    return amount > counterMax - total ? counterMax : total + amount;
}

// |value| rounded to the nearest integer, halves away from zero; beyond the
// counter range it stops at the top.
std::int64_t roundedMagnitude(double value) {
    const double rounded = std::round(std::fabs(value));
    if (!(rounded < 9.2e18)) return counterMax;
    return static_cast<std::int64_t>(rounded);
}

std::int64_t magnitude(std::int64_t value) {
    return value == std::numeric_limits<std::int64_t>::min() ? counterMax : (value < 0 ? -value : value);
}

} // namespace

std::ostream& operator<<(std::ostream& os, const PointerPipeline::Metrics& m) {
    return os << "PointerPipeline.Metrics(seen " << m.samplesSeen << ", transformed " << m.samplesTransformed
              << ", passedThrough " << m.samplesPassedThrough << ", pixelsIn " << m.pixelsIn << ", pixelsOut "
              << m.pixelsOut << ", subPixelHolds " << m.subPixelHolds << ", accumulatorResets "
              << m.accumulatorResets << ", deviceChanges " << m.deviceChanges << ')';
}

PointerPipeline::PointerPipeline(const PointerSettings& settings, bool repositionsCursor)
    : repositionsCursor_(repositionsCursor), isEnabled_(settings.isEnabled), settings_(settings),
      accumulator_(settings.curve) {}

bool PointerPipeline::isEnabled() const { return isEnabled_.load(std::memory_order_acquire); }

PointerOutcome PointerPipeline::handle(const PointerMotion& motion) {
    std::lock_guard guard(lock_);
    metrics_.samplesSeen += 1;
    if (!settings_.isEnabled) {
        metrics_.samplesPassedThrough += 1;
        return PointerOutcome::passThrough;
    }

    double intervalMillis = 0;
    if (lastDeviceID_ && *lastDeviceID_ == motion.deviceID) {
        const double gap = motion.timestampMillis - lastTimestampMillis_;
        if (lastTimestampMillis_ > 0 && gap > 0 && gap <= maxSampleIntervalMillis) {
            intervalMillis = std::max(gap, minSampleIntervalMillis);
        }
    } else {
        if (lastDeviceID_) metrics_.deviceChanges += 1;
        accumulator_.reset();
        metrics_.accumulatorResets += 1;
        lastDeviceID_ = motion.deviceID;
    }
    lastTimestampMillis_ = motion.timestampMillis;

    const auto pixels = accumulator_.apply(motion.delta, intervalMillis);

    const std::int64_t sizeIn = addSaturating(roundedMagnitude(motion.delta.dx), roundedMagnitude(motion.delta.dy));
    metrics_.samplesTransformed += 1;
    metrics_.pixelsIn = addSaturating(metrics_.pixelsIn, sizeIn);
    metrics_.pixelsOut = addSaturating(metrics_.pixelsOut, addSaturating(magnitude(pixels.dx), magnitude(pixels.dy)));
    if (sizeIn >= 1 && pixels.dx == 0 && pixels.dy == 0) metrics_.subPixelHolds += 1;
    return PointerOutcome{PointerDisposition::transformed, pixels.dx, pixels.dy};
}

void PointerPipeline::forgetStreamLocked() {
    lastTimestampMillis_ = 0;
    lastDeviceID_.reset();
    metrics_.accumulatorResets += 1;
}

void PointerPipeline::reset() {
    std::lock_guard guard(lock_);
    accumulator_.reset();
    forgetStreamLocked();
}

PointerSettings PointerPipeline::settings() const {
    std::lock_guard guard(lock_);
    return settings_;
}

void PointerPipeline::setSettings(const PointerSettings& settings) {
    std::lock_guard guard(lock_);
    settings_ = settings;
    isEnabled_.store(settings.isEnabled, std::memory_order_release);
    accumulator_ = PointerAccumulator(settings.curve);
    forgetStreamLocked();
}

PointerPipeline::Metrics PointerPipeline::snapshotMetrics() const {
    std::lock_guard guard(lock_);
    return metrics_;
}

void PointerPipeline::resetMetrics() {
    std::lock_guard guard(lock_);
    metrics_ = Metrics{};
}

} // namespace ravolet

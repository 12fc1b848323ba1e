#include "RavoletEngine/EventPath/PipelineQueue.hpp"

#include "Platform/PostedWork.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"

namespace ravolet {

std::shared_ptr<platform::Scheduler> makePipelineQueue(std::string label) {
    return std::make_shared<platform::SerialQueue>(std::move(label), platform::QueuePriority::userInteractive);
}

bool drainPipelineQueue(platform::Scheduler& queue, std::optional<std::chrono::nanoseconds> limit) {
    if (auto* manual = dynamic_cast<platform::ManualScheduler*>(&queue)) {
        manual->runUntilIdle();
        return true;
    }
    if (auto* serial = dynamic_cast<platform::SerialQueue*>(&queue); serial && !limit) return serial->sync([] {});
    // Any other scheduler runs on a thread of its own; the wait ends also
    // when it drops the marker (its thread has ended).
    return platform::waitForPostedWork(queue, limit);
}

std::chrono::nanoseconds nanosFromMillis(double millis) {
    constexpr double centuryNanos = 100.0 * 365.25 * 24 * 3600 * 1e9;
    if (!(millis > 0)) return std::chrono::nanoseconds(0);
    const double nanos = millis * 1e6;
    if (!(nanos < centuryNanos)) return std::chrono::nanoseconds(static_cast<std::int64_t>(centuryNanos));
    return std::chrono::nanoseconds(static_cast<std::int64_t>(nanos));
}

} // namespace ravolet

#include "RavoletEngine/EventPath/PipelineQueue.hpp"

#include <condition_variable>
#include <mutex>

#include "Platform/SerialQueue.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"

namespace ravolet {

std::shared_ptr<platform::Scheduler> makePipelineQueue(std::string label) {
    return std::make_shared<platform::SerialQueue>(std::move(label), platform::QueuePriority::userInteractive);
}

void drainPipelineQueue(platform::Scheduler& queue) {
    if (auto* serial = dynamic_cast<platform::SerialQueue*>(&queue)) {
        serial->sync([] {});
        return;
    }
    if (auto* manual = dynamic_cast<platform::ManualScheduler*>(&queue)) {
        manual->runUntilIdle();
        return;
    }
    // Any other scheduler runs on a thread of its own: wait for a marker
    // block, which signals once it has run or once the scheduler dropped it
    // (its thread has ended), so that the wait always ends.
    struct Marker {
        std::mutex lock;
        std::condition_variable ran;
        bool done = false;
    };
    struct Signal {
        std::shared_ptr<Marker> marker;
        ~Signal() {
            {
                std::lock_guard guard(marker->lock);
                marker->done = true;
            }
            marker->ran.notify_all();
        }
    };
    auto marker = std::make_shared<Marker>();
    auto signal = std::make_unique<Signal>();
    signal->marker = marker;
    queue.post([signal = std::move(signal)] {});
    std::unique_lock guard(marker->lock);
    marker->ran.wait(guard, [&] { return marker->done; });
}

std::chrono::nanoseconds nanosFromMillis(double millis) {
    constexpr double centuryNanos = 100.0 * 365.25 * 24 * 3600 * 1e9;
    if (!(millis > 0)) return std::chrono::nanoseconds(0);
    const double nanos = millis * 1e6;
    if (!(nanos < centuryNanos)) return std::chrono::nanoseconds(static_cast<std::int64_t>(centuryNanos));
    return std::chrono::nanoseconds(static_cast<std::int64_t>(nanos));
}

} // namespace ravolet

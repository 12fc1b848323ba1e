#include "Platform/PostedWork.hpp"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace ravolet::platform {

namespace {

struct Marker {
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;
    bool ran = false;
};

// Travels in the posted block: whether it runs or is dropped, its release
// ends the wait.
struct Signal {
    std::shared_ptr<Marker> marker;
    bool ran = false;
    ~Signal() {
        {
            std::lock_guard guard(marker->lock);
            marker->released = true;
            marker->ran = ran;
        }
        marker->changed.notify_all();
    }
};

} // namespace

bool waitForPostedWork(Executor& executor, std::optional<std::chrono::nanoseconds> limit) {
    auto marker = std::make_shared<Marker>();
    auto signal = std::make_unique<Signal>();
    signal->marker = marker;
    executor.post([signal = std::move(signal)] { signal->ran = true; });
    std::unique_lock guard(marker->lock);
    const auto released = [&] { return marker->released; };
    if (limit) {
        if (!marker->changed.wait_for(guard, *limit, released)) return false;
    } else {
        marker->changed.wait(guard, released);
    }
    return marker->ran;
}

} // namespace ravolet::platform

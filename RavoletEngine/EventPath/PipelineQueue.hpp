#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Executor.hpp"

namespace ravolet {

// The serial queue a pipeline posts its synthetic events from: user-interactive
// priority, named after the label.
std::shared_ptr<platform::Scheduler> makePipelineQueue(std::string label);

// Returns once every block already enqueued on the queue has run; blocks whose
// deadline has not come yet are not waited for. A serial queue runs an empty
// block synchronously; the virtual-time scheduler of tests runs what is due
// now on the caller. With a limit the wait ends after it at the latest. False
// when the wait ended before those blocks had run. Must not be called from
// the queue itself.
bool drainPipelineQueue(platform::Scheduler& queue, std::optional<std::chrono::nanoseconds> limit = std::nullopt);

// Milliseconds as whole nanoseconds, truncated toward zero. Negative values and
// values that are not numbers give 0; huge values stop at a century, far
// beyond any glide, delay or repeat interval, so deadlines never wrap.
std::chrono::nanoseconds nanosFromMillis(double millis);

} // namespace ravolet

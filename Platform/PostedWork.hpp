#pragma once

#include <chrono>
#include <optional>

#include "Platform/Executor.hpp"

namespace ravolet::platform {

// Posts an empty block to the executor and waits until it has run, and with it
// every block posted before it. False when the executor dropped the block (its
// thread has ended or never started) or the limit passed first: the wait ends
// either way. Never call it on the executor's own thread.
bool waitForPostedWork(Executor& executor, std::optional<std::chrono::nanoseconds> limit = std::nullopt);

} // namespace ravolet::platform

#pragma once

#include <functional>

namespace ravolet::platform {

// One unit of queued work: no arguments, no result. Move-only, so a task may
// own what it captures (a promise, a unique_ptr); it runs at most once.
using Task = std::move_only_function<void()>;

} // namespace ravolet::platform

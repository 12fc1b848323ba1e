#pragma once

#include <functional>
#include <memory>

#include "Platform/Executor.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// Word that the access to the input device nodes may have changed, from the
// kernel rather than by looking again and again: an input, hidraw or misc
// device (uinput) that came, went or changed (its uevents, also those
// `udevadm trigger` sends), and the permissions or access lists of /dev/uinput,
// /dev/hidraw* and /dev/input/event* changing (inotify; udev sets them just
// after a node appears, logind when the seat's session changes). Calls
// `handler` on `executor`, possibly several times for one change, until the
// subscription is dropped.
Subscription watchDeviceAccess(const KernelRoots& roots, std::shared_ptr<Executor> executor,
                               std::function<void()> handler);

} // namespace ravolet::platform

#pragma once

#include <cstdint>

namespace ravolet::platform {

// The kernel's scheduling attributes of a thread, as sched_setattr takes
// them (its first, 48-byte form): the normal policy (SCHED_OTHER) unless
// told otherwise.
struct SchedulingAttributes {
    std::uint32_t size = sizeof(SchedulingAttributes);
    std::uint32_t policy = 0; // SCHED_OTHER
    std::uint64_t flags = 0;
    std::int32_t nice = 0;
    std::uint32_t priority = 0;
    std::uint64_t runtime = 0; // for SCHED_OTHER: the time slice wanted (0: the default)
    std::uint64_t deadline = 0;
    std::uint64_t period = 0;
};
static_assert(sizeof(SchedulingAttributes) == 48);

} // namespace ravolet::platform

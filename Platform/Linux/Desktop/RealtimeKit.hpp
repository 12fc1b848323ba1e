#pragma once

#include <cstdint>

namespace ravolet::platform {

// The desktop's RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus),
// which raises the urgency of a thread of an ordinary user's process as far
// as the desktop allows, as audio servers ask it to.
namespace RealtimeKit {

// Asks it to run thread `threadID` of this process at nice value `nice`;
// true once it says it has. False without a system bus or RealtimeKit, when it
// refuses (a user not at the computer, a value beyond its least nice level)
// or gives no answer within a second.
bool makeThreadHighPriority(std::int64_t threadID, int nice);

} // namespace RealtimeKit

} // namespace ravolet::platform

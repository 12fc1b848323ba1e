#pragma once

#include "Platform/ProcessLauncher.hpp"

namespace ravolet::platform {

// Starts programs without a shell, each one detached for good and started
// as the desktop starts its own: a short-lived intermediate process opens a
// session of its own (so a signal to the program's terminal does not reach
// it) and starts the program from there, then ends at once. The program is
// thus never a child of this process: the system's reaper (init, or the
// session's service manager) adopts it, nothing here waits for it, and it
// runs on after this process has ended, however long it lives. It has the
// scheduling this process was started with (not the launching thread's: the
// macro thread's short time slice and timer slack, or its raised urgency),
// every signal at its default and unblocked, and descriptors 0 to 2 only.
//
// Neither copy copies the process (both share its memory until the exec, as
// posix_spawn's does), so a launch costs about what posix_spawn does,
// whatever this process's size, and holds up none of its other threads.
class LinuxProcessLauncher final : public ProcessLauncher {
public:
    bool launchDetached(const std::string& executable, const std::vector<std::string>& arguments) override;
};

} // namespace ravolet::platform

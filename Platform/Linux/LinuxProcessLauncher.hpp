#pragma once

#include "Platform/ProcessLauncher.hpp"

namespace ravolet::platform {

// Starts programs with posix_spawn, never through a shell. Each child gets a
// session of its own (so a signal to the program's terminal does not reach
// it), default signal handling and an empty signal mask. Every child is
// reaped when it ends, by one process-wide reaper thread that waits on the
// children's process descriptors, so no zombie is left behind and no other
// child of the process is waited for.
class LinuxProcessLauncher final : public ProcessLauncher {
public:
    bool launchDetached(const std::string& executable, const std::vector<std::string>& arguments) override;
};

} // namespace ravolet::platform

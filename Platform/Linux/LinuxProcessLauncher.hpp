#pragma once

#include "Platform/ProcessLauncher.hpp"

namespace ravolet::platform {

// Starts programs without a shell, each one detached for good: a short-lived
// intermediate process opens a session of its own (so a signal to the
// program's terminal does not reach it) and starts the program from there,
// with default signal handling and an empty signal mask, then ends at once.
// The program is thus never a child of this process: the system's reaper
// (init, or the session's service manager) adopts it, nothing here waits for
// it, and it runs on after this process has ended, however long it lives.
class LinuxProcessLauncher final : public ProcessLauncher {
public:
    bool launchDetached(const std::string& executable, const std::vector<std::string>& arguments) override;
};

} // namespace ravolet::platform

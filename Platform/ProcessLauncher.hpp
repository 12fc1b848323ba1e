#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Linux/Desktop/DesktopExec.hpp"

namespace ravolet::platform {

// Starts other programs. Callable from any thread.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // Starts the program at the absolute path `executable` with `arguments`
    // (each one reaches it as one argument, as given: no shell sees them). The
    // program inherits the environment and the working directory and is not
    // waited for; its output is not read. True when it started.
    virtual bool launchDetached(const std::string& executable, const std::vector<std::string>& arguments) = 0;

    // Starts a command line the user typed: split into words as a terminal
    // splits them (no expansion), the first one found in the folders of PATH
    // unless it holds a "/", and launched as above (never through a shell).
    // Why it did not start otherwise: a line that is empty or malformed, a
    // program not found, or one that would not start.
    std::expected<void, CommandProblem> launchCommandLine(std::string_view commandLine);
};

} // namespace ravolet::platform

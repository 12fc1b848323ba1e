#pragma once

#include <string>
#include <string_view>
#include <vector>

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

    // Starts a command line the user typed, the way a desktop entry's Exec
    // value is started: split into arguments by its quoting rules, the first
    // one found in the folders of PATH unless it holds a "/", and launched as
    // above (never through a shell). False when the line is empty or
    // malformed, names no program, or the program does not start.
    bool launchCommandLine(std::string_view commandLine);
};

} // namespace ravolet::platform

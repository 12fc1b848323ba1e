#pragma once

#include <string>
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
};

} // namespace ravolet::platform

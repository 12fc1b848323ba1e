#include "Platform/ProcessLauncher.hpp"

#include <cstdlib>
#include <optional>

#include "Platform/Linux/Desktop/DesktopExec.hpp"

namespace ravolet::platform {

bool ProcessLauncher::launchCommandLine(std::string_view commandLine) {
    std::optional<std::vector<std::string>> arguments = execArguments(commandLine);
    if (!arguments) return false;
    // The search path a login shell starts with, for a process started without one.
    const char* path = std::getenv("PATH");
    const std::optional<std::string> program = findProgram(arguments->front(), path ? path : "/usr/local/bin:/usr/bin:/bin");
    if (!program) return false;
    arguments->erase(arguments->begin());
    return launchDetached(*program, *arguments);
}

} // namespace ravolet::platform

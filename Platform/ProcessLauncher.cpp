#include "Platform/ProcessLauncher.hpp"

namespace ravolet::platform {

std::expected<void, CommandProblem> ProcessLauncher::launchCommandLine(std::string_view commandLine) {
    const auto command = resolveCommand(commandLine, programSearchPath());
    if (!command) return std::unexpected(command.error());
    if (launchDetached(command->program, command->arguments)) return {};
    return std::unexpected(
        programProblem(command->program).value_or(CommandProblem{CommandProblem::Kind::didNotStart, command->program}));
}

} // namespace ravolet::platform

#include "Platform/Linux/Desktop/DesktopExec.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ranges>

namespace ravolet::platform {

std::optional<std::string> findProgram(const std::string& name, std::string_view path) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos) return name;
    for (auto part : std::views::split(path, ':')) {
        const std::string folder(part.begin(), part.end());
        if (folder.empty() || folder.front() != '/') continue;
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

std::string programSearchPath() {
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/local/bin:/usr/bin:/bin";
}

std::string CommandProblem::description() const {
    switch (kind) {
    case Kind::empty: return "The line names no command.";
    case Kind::unclosedSingleQuote: return "A single quote (') is not closed.";
    case Kind::unclosedDoubleQuote: return "A double quote (\") is not closed.";
    case Kind::danglingBackslash: return "The line ends in a backslash with nothing after it.";
    case Kind::nulCharacter: return "The line holds a NUL character, which no argument can carry.";
    case Kind::notInPath: return "No program named \u201C" + program + "\u201D is in the folders of your PATH.";
    case Kind::noSuchFile: return "There is no program at " + program + ".";
    case Kind::notAProgram: return program + " is not a program Ravolet may run.";
    case Kind::didNotStart: return program + " could not be started.";
    }
    return "The command could not be started.";
}

std::expected<Command, CommandProblem> resolveCommand(std::string_view line, std::string_view path) {
    using Kind = CommandProblem::Kind;
    const auto words = shellWords(line);
    if (!words) {
        switch (words.error()) {
        case ShellWordsError::unclosedSingleQuote: return std::unexpected(CommandProblem{Kind::unclosedSingleQuote, {}});
        case ShellWordsError::unclosedDoubleQuote: return std::unexpected(CommandProblem{Kind::unclosedDoubleQuote, {}});
        case ShellWordsError::danglingBackslash: return std::unexpected(CommandProblem{Kind::danglingBackslash, {}});
        case ShellWordsError::nulCharacter: return std::unexpected(CommandProblem{Kind::nulCharacter, {}});
        }
    }
    if (words->empty()) return std::unexpected(CommandProblem{Kind::empty, {}});
    // An empty first word ("" alone) names no program either.
    const std::string& name = words->front();
    if (name.empty()) return std::unexpected(CommandProblem{Kind::empty, {}});
    const std::optional<std::string> program = findProgram(name, path);
    if (!program) return std::unexpected(CommandProblem{Kind::notInPath, name});
    return Command{*program, std::vector<std::string>(words->begin() + 1, words->end())};
}

std::optional<CommandProblem> programProblem(const std::string& program) {
    using Kind = CommandProblem::Kind;
    struct stat info{};
    if (::stat(program.c_str(), &info) != 0) return CommandProblem{Kind::noSuchFile, program};
    if (S_ISDIR(info.st_mode) || ::access(program.c_str(), X_OK) != 0) return CommandProblem{Kind::notAProgram, program};
    return std::nullopt;
}

} // namespace ravolet::platform

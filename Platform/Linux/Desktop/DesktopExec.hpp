#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// execArguments(), the words of a desktop entry's Exec value, lives there.
#include "Support/CommandWords.hpp"

namespace ravolet::platform {

// The executable a command's first argument names: itself when it holds a
// "/", else the first executable file of that name in the folders of `path`
// (a PATH value). None when there is none.
std::optional<std::string> findProgram(const std::string& name, std::string_view path);

// The folders a command's program is looked for in: PATH, else the ones a
// login shell starts with.
std::string programSearchPath();

// Why a command line the user typed does not start, with the words that say
// so to the user ("No program named “dat” is in the folders of your PATH.").
struct CommandProblem {
    enum class Kind {
        empty,
        unclosedSingleQuote,
        unclosedDoubleQuote,
        danglingBackslash,
        nulCharacter,
        notInPath,
        noSuchFile,
        notAProgram,
        didNotStart,
    };
    Kind kind = Kind::empty;
    // The program named, where the problem is with it.
    std::string program;

    std::string description() const;
    friend bool operator==(const CommandProblem&, const CommandProblem&) = default;
};

// A command ready to start: the program's path and the words after it.
struct Command {
    std::string program;
    std::vector<std::string> arguments;
    friend bool operator==(const Command&, const Command&) = default;
};

// The line split as a terminal splits words (shellWords(): quotes and
// backslashes, no expansion) and its first word found as a terminal finds a
// program, in the folders of `path` unless it holds a "/". A path is taken as
// written; whether a file is there is programProblem()'s to say.
std::expected<Command, CommandProblem> resolveCommand(std::string_view line, std::string_view path);

// Why the program at this path cannot be run, as the file system tells now
// (nothing there, a folder, not executable); none when it looks runnable.
std::optional<CommandProblem> programProblem(const std::string& program);

} // namespace ravolet::platform

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "FolderTree.hpp"
#include "Platform/Linux/Desktop/DesktopExec.hpp"

namespace ravolet::platform {
namespace {

TEST(CommandLine, TheLineIsSplitAsATerminalSplitsWordsWithNoExpansionAndWhatWouldWaitForMoreIsRefused) {
    using Words = std::vector<std::string>;
    const std::pair<std::string_view, Words> rows[] = {
        {"date +%s", {"date", "+%s"}},
        {"  notify-send\t'a b'  \"c d\" ", {"notify-send", "a b", "c d"}},
        {"echo 'it'\\''s' \"say \\\"hi\\\"\"", {"echo", "it's", "say \"hi\""}},
        // Inside double quotes a backslash escapes only $ ` " \ and the newline.
        {"printf \"a\\tb\\\\c\\$d\\`e\"", {"printf", "a\\tb\\c$d`e"}},
        {"printf 'a\\tb'", {"printf", "a\\tb"}},
        {"touch a\\ b c\\\\d \\'e", {"touch", "a b", "c\\d", "'e"}},
        {"a'b'\"c\"d", {"abcd"}},
        {"x '' \"\"", {"x", "", ""}},
        {"first \\\nsecond \"third\\\nline\"", {"first", "second", "thirdline"}},
        // No shell sees it: nothing is expanded, nothing is an operator.
        {"ls $HOME ~ *.txt `id` | grep x; rm -rf / &", {"ls", "$HOME", "~", "*.txt", "`id`", "|", "grep", "x;", "rm", "-rf", "/", "&"}},
        {"", {}},
        {" \t\n ", {}},
    };
    for (const auto& [line, words] : rows) {
        EXPECT_EQ(shellWords(line), words) << line;
        // Written back, the words make a line that splits into them again.
        EXPECT_EQ(shellWords(shellLine(words)), words) << shellLine(words);
    }
    const std::pair<std::string_view, ShellWordsError> refused[] = {
        {"echo 'open", ShellWordsError::unclosedSingleQuote},
        {"echo \"open", ShellWordsError::unclosedDoubleQuote},
        {"echo \"a\\\"", ShellWordsError::unclosedDoubleQuote},
        {"echo end\\", ShellWordsError::danglingBackslash},
        {std::string_view("echo a\0b", 8), ShellWordsError::nulCharacter},
        {std::string_view("echo 'a\0b'", 10), ShellWordsError::nulCharacter},
        {std::string_view("echo \\\0", 7), ShellWordsError::nulCharacter},
    };
    for (const auto& [line, error] : refused) EXPECT_EQ(shellWords(line), std::unexpected(error)) << line;
}

TEST(CommandLine, TheProgramIsFoundAsATerminalFindsItAndEachProblemIsSaidPlainly) {
    testing::FolderTree tree("command-line");
    tree.write("bin/tool", "#!/bin/sh\n");
    ::chmod((tree.path / "bin/tool").c_str(), 0755);
    tree.write("bin/notes.txt", "not a program\n");
    std::filesystem::create_directories(tree.path / "bin/folder");
    const std::string bin = (tree.path / "bin").string();

    EXPECT_EQ(resolveCommand("tool 'a b' c", "relative:" + bin), (Command{bin + "/tool", {"a b", "c"}}));
    EXPECT_EQ(resolveCommand(bin + "/notes.txt x", ""), (Command{bin + "/notes.txt", {"x"}})) << "a path is taken as written";
    EXPECT_EQ(programProblem(bin + "/tool"), std::nullopt);

    using Kind = CommandProblem::Kind;
    const std::pair<std::optional<CommandProblem>, std::string> problems[] = {
        {resolveCommand("notes.txt", bin).error(), "No program named \u201Cnotes.txt\u201D is in the folders of your PATH."},
        {resolveCommand("   ", bin).error(), "The line names no command."},
        {resolveCommand("'' x", bin).error(), "The line names no command."},
        {resolveCommand("tool 'a", bin).error(), "A single quote (') is not closed."},
        {resolveCommand("tool \"a", bin).error(), "A double quote (\") is not closed."},
        {resolveCommand("tool a\\", bin).error(), "The line ends in a backslash with nothing after it."},
        {resolveCommand(std::string_view("tool \0", 6), bin).error(),
         "The line holds a NUL character, which no argument can carry."},
        {programProblem(bin + "/missing"), "There is no program at " + bin + "/missing."},
        {programProblem(bin + "/notes.txt"), bin + "/notes.txt is not a program Ravolet may run."},
        {programProblem(bin + "/folder"), bin + "/folder is not a program Ravolet may run."},
        {CommandProblem{Kind::didNotStart, "/usr/bin/x"}, "/usr/bin/x could not be started."},
    };
    for (const auto& [problem, text] : problems) {
        ASSERT_TRUE(problem) << text;
        EXPECT_EQ(problem->description(), text);
    }
}

} // namespace
} // namespace ravolet::platform

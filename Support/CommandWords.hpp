#pragma once

// Header-only splitting of a command line into its words, shared by the
// settings document (which reads lines saved by earlier versions) and the
// platform layer (which starts commands and desktop entries). Standard
// library only, so that using it adds no dependency between modules.

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ravolet {

// Why a line has no words a terminal would run.
enum class ShellWordsError { unclosedSingleQuote, unclosedDoubleQuote, danglingBackslash, nulCharacter };

// The words a POSIX shell makes of `line`, with no expansion of any kind:
// blanks (space, tab, newline) part words; within '…' every character is
// itself; within "…" a backslash takes the next character literally only
// before $ ` " \ (and a backslash-newline is dropped), else it is itself; an
// unquoted backslash takes the next character literally (a backslash-newline
// is dropped); quotes join what they hold to the word around them, and ''
// or "" alone is an empty word. $, `, ~, *, |, ; and the like are ordinary
// characters, since no shell ever sees the line. A line that a terminal would
// wait to see continued (an open quote, a last backslash) is refused, as is
// one holding a NUL, which no argument can carry.
inline std::expected<std::vector<std::string>, ShellWordsError> shellWords(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\0') return std::unexpected(ShellWordsError::nulCharacter);
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(std::exchange(word, {}));
            inWord = false;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos) return std::unexpected(ShellWordsError::unclosedSingleQuote);
            const std::string_view quoted = line.substr(i + 1, close - i - 1);
            if (quoted.find('\0') != std::string_view::npos) return std::unexpected(ShellWordsError::nulCharacter);
            word += quoted;
            inWord = true;
            i = close;
        } else if (c == '"') {
            inWord = true;
            for (++i;; ++i) {
                if (i == line.size()) return std::unexpected(ShellWordsError::unclosedDoubleQuote);
                const char q = line[i];
                if (q == '\0') return std::unexpected(ShellWordsError::nulCharacter);
                if (q == '"') break;
                if (q == '\\' && i + 1 < line.size() && std::string_view("$`\"\\\n").find(line[i + 1]) != std::string_view::npos) {
                    if (line[++i] != '\n') word += line[i];
                    continue;
                }
                word += q;
            }
        } else if (c == '\\') {
            if (i + 1 == line.size()) return std::unexpected(ShellWordsError::danglingBackslash);
            if (line[++i] == '\0') return std::unexpected(ShellWordsError::nulCharacter);
            if (line[i] == '\n') continue;
            word += line[i];
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

// The line that shellWords() splits into exactly `words`: each word as it
// is where it holds nothing a shell would read otherwise, else in single
// quotes (a single quote itself written '\'').
inline std::string shellLine(const std::vector<std::string>& words) {
    constexpr std::string_view plain =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=.,/:@%^";
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        const bool quoted = word.empty() || word.find_first_not_of(plain) != std::string::npos;
        if (!quoted) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

// The arguments a desktop entry's Exec value stands for (its string escapes
// already resolved, as a catalogue gives it): split at unquoted spaces, a
// double-quoted argument taken whole with its \" \` \$ \\ escapes resolved,
// and every field code (%f, %U, %i, ...) removed, since Ravolet opens an
// application with no file; "%%" is a literal "%". None when the value is
// empty or malformed (an unclosed quote, a "%" at the end). Characters the
// rules reserve but many entries leave unquoted are taken literally: no
// shell ever sees them.
inline std::optional<std::vector<std::string>> execArguments(std::string_view exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == ' ' || c == '\t') {
            if (inArgument) arguments.push_back(std::exchange(current, {}));
            inArgument = false;
            continue;
        }
        if (c == '"') {
            inArgument = true;
            for (++i;; ++i) {
                if (i == exec.size()) return std::nullopt;
                if (exec[i] == '"') break;
                if (exec[i] == '\\' && i + 1 < exec.size() && std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos)
                    ++i;
                current += exec[i];
            }
            continue;
        }
        if (c == '%') {
            if (i + 1 == exec.size()) return std::nullopt;
            // A field code stands for a file, a URL, the icon or the name:
            // nothing here, also when it is the whole argument.
            if (exec[++i] == '%') {
                current += '%';
                inArgument = true;
            }
            continue;
        }
        current += c;
        inArgument = true;
    }
    if (inArgument) arguments.push_back(std::move(current));
    if (arguments.empty()) return std::nullopt;
    return arguments;
}

} // namespace ravolet

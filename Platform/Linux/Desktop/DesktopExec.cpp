#include "Platform/Linux/Desktop/DesktopExec.hpp"

#include <unistd.h>

#include <ranges>
#include <utility>

namespace ravolet::platform {

std::optional<std::vector<std::string>> execArguments(std::string_view exec) {
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

} // namespace ravolet::platform

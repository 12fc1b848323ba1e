#include "Platform/Linux/AutostartLoginItemService.hpp"

#include <algorithm>
#include <sys/stat.h>

#include "Platform/Linux/LinuxFileSystem.hpp"

namespace ravolet::platform {

namespace {

// The program as one argument of an Exec line: quoted when it holds a
// character the line reserves, with the quote, backtick, dollar and
// backslash escaped inside the quotes, and a literal "%" doubled.
std::string execArgument(std::string_view program) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quoted = program.find_first_of(reserved) != std::string_view::npos;
    std::string argument = quoted ? "\"" : "";
    for (char c : program) {
        if (quoted && std::string_view("\"`$\\").find(c) != std::string_view::npos) argument += '\\';
        argument += c;
        if (c == '%') argument += '%';
    }
    if (quoted) argument += '"';
    return argument;
}

// A value of string type in a desktop entry: backslash and control
// characters written as escapes, so the value stays on its line.
std::string escapedValue(std::string_view text) {
    std::string value;
    for (char c : text) {
        switch (c) {
        case '\\': value += "\\\\"; break;
        case '\n': value += "\\n"; break;
        case '\t': value += "\\t"; break;
        case '\r': value += "\\r"; break;
        default: value += c;
        }
    }
    return value;
}

// Desktop entries may hold no control character: a path with one is refused
// rather than written half escaped.
bool holdsControlCharacter(std::string_view text) {
    return std::ranges::any_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Whether the entry's own group switches it off.
bool isSwitchedOff(std::string_view text) {
    bool inEntryGroup = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.starts_with('[')) {
            inEntryGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inEntryGroup || equals == std::string_view::npos) continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false")) return true;
    }
    return false;
}

std::string currentExecutable() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "ravolet";
    // Replaced since it started (a package upgrade): the link then names the
    // old, deleted file, while the program is still installed at that path.
    struct stat running{};
    const bool deleted = ::stat("/proc/self/exe", &running) == 0 && running.st_nlink == 0;
    return AutostartLoginItemService::installedPath(path.string(), deleted);
}

} // namespace

AutostartLoginItemService::AutostartLoginItemService(std::filesystem::path entryFile, std::string executable,
                                                     std::shared_ptr<FileSystem> files)
    : entryFile_(std::move(entryFile)), executable_(std::move(executable)), files_(std::move(files)) {}

std::string AutostartLoginItemService::entryText(std::string_view executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Ravolet\n"
           "Comment=Starts Ravolet when you log in\n"
           // At login Ravolet opens no window where the desktop has no tray.
           "Exec=" + escapedValue(execArgument(executable)) + " --at-login\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

LoginItemStatus AutostartLoginItemService::status() const {
    const auto text = files_->readFile(entryFile_);
    if (!text || isSwitchedOff(*text)) return LoginItemStatus::notRegistered;
    return LoginItemStatus::enabled;
}

std::string AutostartLoginItemService::installedPath(std::string runningPath, bool deleted) {
    constexpr std::string_view mark = " (deleted)";
    if (deleted && runningPath.ends_with(mark)) runningPath.resize(runningPath.size() - mark.size());
    return runningPath;
}

LoginItemResult AutostartLoginItemService::registerItem() {
    if (holdsControlCharacter(executable_))
        return std::unexpected(std::string("the program's path holds a control character, which a desktop entry "
                                           "cannot hold"));
    auto written = files_->createDirectories(entryFile_.parent_path());
    if (written) written = files_->writeFileAtomically(entryFile_, entryText(executable_));
    if (!written) return std::unexpected(written.error().description());
    return {};
}

LoginItemResult AutostartLoginItemService::unregisterItem() {
    const auto removed = files_->removeFile(entryFile_);
    if (!removed && !removed.error().isNotFound()) return std::unexpected(removed.error().description());
    return {};
}

Subscription AutostartLoginItemService::observeChanges(std::shared_ptr<Executor> executor, std::function<void()> handler) {
    return files_->watchFolder(entryFile_.parent_path(), std::move(executor),
                               [name = entryFile_.filename().string(), handler = std::move(handler)](const std::string& changed) {
                                   if (changed.empty() || changed == name) handler();
                               });
}

std::shared_ptr<AutostartLoginItemService> AutostartLoginItemService::standard() {
    return std::make_shared<AutostartLoginItemService>(LinuxFileSystem::configHome() / "autostart" / entryName,
                                                       currentExecutable(), LinuxFileSystem::shared());
}

} // namespace ravolet::platform

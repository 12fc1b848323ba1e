#include "Platform/Linux/DesktopEntryCatalogue.hpp"

#include <algorithm>
#include <cstdlib>
#include <ranges>
#include <set>

#include "Platform/Linux/LinuxFileSystem.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view suffix = ".desktop";
// The longest name of a file or folder (NAME_MAX).
constexpr std::size_t longestName = 255;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A string value with its escapes (\s, \n, \t, \r, \\) resolved.
std::string unescaped(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        default: out += value[i]; break;
        }
    }
    return out;
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

} // namespace

DesktopEntryCatalogue::DesktopEntryCatalogue(std::shared_ptr<FileSystem> files, fs::path dataHome,
                                             std::vector<fs::path> dataFolders)
    : files_(std::move(files)) {
    folders_.push_back(dataHome / "applications");
    for (const fs::path& folder : dataFolders) folders_.push_back(folder / "applications");
}

std::shared_ptr<DesktopEntryCatalogue> DesktopEntryCatalogue::standard(std::shared_ptr<FileSystem> files) {
    return forEnvironment(std::move(files), environment("XDG_DATA_HOME"), environment("XDG_DATA_DIRS"),
                          LinuxFileSystem::homeFolder());
}

std::shared_ptr<DesktopEntryCatalogue> DesktopEntryCatalogue::forEnvironment(
    std::shared_ptr<FileSystem> files, const std::optional<std::string>& xdgDataHome,
    const std::optional<std::string>& xdgDataDirs, const fs::path& home) {
    const fs::path dataHome =
        xdgDataHome && fs::path(*xdgDataHome).is_absolute() ? fs::path(*xdgDataHome) : home / ".local/share";
    std::vector<fs::path> dataFolders;
    if (xdgDataDirs) {
        for (auto part : std::views::split(std::string_view(*xdgDataDirs), ':')) {
            const fs::path folder(std::string_view(part.begin(), part.end()));
            if (folder.is_absolute()) dataFolders.push_back(folder);
        }
    }
    if (dataFolders.empty()) dataFolders = {"/usr/local/share", "/usr/share"};
    return std::make_shared<DesktopEntryCatalogue>(std::move(files), dataHome, std::move(dataFolders));
}

std::optional<DesktopApplication> DesktopEntryCatalogue::parse(std::string_view text, std::string bundleID,
                                                               fs::path location) {
    bool inMainGroup = false;
    bool seenMainGroup = false;
    std::optional<std::string> type, name, icon, startupWMClass, exec;
    bool hidden = false;
    bool noDisplay = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            // Only the first group's keys describe the application; later
            // groups are its actions.
            if (seenMainGroup) break;
            inMainGroup = line == "[Desktop Entry]";
            seenMainGroup = inMainGroup;
            continue;
        }
        if (!inMainGroup) continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string value = unescaped(trimmed(line.substr(equals + 1)));
        if (key == "Type") type = value;
        else if (key == "Name") name = value;
        else if (key == "Icon") icon = value;
        else if (key == "StartupWMClass") startupWMClass = value;
        else if (key == "Exec") exec = value;
        else if (key == "Hidden") hidden = value == "true";
        else if (key == "NoDisplay") noDisplay = value == "true";
    }
    if (type != "Application" || hidden || !name || name->empty()) return std::nullopt;
    return DesktopApplication{std::move(bundleID), *name, std::move(location), icon.value_or(""),
                              !noDisplay, startupWMClass.value_or(""), exec.value_or("")};
}

std::optional<fs::path> DesktopEntryCatalogue::entryFile(const fs::path& folder, std::string_view id) const {
    // No name on disk is longer than longestName: neither the entry itself
    // nor a sub-folder can be named by a longer part of the identifier, so
    // each folder costs at most that much, whatever the identifier's length.
    if (id.size() + suffix.size() <= longestName) {
        const fs::path direct = folder / (std::string(id) + std::string(suffix));
        if (files_->exists(direct)) return direct;
    }
    // "kde-okular" may also be "kde/okular.desktop": each "-" may stand for a
    // sub-folder.
    for (std::size_t dash = id.find('-'); dash != std::string_view::npos && dash <= longestName;
         dash = id.find('-', dash + 1)) {
        const std::string_view name = id.substr(0, dash);
        // Never a way out of the folder: a document may hold any identifier.
        if (name.empty() || name == "." || name == "..") continue;
        const fs::path sub = folder / std::string(name);
        if (!files_->exists(sub)) continue;
        if (auto found = entryFile(sub, id.substr(dash + 1))) return found;
    }
    return std::nullopt;
}

std::optional<DesktopApplication> DesktopEntryCatalogue::read(const fs::path& file, std::string bundleID) const {
    const auto text = files_->readFile(file);
    if (!text) return std::nullopt;
    return parse(*text, std::move(bundleID), file);
}

std::optional<DesktopApplication> DesktopEntryCatalogue::application(const std::string& bundleID) const {
    if (bundleID.empty() || bundleID.size() > longestIdentifier || bundleID.find('/') != std::string::npos)
        return std::nullopt;
    for (const fs::path& folder : folders_) {
        // The first folder that has the identifier decides, even when its
        // entry hides the application.
        if (auto file = entryFile(folder, bundleID)) return read(*file, bundleID);
    }
    return std::nullopt;
}

std::optional<std::string> DesktopEntryCatalogue::bundleIDOfFile(const fs::path& file) const {
    const fs::path normal = file.lexically_normal();
    const std::string fileName = normal.filename().string();
    if (fileName.size() <= suffix.size() || !fileName.ends_with(suffix)) return std::nullopt;
    std::string id = fileName.substr(0, fileName.size() - suffix.size());
    for (const fs::path& folder : folders_) {
        const fs::path relative = normal.lexically_relative(folder.lexically_normal());
        if (relative.empty() || *relative.begin() == "..") continue;
        id = relative.string();
        id.resize(id.size() - suffix.size());
        std::ranges::replace(id, '/', '-');
        break;
    }
    // An entry elsewhere (a copy on the desktop) goes by its file name.
    if (!read(normal, id)) return std::nullopt;
    return id;
}

fs::path DesktopEntryCatalogue::applicationsFolder() const {
    for (const fs::path& folder : folders_ | std::views::drop(1)) {
        const auto names = files_->listDirectory(folder);
        if (names && std::ranges::any_of(*names, [](const std::string& name) { return name.ends_with(suffix); }))
            return folder;
    }
    return folders_.front();
}

void DesktopEntryCatalogue::collectEntries(const fs::path& folder, const std::string& prefix, int depth,
                                           std::vector<std::pair<std::string, fs::path>>& entries) const {
    const auto names = files_->listDirectory(folder);
    if (!names) return;
    for (const std::string& name : *names) {
        if (name.size() > suffix.size() && name.ends_with(suffix)) {
            entries.emplace_back(prefix + name.substr(0, name.size() - suffix.size()), folder / name);
        } else if (depth > 0 && name != "." && name != "..") {
            // A sub-folder (anything else lists nothing).
            collectEntries(folder / name, prefix + name + "-", depth - 1, entries);
        }
    }
}

std::vector<DesktopApplication> DesktopEntryCatalogue::allApplications() const {
    // Deeper than any distribution nests its entries.
    constexpr int subFolderDepth = 3;
    std::set<std::string> decided;
    std::vector<DesktopApplication> applications;
    for (const fs::path& folder : folders_) {
        std::vector<std::pair<std::string, fs::path>> entries;
        collectEntries(folder, "", subFolderDepth, entries);
        for (auto& [id, file] : entries) {
            // The first folder that has the identifier decides, even when its entry hides the application.
            if (!decided.insert(id).second) continue;
            if (auto application = read(file, id)) applications.push_back(std::move(*application));
        }
    }
    return applications;
}

std::vector<DesktopApplication> DesktopEntryCatalogue::installedApplications() const {
    std::vector<DesktopApplication> applications = allApplications();
    std::erase_if(applications, [](const DesktopApplication& application) { return !application.showsInMenus; });
    return applications;
}

} // namespace ravolet::platform

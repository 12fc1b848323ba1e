#include "Platform/Linux/Desktop/WindowIdentifier.hpp"

#include <algorithm>
#include <filesystem>

#include "Platform/Linux/Desktop/DesktopExec.hpp"

namespace ravolet::platform {

namespace {

std::string folded(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return out;
}

std::string lastPart(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The program an entry's Exec starts, past an "env" and its assignments.
std::optional<std::string> execProgram(const std::string& exec) {
    const auto arguments = execArguments(exec);
    if (!arguments) return std::nullopt;
    auto argument = arguments->begin();
    if (lastPart(*argument) == "env") {
        for (++argument; argument != arguments->end() && argument->find('=') != std::string::npos; ++argument) {
        }
    }
    if (argument == arguments->end()) return std::nullopt;
    return *argument;
}

} // namespace

struct WindowIdentifier::Index {
    // What the folders listed when the index was made.
    std::vector<std::vector<std::string>> listings;
    std::unordered_map<std::string, std::string> names;        // identifier → Name
    std::unordered_map<std::string, std::string> foldedIDs;    // folded identifier → identifier
    std::unordered_map<std::string, std::string> wmClasses;    // folded StartupWMClass → identifier
    std::unordered_map<std::string, std::string> programPaths; // Exec program with a "/" → identifier
    std::unordered_map<std::string, std::string> programNames; // its last part → identifier
};

WindowIdentifier::WindowIdentifier(std::shared_ptr<const DesktopEntryCatalogue> catalogue)
    : catalogue_(std::move(catalogue)) {}

std::string WindowIdentifier::desktopID(std::string_view declared) {
    std::string id = lastPart(declared);
    if (id.ends_with(".desktop")) id.resize(id.size() - std::string_view(".desktop").size());
    if (id.starts_with("window:")) return {};
    return id;
}

std::shared_ptr<const WindowIdentifier::Index> WindowIdentifier::index() const {
    std::vector<std::vector<std::string>> listings;
    for (const auto& folder : catalogue_->folders()) {
        const auto names = catalogue_->files().listDirectory(folder);
        listings.push_back(names ? *names : std::vector<std::string>{});
    }
    {
        std::lock_guard guard(lock_);
        if (index_ && index_->listings == listings) return index_;
    }
    auto index = std::make_shared<Index>();
    index->listings = std::move(listings);
    // Earlier entries win: the catalogue lists the user's folder first.
    for (const DesktopApplication& entry : catalogue_->allApplications()) {
        index->names.emplace(entry.bundleID, entry.name);
        index->foldedIDs.emplace(folded(entry.bundleID), entry.bundleID);
        if (!entry.startupWMClass.empty()) index->wmClasses.emplace(folded(entry.startupWMClass), entry.bundleID);
        if (const auto program = execProgram(entry.exec)) {
            if (program->find('/') != std::string::npos) index->programPaths.emplace(*program, entry.bundleID);
            index->programNames.emplace(lastPart(*program), entry.bundleID);
        }
    }
    std::lock_guard guard(lock_);
    index_ = index;
    return index;
}

WindowApplication WindowIdentifier::identify(const Index& index, const WindowClues& clues) {
    const auto found = [&](const std::string& id) { return WindowApplication{id, index.names.at(id)}; };
    const auto lookUp = [](const auto& map, const std::string& key) -> const std::string* {
        const auto it = map.find(key);
        return it == map.end() ? nullptr : &it->second;
    };
    for (const std::string& declared : clues.declaredIDs) {
        const std::string id = desktopID(declared);
        if (id.empty()) continue;
        if (index.names.contains(id)) return found(id);
        if (const auto* match = lookUp(index.foldedIDs, folded(id))) return found(*match);
    }
    for (const std::string& windowClass : clues.classes)
        if (const auto* match = lookUp(index.wmClasses, folded(windowClass))) return found(*match);
    for (const std::string& windowClass : clues.classes)
        if (const auto* match = lookUp(index.foldedIDs, folded(windowClass))) return found(*match);
    if (clues.executable) {
        if (const auto* match = lookUp(index.programPaths, *clues.executable)) return found(*match);
        if (const auto* match = lookUp(index.programNames, lastPart(*clues.executable))) return found(*match);
    }
    // Nothing installed matches: the user still sees what the window is.
    for (const std::string& windowClass : clues.classes)
        if (!windowClass.empty()) return {std::nullopt, windowClass};
    for (const std::string& declared : clues.declaredIDs)
        if (auto id = desktopID(declared); !id.empty()) return {std::nullopt, id};
    return {std::nullopt, clues.executable ? lastPart(*clues.executable) : std::string()};
}

WindowApplication WindowIdentifier::identify(const WindowClues& clues) const { return identify(*index(), clues); }

std::vector<WindowApplication> WindowIdentifier::identify(const std::vector<WindowClues>& windows) const {
    const auto current = index();
    std::vector<WindowApplication> applications;
    applications.reserve(windows.size());
    for (const WindowClues& clues : windows) applications.push_back(identify(*current, clues));
    return applications;
}

} // namespace ravolet::platform

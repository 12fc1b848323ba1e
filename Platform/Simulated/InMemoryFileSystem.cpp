#include "Platform/Simulated/InMemoryFileSystem.hpp"

#include <cerrno>
#include <utility>
#include <vector>

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

fs::path normal(const fs::path& path) {
    auto result = path.lexically_normal();
    // "/a/b/" names the same folder as "/a/b".
    if (!result.has_filename() && result.has_parent_path() && result != result.root_path()) result = result.parent_path();
    return result;
}

std::unexpected<FileError> error(std::string operation, const fs::path& path, int code, const fs::path& destination = {}) {
    return std::unexpected(FileError{std::move(operation), path, destination, code, {}});
}

} // namespace

InMemoryFileSystem::InMemoryFileSystem(fs::path settingsFolder) : settingsFolder_(std::move(settingsFolder)) {}

fs::path InMemoryFileSystem::settingsFolder() const { return settingsFolder_; }

std::vector<fs::path> InMemoryFileSystem::spareFolders() const {
    std::lock_guard guard(lock_);
    return spareFolders_;
}

void InMemoryFileSystem::setSpareFolders(std::vector<fs::path> folders) {
    std::lock_guard guard(lock_);
    spareFolders_ = std::move(folders);
}

std::optional<int> InMemoryFileSystem::failure(Operation operation) const {
    const auto it = failures_.find(operation);
    if (it == failures_.end() || it->second == 0) return std::nullopt;
    return it->second;
}

bool InMemoryFileSystem::isFolder(const fs::path& path) const {
    return path == path.root_path() || folders_.contains(path);
}

FileResult<void> InMemoryFileSystem::createDirectories(const fs::path& folder) {
    std::vector<fs::path> missing;
    {
        std::lock_guard guard(lock_);
        if (const auto code = failure(Operation::createDirectories)) return error("create folder", folder, *code);
        const fs::path target = normal(folder);
        for (fs::path p = target; !p.empty() && !isFolder(p); p = p.parent_path()) {
            if (files_.contains(p)) return error("create folder", folder, p == target ? EEXIST : ENOTDIR);
            missing.push_back(p);
            if (p == p.parent_path()) break;
        }
        folders_.insert(missing.begin(), missing.end());
    }
    for (auto made = missing.rbegin(); made != missing.rend(); ++made) changed(*made);
    return {};
}

FileResult<std::string> InMemoryFileSystem::readFile(const fs::path& file) const {
    std::lock_guard guard(lock_);
    if (const auto code = failure(Operation::read)) return error("read", file, *code);
    const fs::path target = normal(file);
    if (isFolder(target)) return error("read", file, EISDIR);
    const auto it = files_.find(target);
    if (it == files_.end()) return error("read", file, ENOENT);
    if (it->second.size() > maximumReadSize) return error("read", file, EFBIG);
    return it->second;
}

FileResult<void> InMemoryFileSystem::writeFileAtomically(const fs::path& file, std::string_view bytes) {
    if (auto written = writeFileAtomicallyIf(file, bytes, {}); !written) return std::unexpected(written.error());
    return {};
}

void InMemoryFileSystem::whileWriting(std::function<void()> hook) {
    std::lock_guard guard(lock_);
    whileWriting_ = std::move(hook);
}

FileResult<bool> InMemoryFileSystem::writeFileAtomicallyIf(const fs::path& file, std::string_view bytes,
                                                           const std::function<bool()>& unchanged) {
    std::function<void()> hook;
    {
        std::lock_guard guard(lock_);
        hook = whileWriting_;
    }
    if (hook) hook();
    if (unchanged && !unchanged()) return false;
    auto result = [&]() -> FileResult<void> {
        std::lock_guard guard(lock_);
        if (const auto code = failure(Operation::write)) return error("write", file, *code);
        const fs::path target = normal(file);
        if (!isFolder(target.parent_path())) return error("write", file, ENOENT);
        if (isFolder(target)) return error("write", file, EISDIR);
        files_[target] = std::string(bytes);
        ++writes_;
        return {};
    }();
    if (!result) return std::unexpected(result.error());
    changed(normal(file));
    return true;
}

FileResult<int> InMemoryFileSystem::removeLeftoverTemporaries(const fs::path&) { return 0; }

FileResult<void> InMemoryFileSystem::removeFile(const fs::path& file) {
    auto result = [&]() -> FileResult<void> {
        std::lock_guard guard(lock_);
        if (const auto code = failure(Operation::remove)) return error("remove", file, *code);
        const fs::path target = normal(file);
        if (isFolder(target)) return error("remove", file, EISDIR);
        if (files_.erase(target) == 0) return error("remove", file, ENOENT);
        ++removes_;
        return {};
    }();
    if (result) changed(normal(file));
    return result;
}

FileResult<void> InMemoryFileSystem::moveWithoutReplacing(const fs::path& from, const fs::path& to) {
    auto result = [&]() -> FileResult<void> {
        std::lock_guard guard(lock_);
        if (const auto code = failure(Operation::move)) return error("move", from, *code, to);
        const fs::path source = normal(from), destination = normal(to);
        const auto it = files_.find(source);
        if (it == files_.end()) return error("move", from, ENOENT, to);
        if (files_.contains(destination) || isFolder(destination)) return error("move", from, EEXIST, to);
        if (!isFolder(destination.parent_path())) return error("move", from, ENOENT, to);
        auto bytes = std::move(it->second);
        files_.erase(it);
        files_.emplace(destination, std::move(bytes));
        return {};
    }();
    if (result) {
        changed(normal(from));
        changed(normal(to));
    }
    return result;
}

bool InMemoryFileSystem::exists(const fs::path& path) const {
    std::lock_guard guard(lock_);
    const fs::path target = normal(path);
    return isFolder(target) || files_.contains(target);
}

FileResult<std::vector<std::string>> InMemoryFileSystem::listDirectory(const fs::path& folder) const {
    std::lock_guard guard(lock_);
    if (const auto code = failure(Operation::list)) return error("list", folder, *code);
    const fs::path target = normal(folder);
    if (!isFolder(target)) return error("list", folder, files_.contains(target) ? ENOTDIR : ENOENT);
    std::set<std::string> names;
    for (const auto& [path, bytes] : files_)
        if (path.parent_path() == target) names.insert(path.filename().string());
    for (const auto& path : folders_)
        if (path.parent_path() == target && path != target) names.insert(path.filename().string());
    return std::vector<std::string>(names.begin(), names.end());
}

void InMemoryFileSystem::fail(Operation operation, int code) {
    std::lock_guard guard(lock_);
    failures_[operation] = code;
}

void InMemoryFileSystem::putFile(const fs::path& file, std::string bytes) {
    const fs::path target = normal(file);
    (void)createDirectories(target.parent_path());
    {
        std::lock_guard guard(lock_);
        files_[target] = std::move(bytes);
    }
    changed(target);
}

Subscription InMemoryFileSystem::watchFolder(const fs::path& folder, std::shared_ptr<Executor> executor,
                                             FolderChangeHandler handler) {
    std::lock_guard guard(lock_);
    const std::uint64_t id = nextWatch_++;
    watches_.emplace(id, Watch{normal(folder), std::move(executor), std::make_shared<FolderChangeHandler>(std::move(handler))});
    return Subscription([this, id] {
        std::lock_guard guard(lock_);
        watches_.erase(id);
    });
}

void InMemoryFileSystem::changed(const fs::path& path) {
    std::vector<std::pair<Watch, std::string>> told;
    {
        std::lock_guard guard(lock_);
        for (const auto& [id, watch] : watches_) {
            if (watch.folder == path.parent_path()) told.emplace_back(watch, path.filename().string());
            if (watch.folder == path) told.emplace_back(watch, std::string());
        }
    }
    for (auto& [watch, name] : told) {
        // Only the watch holds its handler: one dropped since hears nothing more.
        watch.executor->post([handler = std::weak_ptr(watch.handler), name = std::move(name)] {
            if (const auto live = handler.lock()) (*live)(name);
        });
    }
}

std::uint64_t InMemoryFileSystem::writeCount() const {
    std::lock_guard guard(lock_);
    return writes_;
}

std::uint64_t InMemoryFileSystem::removeCount() const {
    std::lock_guard guard(lock_);
    return removes_;
}

} // namespace ravolet::platform

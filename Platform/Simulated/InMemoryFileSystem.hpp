#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "Platform/FileSystem.hpp"

namespace ravolet::platform {

// Files and folders in memory, with failures on demand. Paths are taken as
// given (made lexically normal); "/" always exists. Safe from any thread.
class InMemoryFileSystem final : public FileSystem {
public:
    enum class Operation { createDirectories, read, write, remove, move, list };

    explicit InMemoryFileSystem(std::filesystem::path settingsFolder = "/home/user/.config/ravolet");

    std::filesystem::path settingsFolder() const override;
    // As set, none at first.
    std::vector<std::filesystem::path> spareFolders() const override;
    void setSpareFolders(std::vector<std::filesystem::path> folders);
    FileResult<void> createDirectories(const std::filesystem::path& folder) override;
    FileResult<std::string> readFile(const std::filesystem::path& file) const override;
    FileResult<void> writeFileAtomically(const std::filesystem::path& file, std::string_view bytes) override;
    // Asks once the hook set with whileWriting() has run, right before replacing.
    FileResult<bool> writeFileAtomicallyIf(const std::filesystem::path& file, std::string_view bytes,
                                           const std::function<bool()>& unchanged) override;
    // Runs in every later write, while its bytes go to disk and before they
    // replace the file: what another program does meanwhile (none: nothing).
    void whileWriting(std::function<void()> hook);
    // Writes here are whole at once and leave nothing behind.
    FileResult<int> removeLeftoverTemporaries(const std::filesystem::path& file) override;
    FileResult<void> removeFile(const std::filesystem::path& file) override;
    FileResult<void> moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) override;
    bool exists(const std::filesystem::path& path) const override;
    FileResult<std::vector<std::string>> listDirectory(const std::filesystem::path& folder) const override;
    // Hears of every write, removal and move made here (putFile() too), and
    // of the folder's making. The subscription must not outlive the file system.
    Subscription watchFolder(const std::filesystem::path& folder, std::shared_ptr<Executor> executor,
                             FolderChangeHandler handler) override;

    // Every later call of the operation fails with the errno value (0: works again).
    void fail(Operation operation, int code);
    // A file put in place directly (its folders created), as if by another program.
    void putFile(const std::filesystem::path& file, std::string bytes);
    // How many writes and removals succeeded so far.
    std::uint64_t writeCount() const;
    std::uint64_t removeCount() const;

private:
    struct Watch {
        std::filesystem::path folder;
        std::shared_ptr<Executor> executor;
        std::shared_ptr<FolderChangeHandler> handler;
    };

    std::optional<int> failure(Operation operation) const;
    // Tells the watches of the path's folder that the path changed, and those
    // of the path itself (a folder made) that anything may have. Without the lock.
    void changed(const std::filesystem::path& path);
    bool isFolder(const std::filesystem::path& path) const;

    const std::filesystem::path settingsFolder_;
    mutable std::mutex lock_;
    std::map<std::filesystem::path, std::string> files_;
    std::set<std::filesystem::path> folders_;
    std::map<Operation, int> failures_;
    std::vector<std::filesystem::path> spareFolders_;
    std::function<void()> whileWriting_;
    std::uint64_t writes_ = 0;
    std::uint64_t removes_ = 0;
    std::map<std::uint64_t, Watch> watches_;
    std::uint64_t nextWatch_ = 1;
};

} // namespace ravolet::platform

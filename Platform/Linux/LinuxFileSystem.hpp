#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/FileSystem.hpp"

namespace ravolet::platform {

// The file system of this machine.
//
// Atomic writes go through a temporary file in the same folder that is
// flushed to disk (fsync) and renamed over the target; the folder is flushed
// after the rename. The temporary file is hidden and named with a prefix of
// the program's own, the target's name and six random letters and digits
// (".ravolet-tmp.config.json.Ab12Cd"), which is how its leftovers are found
// and told apart from the user's files; it is locked (flock) from its making
// until it has been renamed, so that a sweep of leftovers passes over the
// ones being written. A replaced file keeps its permission bits; a new one is
// private to the user (0600). A symbolic link is followed to its target,
// whose folder holds the temporary file. Moves that must not replace use renameat2 with
// RENAME_NOREPLACE, or link and unlink where the file system lacks it.
class LinuxFileSystem final : public FileSystem {
public:
    // What every temporary file's name starts with.
    static constexpr std::string_view temporaryMark = ".ravolet-tmp.";

    // $XDG_CONFIG_HOME/ravolet, else ~/.config/ravolet (the home folder from
    // $HOME, else the user database).
    std::filesystem::path settingsFolder() const override;
    // $XDG_RUNTIME_DIR/ravolet (a memory-backed folder while the user is
    // logged in), then $XDG_CACHE_HOME/ravolet, else ~/.cache/ravolet; only
    // absolute folders count. Given ones instead, where the caller says.
    std::vector<std::filesystem::path> spareFolders() const override;

    LinuxFileSystem() = default;
    explicit LinuxFileSystem(std::vector<std::filesystem::path> spareFolders) : spareFolders_(std::move(spareFolders)) {}

    FileResult<void> createDirectories(const std::filesystem::path& folder) override;
    FileResult<std::string> readFile(const std::filesystem::path& file) const override;
    FileResult<void> writeFileAtomically(const std::filesystem::path& file, std::string_view bytes) override;
    // Asks after the new bytes are flushed, right before the rename.
    std::filesystem::path followLinks(const std::filesystem::path& file) const override;
    FileResult<bool> writeFileAtomicallyIf(const std::filesystem::path& file, std::string_view bytes,
                                           const std::function<bool()>& unchanged) override;
    // Only names made by writeFileAtomically, and only unlocked ones.
    FileResult<int> removeLeftoverTemporaries(const std::filesystem::path& file) override;
    FileResult<void> removeFile(const std::filesystem::path& file) override;
    FileResult<void> moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) override;
    bool exists(const std::filesystem::path& path) const override;
    FileResult<std::vector<std::string>> listDirectory(const std::filesystem::path& folder) const override;
    // flock on a descriptor of the process's own (never inherited by a child).
    FileResult<std::shared_ptr<void>> tryLock(const std::filesystem::path& file) override;
    // Through the process's FolderWatcher (inotify).
    Subscription watchFolder(const std::filesystem::path& folder, std::shared_ptr<Executor> executor,
                             FolderChangeHandler handler) override;
    // A symbolic link is followed: the kernel tells of a change where the
    // changed file lives, so the folder of the link's final target is watched
    // beside the link's own, and a link pointed elsewhere is followed there.
    Subscription watchFile(const std::filesystem::path& file, std::shared_ptr<Executor> executor,
                           std::function<void()> handler) override;

    // The settings folder for these environment values. XDG_CONFIG_HOME counts
    // only when it is an absolute path, as the base-directory rules say.
    static std::filesystem::path settingsFolderFor(const std::optional<std::string>& xdgConfigHome,
                                                   const std::filesystem::path& home);
    // The user's configuration folder: $XDG_CONFIG_HOME, else ~/.config.
    static std::filesystem::path configHome();
    static std::filesystem::path configHomeFor(const std::optional<std::string>& xdgConfigHome,
                                               const std::filesystem::path& home);

    // $HOME, else the user database's home folder, else "/".
    static std::filesystem::path homeFolder();

    static std::shared_ptr<LinuxFileSystem> shared();

private:
    std::optional<std::vector<std::filesystem::path>> spareFolders_;
};

} // namespace ravolet::platform

#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Executor.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// A failed file operation: what was tried, on which path, and the system's
// error number.
struct FileError {
    // "read", "write", "create folder", "remove", "move", "list", "lock".
    std::string operation;
    std::filesystem::path path;
    // The destination of a move.
    std::filesystem::path destination;
    // An errno value.
    int code = 0;
    // Says what is wrong where no errno value does ("it is a named pipe, not
    // a regular file"); empty: the system's text for the code.
    std::string reason;

    // "cannot write /home/u/.config/ravolet/config.json: No space left on device";
    // a move names both paths ("cannot move a to b: File exists").
    std::string description() const;
    bool isNotFound() const;

    friend bool operator==(const FileError&, const FileError&) = default;
};
std::ostream& operator<<(std::ostream& os, const FileError& error);

// The system's text for an errno value ("Permission denied"), in English
// whatever the locale.
std::string errorText(int code);

template <class T>
using FileResult = std::expected<T, FileError>;

// Files and folders of the program: small documents read whole and replaced
// whole. Each operation reports its failure as a value; none throws.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The folder of the program's own files (settings, preferences, captures).
    // Not created by asking.
    virtual std::filesystem::path settingsFolder() const = 0;

    // Folders of the program's own on other disks than the settings folder's
    // as a rule, most fitting first, for what cannot be kept there (a full
    // disk): none of them created by asking.
    virtual std::vector<std::filesystem::path> spareFolders() const = 0;

    // The folder and any missing parents; an existing folder is no error.
    virtual FileResult<void> createDirectories(const std::filesystem::path& folder) = 0;
    // The largest file readFile() reads: far beyond anything the program
    // writes, and small enough that a hostile file cannot exhaust memory.
    static constexpr std::uintmax_t maximumReadSize = 16 * 1024 * 1024;

    // The whole file. Only a regular file (links followed) of at most
    // maximumReadSize bytes is read; anything else (a named pipe, a device,
    // a folder, a larger file) fails at once, without blocking.
    virtual FileResult<std::string> readFile(const std::filesystem::path& file) const = 0;
    // Replaces the file in one step: a reader sees the old bytes or the new
    // ones, never a mixture, and a failed write leaves the old file as it was.
    // A symbolic link is written through: its target is replaced and the link
    // stays. The folder must exist.
    virtual FileResult<void> writeFileAtomically(const std::filesystem::path& file, std::string_view bytes) = 0;
    // As writeFileAtomically, but the file is replaced only while `unchanged`
    // still holds once the new bytes are on disk (which a slow disk can take
    // seconds for), just before they replace it: false, and nothing
    // replaced, when it no longer does. No check: always replaced.
    virtual FileResult<bool> writeFileAtomicallyIf(const std::filesystem::path& file, std::string_view bytes,
                                                    const std::function<bool()>& unchanged) = 0;
    // Removes what interrupted atomic writes of the file left behind (their
    // temporary files beside it, or beside its link's target), never a file
    // a write still in progress holds. How many went.
    virtual FileResult<int> removeLeftoverTemporaries(const std::filesystem::path& file) = 0;
    // Removes a file (a missing one is an error, isNotFound()).
    virtual FileResult<void> removeFile(const std::filesystem::path& file) = 0;
    // Moves a file to a new name in the same file system; fails (EEXIST) when
    // something already has that name, which is never replaced. Only a
    // regular file in a folder of the user's own is moved: anything else (a
    // link, a device node, a file in another user's folder) fails (EPERM)
    // and stays where it is.
    virtual FileResult<void> moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    virtual bool exists(const std::filesystem::path& path) const = 0;
    // Where the file really is: its symbolic links followed (to a target that
    // may not exist yet). Where there are none, or links go round in
    // circles, the path itself.
    virtual std::filesystem::path followLinks(const std::filesystem::path& file) const { return file; }
    // The names in a folder, sorted.
    virtual FileResult<std::vector<std::string>> listDirectory(const std::filesystem::path& folder) const = 0;

    // An exclusive hold on the lock file `file` (made empty where missing,
    // never removed: removing it would let two holders in), for as long as
    // the result lives, against every other hold in this process or any
    // other; it ends with the process too. Never waits: fails (EWOULDBLOCK)
    // while someone else holds it; any other error (a file system that takes
    // no locks) says nothing of whether someone does. The folder must
    // exist. Here: files no other process shares, and so taken at once.
    virtual FileResult<std::shared_ptr<void>> tryLock(const std::filesystem::path& file) {
        (void)file;
        return std::make_shared<int>(0);
    }

    // The name of an entry that changed; empty when anything in the folder
    // may have.
    using FolderChangeHandler = std::function<void(const std::string& name)>;
    // Calls `handler` on `executor` whenever a file in `folder` is written,
    // created, moved in or out or removed, by this program or any other,
    // until the subscription is dropped; a folder that does not exist yet is
    // heard of once it comes. One that cannot be watched tells nothing.
    virtual Subscription watchFolder(const std::filesystem::path& folder, std::shared_ptr<Executor> executor,
                                     FolderChangeHandler handler) = 0;
    // Calls `handler` on `executor` whenever `file` may have changed: written
    // in place, replaced by a rename, created or removed, by this program or
    // any other, until the subscription is dropped. Here: whatever
    // watchFolder tells of its name, or of anything in its folder.
    virtual Subscription watchFile(const std::filesystem::path& file, std::shared_ptr<Executor> executor,
                                   std::function<void()> handler);
};

} // namespace ravolet::platform

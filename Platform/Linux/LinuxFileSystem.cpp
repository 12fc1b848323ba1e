#include "Platform/Linux/LinuxFileSystem.hpp"

#include <algorithm>
#include <cctype>
#include <expected>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <optional>
#include <utility>

#include <fmt/format.h>

#include "Platform/Linux/FolderWatcher.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

FileError failure(std::string operation, const fs::path& path, int code, const fs::path& destination = {}) {
    return FileError{std::move(operation), path, destination, code, {}};
}

std::unexpected<FileError> fail(std::string operation, const fs::path& path, int code = errno,
                                 const fs::path& destination = {}) {
    return std::unexpected(failure(std::move(operation), path, code, destination));
}

// Closes a descriptor once.
struct Descriptor {
    int fd = -1;
    ~Descriptor() { reset(); }
    int reset() {
        const int result = fd >= 0 ? ::close(fd) : 0;
        fd = -1;
        return result;
    }
};

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

fs::path home() {
    if (auto home = environment("HOME")) return *home;
    // No $HOME: the user database. getpwuid_r with a growing buffer.
    std::vector<char> buffer(1024);
    passwd entry{};
    passwd* result = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == ERANGE && buffer.size() < 1 << 20)
        buffer.resize(buffer.size() * 2);
    if (result && result->pw_dir) return result->pw_dir;
    return "/";
}

FileResult<void> writeAll(int fd, std::string_view bytes, const fs::path& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail("write", path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// "a named pipe": what a file that is not regular is, for the user.
std::string_view kindOfFile(mode_t mode) {
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

// The file a path names once its symbolic links are followed (the last one
// may name a file that does not exist yet); an errno value when the links
// go round in circles.
std::expected<fs::path, int> linkTarget(const fs::path& file) {
    fs::path current = file;
    // The kernel's own limit on links in one lookup.
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        const auto status = fs::symlink_status(current, error);
        if (error || !fs::is_symlink(status)) return current;
        const fs::path target = fs::read_symlink(current, error);
        if (error) return std::unexpected(error.value());
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return std::unexpected(ELOOP);
}

// The name an atomic write of `file` gives its temporary file, less the six
// characters mkostemp adds: hidden, beside the file, and starting with a
// prefix of ours, so that no file of the user's is ever taken for one.
std::string temporaryPrefix(const fs::path& file) {
    return std::string(LinuxFileSystem::temporaryMark) + file.filename().string() + ".";
}

// A descriptor an exclusive flock can be taken through: open for writing,
// for over NFS an exclusive flock is a lock of the whole file on the
// server, which needs a descriptor open for writing (flock(2)). Read only
// where the file is there but may not be written (a read-only file system,
// a file made read-only): that still locks on a local disk.
int openToLock(const fs::path& file, int flags, mode_t mode = 0) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | flags, mode);
    if (fd >= 0 || (errno != EACCES && errno != EROFS)) return fd;
    return ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (flags & ~O_CREAT));
}

// A fresh temporary file for an atomic write, locked for as long as its
// descriptor is open: a sweep of leftovers (this program's at its start, or
// another copy's beside a shared link target) leaves locked ones alone.
// A sweep that took the file between its making and its locking has removed
// it: then another is made.
std::expected<std::pair<int, std::string>, int> lockedTemporary(const fs::path& folder, const fs::path& target) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string name = (folder / temporaryPrefix(target)).string() + "XXXXXX";
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return std::unexpected(errno);
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        struct stat info{};
        if (locked == 0 && ::fstat(fd, &info) == 0 && info.st_nlink > 0) return std::pair(fd, std::move(name));
        const int code = locked != 0 ? errno : 0;
        ::close(fd);
        if (code != 0) {
            ::unlink(name.c_str());
            return std::unexpected(code);
        }
    }
    return std::unexpected(EAGAIN);
}

} // namespace

fs::path LinuxFileSystem::homeFolder() { return home(); }

fs::path LinuxFileSystem::configHomeFor(const std::optional<std::string>& xdgConfigHome, const fs::path& home) {
    if (xdgConfigHome && fs::path(*xdgConfigHome).is_absolute()) return *xdgConfigHome;
    return home / ".config";
}

fs::path LinuxFileSystem::configHome() { return configHomeFor(environment("XDG_CONFIG_HOME"), home()); }

fs::path LinuxFileSystem::settingsFolderFor(const std::optional<std::string>& xdgConfigHome, const fs::path& home) {
    return configHomeFor(xdgConfigHome, home) / "ravolet";
}

fs::path LinuxFileSystem::settingsFolder() const { return configHome() / "ravolet"; }

std::vector<fs::path> LinuxFileSystem::spareFolders() const {
    if (spareFolders_) return *spareFolders_;
    std::vector<fs::path> folders;
    // The cache folder first: it outlasts the session, where the runtime
    // folder is emptied at logout, which is when a signal most often ends us.
    // The runtime folder is still another disk when the home disk is full.
    for (const auto& [variable, fallback] : {std::pair<const char*, fs::path>{"XDG_CACHE_HOME", home() / ".cache"},
                                             std::pair<const char*, fs::path>{"XDG_RUNTIME_DIR", {}}}) {
        const auto value = environment(variable);
        if (value && fs::path(*value).is_absolute()) {
            folders.push_back(fs::path(*value) / "ravolet");
        } else if (!fallback.empty()) {
            folders.push_back(fallback / "ravolet");
        }
    }
    return folders;
}

FileResult<void> LinuxFileSystem::createDirectories(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return fail("create folder", folder, error.value());
    return {};
}

FileResult<std::string> LinuxFileSystem::readFile(const fs::path& file) const {
    // Non-blocking, so that a named pipe with no writer cannot hang the
    // program; whatever is not a regular file is refused before any read.
    Descriptor d{::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (d.fd < 0) return fail("read", file);
    struct stat info{};
    if (::fstat(d.fd, &info) != 0) return fail("read", file);
    if (S_ISDIR(info.st_mode)) return fail("read", file, EISDIR);
    if (!S_ISREG(info.st_mode)) {
        auto refused = failure("read", file, EINVAL);
        refused.reason = fmt::format("it is {}, not a regular file", kindOfFile(info.st_mode));
        return std::unexpected(std::move(refused));
    }
    const auto tooLarge = [&] {
        auto refused = failure("read", file, EFBIG);
        refused.reason = fmt::format("it is larger than {} MiB", maximumReadSize / (1024 * 1024));
        return std::unexpected(std::move(refused));
    };
    if (static_cast<std::uintmax_t>(info.st_size) > maximumReadSize) return tooLarge();
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(d.fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            return fail("read", file);
        }
        if (count == 0) return bytes;
        // The file may grow while it is read.
        if (bytes.size() + static_cast<std::size_t>(count) > maximumReadSize) return tooLarge();
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

fs::path LinuxFileSystem::followLinks(const fs::path& file) const { return linkTarget(file).value_or(file); }

FileResult<void> LinuxFileSystem::writeFileAtomically(const fs::path& file, std::string_view bytes) {
    if (auto written = writeFileAtomicallyIf(file, bytes, {}); !written) return std::unexpected(written.error());
    return {};
}

FileResult<bool> LinuxFileSystem::writeFileAtomicallyIf(const fs::path& file, std::string_view bytes,
                                                        const std::function<bool()>& unchanged) {
    // Through a link to its target, so that a linked file (kept with the
    // user's other settings elsewhere) stays linked.
    const auto target = linkTarget(file);
    if (!target) return fail("write", file, target.error());
    const fs::path folder = target->has_parent_path() ? target->parent_path() : fs::path(".");
    auto made = lockedTemporary(folder, *target);
    if (!made) return fail("write", file, made.error());
    Descriptor d{made->first};
    const std::string temporary = std::move(made->second);

    auto abandon = [&](int code) {
        d.reset();
        ::unlink(temporary.c_str());
        return fail("write", file, code);
    };
    // A replaced file keeps its permissions.
    struct stat existing{};
    if (::stat(target->c_str(), &existing) == 0 && ::fchmod(d.fd, existing.st_mode & 07777) != 0) return abandon(errno);
    if (auto written = writeAll(d.fd, bytes, file); !written) return abandon(written.error().code);
    if (::fsync(d.fd) != 0) return abandon(errno);
    if (unchanged && !unchanged()) {
        d.reset();
        ::unlink(temporary.c_str());
        return false;
    }
    // Renamed while still open, so still locked: a sweep never sees it unlocked under its temporary name.
    if (::rename(temporary.c_str(), target->c_str()) != 0) return abandon(errno);
    // The bytes are on disk: the close can no longer lose them.
    d.reset();

    // Make the rename itself durable; a failure here no longer loses the file.
    Descriptor directory{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (directory.fd >= 0) ::fsync(directory.fd);
    return true;
}

FileResult<int> LinuxFileSystem::removeLeftoverTemporaries(const fs::path& file) {
    const auto target = linkTarget(file);
    if (!target) return fail("list", file, target.error());
    const fs::path folder = target->has_parent_path() ? target->parent_path() : fs::path(".");
    const std::string prefix = temporaryPrefix(*target);
    const auto names = listDirectory(folder);
    if (!names) return std::unexpected(names.error());
    int removed = 0;
    for (const std::string& name : *names) {
        // mkostemp's six letters and digits after the prefix.
        const std::string_view rest = std::string_view(name).substr(std::min(name.size(), prefix.size()));
        if (!name.starts_with(prefix) || rest.size() != 6 ||
            !std::ranges::all_of(rest, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
            continue;
        const fs::path leftover = folder / name;
        struct stat opened{}, named{};
        // Nothing but a regular file is opened: opening a device node may do something.
        if (::lstat(leftover.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) continue;
        Descriptor d{openToLock(leftover, O_NONBLOCK | O_NOCTTY)};
        if (d.fd < 0 || ::fstat(d.fd, &opened) != 0 || !S_ISREG(opened.st_mode)) continue;
        // A copy of the program that is writing it holds its lock.
        if (::flock(d.fd, LOCK_EX | LOCK_NB) != 0) continue;
        // Still the file that was locked under that name.
        if (::lstat(leftover.c_str(), &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino)
            continue;
        if (::unlink(leftover.c_str()) == 0) ++removed;
    }
    return removed;
}

FileResult<void> LinuxFileSystem::removeFile(const fs::path& file) {
    if (::unlink(file.c_str()) != 0) return fail("remove", file);
    return {};
}

FileResult<std::shared_ptr<void>> LinuxFileSystem::tryLock(const fs::path& file) {
    const int fd = openToLock(file, O_CREAT, 0600);
    if (fd < 0) return fail("lock", file);
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int code = errno;
        ::close(fd);
        return fail("lock", file, code);
    }
    return std::shared_ptr<void>(new int(fd), [](void* held) {
        ::close(*static_cast<int*>(held));
        delete static_cast<int*>(held);
    });
}

FileResult<void> LinuxFileSystem::moveWithoutReplacing(const fs::path& from, const fs::path& to) {
    // Only a regular file, in a folder of the user's own, is ever renamed: a
    // name that leads to a device node, a link, or a folder of another user's
    // (a settings file linked from there) is left where it is. The folder is
    // held open from the look to the rename, so the look is at what is moved;
    // only its owner can put something else under the name in between.
    const fs::path folder = from.has_parent_path() ? from.parent_path() : fs::path(".");
    const std::string name = from.filename().string();
    Descriptor directory{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (directory.fd < 0) return fail("move", from, errno, to);
    struct stat owner{}, info{};
    if (::fstat(directory.fd, &owner) != 0 || ::fstatat(directory.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return fail("move", from, errno, to);
    const auto refused = [&](std::string reason) {
        auto error = failure("move", from, EPERM, to);
        error.reason = std::move(reason);
        return std::unexpected(std::move(error));
    };
    if (S_ISLNK(info.st_mode)) return refused("it is a symbolic link, not a regular file");
    if (S_ISDIR(info.st_mode)) return refused("it is a folder, not a regular file");
    if (!S_ISREG(info.st_mode)) return refused(fmt::format("it is {}, not a regular file", kindOfFile(info.st_mode)));
    if (owner.st_uid != ::geteuid()) return refused(fmt::format("its folder {} belongs to another user", folder.string()));
    if (::renameat2(directory.fd, name.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return fail("move", from, errno, to);
    // The file system cannot rename without replacing: link (which never
    // replaces) and then unlink the old name.
    if (::linkat(directory.fd, name.c_str(), AT_FDCWD, to.c_str(), 0) != 0) return fail("move", from, errno, to);
    if (::unlinkat(directory.fd, name.c_str(), 0) != 0) {
        const int code = errno;
        ::unlink(to.c_str());
        return fail("move", from, code, to);
    }
    return {};
}

bool LinuxFileSystem::exists(const fs::path& path) const {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0;
}

FileResult<std::vector<std::string>> LinuxFileSystem::listDirectory(const fs::path& folder) const {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return fail("list", folder, error.value());
    std::vector<std::string> names;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) return fail("list", folder, error.value());
        names.push_back(it->path().filename().string());
    }
    if (error) return fail("list", folder, error.value());
    std::sort(names.begin(), names.end());
    return names;
}

Subscription LinuxFileSystem::watchFolder(const fs::path& folder, std::shared_ptr<Executor> executor,
                                          FolderChangeHandler handler) {
    const auto watcher = FolderWatcher::shared();
    if (!watcher) return {};
    return watcher->watch(folder, FolderWatcher::Changes::contents, std::move(executor), std::move(handler));
}

namespace {

// One watched file that may be a symbolic link: its own folder is watched for
// the link itself (made, removed, pointed elsewhere), and the folder of what
// it points to for the file's contents. Re-pointed, the second watch moves.
class FollowedFile : public std::enable_shared_from_this<FollowedFile> {
public:
    FollowedFile(std::shared_ptr<FolderWatcher> watcher, fs::path file, std::shared_ptr<Executor> executor,
                 std::function<void()> handler)
        : watcher_(std::move(watcher)), file_(std::move(file)), executor_(std::move(executor)), handler_(std::move(handler)) {}

    void start() {
        auto onLink = watcher_->watch(file_.parent_path(), FolderWatcher::Changes::contents, executor_,
                                        [weak = weak_from_this(), name = file_.filename().string()](const std::string& changed) {
                                            const auto self = weak.lock();
                                            if (!self || (!changed.empty() && changed != name)) return;
                                            self->follow();
                                            self->changed();
                                        });
        {
            std::lock_guard lock(mutex_);
            onLink_ = std::move(onLink);
        }
        // Watched first, looked at second: a link pointed elsewhere in between is heard.
        follow();
    }

    void cancel() {
        Subscription onLink, onTarget;
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
            onLink = std::move(onLink_);
            onTarget = std::move(onTarget_);
        }
    }

private:
    // Where the link leads now (every link on the way resolved); none for a
    // file that is no link.
    std::optional<fs::path> target() const {
        std::error_code error;
        if (!fs::is_symlink(file_, error)) return std::nullopt;
        fs::path resolved = fs::weakly_canonical(file_, error);
        if (error) return std::nullopt;
        return resolved;
    }

    void follow() {
        // One at a time, so that the last look decides.
        std::lock_guard following(following_);
        const auto now = target();
        {
            std::lock_guard lock(mutex_);
            if (cancelled_ || now == target_) return;
        }
        Subscription onTarget;
        if (now) {
            onTarget = watcher_->watch(
                now->parent_path(), FolderWatcher::Changes::contents, executor_,
                [weak = weak_from_this(), name = now->filename().string()](const std::string& changed) {
                    const auto self = weak.lock();
                    if (self && (changed.empty() || changed == name)) self->changed();
                });
        }
        Subscription old;
        {
            std::lock_guard lock(mutex_);
            if (cancelled_) return;
            target_ = now;
            old = std::exchange(onTarget_, std::move(onTarget));
        }
    }

    void changed() {
        {
            std::lock_guard lock(mutex_);
            if (cancelled_) return;
        }
        handler_();
    }

    const std::shared_ptr<FolderWatcher> watcher_;
    const fs::path file_;
    const std::shared_ptr<Executor> executor_;
    const std::function<void()> handler_;
    std::mutex following_;
    std::mutex mutex_;
    bool cancelled_ = false;
    std::optional<fs::path> target_;
    Subscription onLink_;
    Subscription onTarget_;
};

} // namespace

Subscription LinuxFileSystem::watchFile(const fs::path& file, std::shared_ptr<Executor> executor,
                                        std::function<void()> handler) {
    auto watcher = FolderWatcher::shared();
    if (!watcher) return {};
    const auto followed = std::make_shared<FollowedFile>(std::move(watcher), file, std::move(executor), std::move(handler));
    followed->start();
    return Subscription([followed] { followed->cancel(); });
}

std::shared_ptr<LinuxFileSystem> LinuxFileSystem::shared() {
    static const auto files = std::make_shared<LinuxFileSystem>();
    return files;
}

} // namespace ravolet::platform

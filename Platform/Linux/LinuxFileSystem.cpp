#include "Platform/Linux/LinuxFileSystem.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

FileError failure(std::string operation, const fs::path& path, int code, const fs::path& destination = {}) {
    return FileError{std::move(operation), path, destination, code};
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

FileResult<void> LinuxFileSystem::createDirectories(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return fail("create folder", folder, error.value());
    return {};
}

FileResult<std::string> LinuxFileSystem::readFile(const fs::path& file) const {
    Descriptor d{::open(file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (d.fd < 0) return fail("read", file);
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(d.fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            return fail("read", file);
        }
        if (count == 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

FileResult<void> LinuxFileSystem::writeFileAtomically(const fs::path& file, std::string_view bytes) {
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    Descriptor d{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (d.fd < 0) return fail("write", file);

    auto abandon = [&](int code) {
        d.reset();
        ::unlink(temporary.c_str());
        return fail("write", file, code);
    };
    // A replaced file keeps its permissions.
    struct stat existing{};
    if (::stat(file.c_str(), &existing) == 0 && ::fchmod(d.fd, existing.st_mode & 07777) != 0) return abandon(errno);
    if (auto written = writeAll(d.fd, bytes, file); !written) return abandon(written.error().code);
    if (::fsync(d.fd) != 0) return abandon(errno);
    if (d.reset() != 0) return abandon(errno);
    if (::rename(temporary.c_str(), file.c_str()) != 0) return abandon(errno);

    // Make the rename itself durable; a failure here no longer loses the file.
    Descriptor directory{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (directory.fd >= 0) ::fsync(directory.fd);
    return {};
}

FileResult<void> LinuxFileSystem::removeFile(const fs::path& file) {
    if (::unlink(file.c_str()) != 0) return fail("remove", file);
    return {};
}

FileResult<void> LinuxFileSystem::moveWithoutReplacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return fail("move", from, errno, to);
    // The file system cannot rename without replacing: link (which never
    // replaces) and then unlink the old name.
    if (::link(from.c_str(), to.c_str()) != 0) return fail("move", from, errno, to);
    if (::unlink(from.c_str()) != 0) {
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

std::shared_ptr<LinuxFileSystem> LinuxFileSystem::shared() {
    static const auto files = std::make_shared<LinuxFileSystem>();
    return files;
}

} // namespace ravolet::platform

#include "Platform/Linux/SingleInstance.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include <fmt/format.h>

#include "Platform/FileSystem.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

constexpr auto retryPause = std::chrono::milliseconds(20);
// What the first copy says to a call it takes.
constexpr char answer = '1';

// FNV-1a: a short, stable name for a folder.
std::uint64_t hashed(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

bool fitsSocketAddress(const fs::path& path) { return path.native().size() < sizeof(sockaddr_un::sun_path); }

sockaddr_un addressOf(const fs::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    return address;
}

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

// Takes the lock if nobody holds it; true when this descriptor holds it.
bool tryLock(int lock) {
    for (;;) {
        if (::flock(lock, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// One call through the socket: whether the copy there answered before the
// deadline; why no call could be made, where one could not.
std::expected<bool, std::string> call(const fs::path& socket, std::chrono::steady_clock::time_point deadline) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::unexpected(errorText(errno));
    const sockaddr_un address = addressOf(socket);
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int code = errno;
        ::close(fd);
        // Nobody listens there: a copy that has not begun to, or has stopped.
        if (code == ENOENT || code == ECONNREFUSED) return false;
        return std::unexpected(fmt::format("cannot connect to {}: {}", socket.string(), errorText(code)));
    }
    // A copy that takes the call answers it; one that stops listening first
    // drops it unanswered (the connection is reset).
    char reply = 0;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 1 && ::read(fd, &reply, 1) != 1) reply = 0;
        break;
    }
    ::close(fd);
    return reply == answer;
}

} // namespace

std::optional<fs::path> SingleInstance::socketPath(const fs::path& settingsFolder,
                                                   const std::optional<std::string>& runtimeFolder) {
    if (runtimeFolder && fs::path(*runtimeFolder).is_absolute()) {
        const fs::path inRuntime =
            fs::path(*runtimeFolder) / fmt::format("ravolet-{:016x}.socket", hashed(settingsFolder.native()));
        if (fitsSocketAddress(inRuntime)) return inRuntime;
    }
    const fs::path inSettings = settingsFolder / "ravolet.socket";
    if (fitsSocketAddress(inSettings)) return inSettings;
    return std::nullopt;
}

std::unique_ptr<SingleInstance> SingleInstance::claim(const fs::path& settingsFolder) {
    return claim(settingsFolder, environment("XDG_RUNTIME_DIR"));
}

std::unique_ptr<SingleInstance> SingleInstance::claim(const fs::path& settingsFolder,
                                                      const std::optional<std::string>& runtimeFolder) {
    const auto socket = socketPath(settingsFolder, runtimeFolder);
    std::error_code error;
    fs::create_directories(settingsFolder, error);
    const fs::path lockFile = settingsFolder / lockName;
    int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A folder that cannot be written may still hold the lock file of a
    // copy that is running; a lock needs no write access.
    if (lock < 0) lock = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (lock < 0) return std::unique_ptr<SingleInstance>(new SingleInstance(Role::alone, -1, socket));
    // The lock is the open file's, so it ends with this process however that ends.
    if (!tryLock(lock)) {
        const Role role = errno == EWOULDBLOCK ? Role::second : Role::alone;
        if (role == Role::alone) {
            ::close(lock);
            lock = -1;
        }
        // A second copy keeps the file open, to take the lock once it comes free.
        return std::unique_ptr<SingleInstance>(new SingleInstance(role, lock, socket));
    }
    auto instance = std::unique_ptr<SingleInstance>(new SingleInstance(Role::first, lock, socket));
    instance->listen();
    return instance;
}

SingleInstance::SingleInstance(Role role, int lock, std::optional<fs::path> socket)
    : role_(role), lock_(lock), socket_(std::move(socket)) {}

SingleInstance::~SingleInstance() {
    if (listening_ >= 0) {
        ::close(listening_);
        ::unlink(socket_->c_str());
    }
    if (lock_ >= 0) ::close(lock_);
}

void SingleInstance::listen() {
    if (!socket_) return;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    // A socket left by a copy that ended without removing it: holding the
    // lock, this copy is the only one that may listen there.
    ::unlink(socket_->c_str());
    const sockaddr_un address = addressOf(*socket_);
    // Only the user may call (the folder may let others in).
    const mode_t mask = ::umask(0077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd, 8) != 0) {
        ::close(fd);
        return;
    }
    listening_ = fd;
}

int SingleInstance::takeCalls() {
    int calls = 0;
    for (;;) {
        const int caller = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (caller < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return calls;
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(caller, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid()) {
            // The caller ends once it hears that this copy runs on.
            [[maybe_unused]] const auto sent = ::send(caller, &answer, 1, MSG_NOSIGNAL);
            ++calls;
        }
        ::close(caller);
    }
}

void SingleInstance::stopAnswering() {
    if (listening_ < 0) return;
    // The name goes first: a copy started from now on finds nobody there and
    // waits for the lock. Calls not yet taken are dropped unanswered.
    ::unlink(socket_->c_str());
    ::close(listening_);
    listening_ = -1;
}

std::expected<SingleInstance::Call, std::string> SingleInstance::callFirst(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::optional<std::string> trouble;
    for (;;) {
        if (role_ == Role::second && tryLock(lock_)) {
            role_ = Role::first;
            listen();
            return Call::tookOver;
        }
        if (socket_) {
            const auto answered = call(*socket_, deadline);
            if (answered && *answered) return Call::answered;
            if (!answered) trouble = answered.error();
        } else {
            trouble = "there is no place for a socket to reach it through";
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::unexpected(fmt::format("it neither answered nor ended within {:g} seconds{}",
                                               std::chrono::duration<double>(patience).count(),
                                               trouble ? " (" + *trouble + ")" : std::string()));
        }
        std::this_thread::sleep_for(retryPause);
    }
}

} // namespace ravolet::platform

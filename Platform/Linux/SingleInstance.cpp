#include "Platform/Linux/SingleInstance.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
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

// A socket of the abstract namespace (no file) is written with a leading "@".
bool isAbstract(const fs::path& socket) { return socket.native().starts_with('@'); }

struct SocketAddress {
    sockaddr_un address{};
    socklen_t size = 0;
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

SocketAddress addressOf(const fs::path& path) {
    SocketAddress socket;
    socket.address.sun_family = AF_UNIX;
    std::memcpy(socket.address.sun_path, path.c_str(), path.native().size());
    socket.size = sizeof socket.address;
    if (isAbstract(path)) {
        // The name is the bytes after the leading NUL, exactly.
        socket.address.sun_path[0] = '\0';
        socket.size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.native().size());
    }
    return socket;
}

// The holder's record in the lock file: "running  <pid> <socket>" while it
// answers, with "quitting" over the first word once it has begun to quit.
// Both words are as long, so the change is one write in place.
constexpr std::string_view runningWord = "running ";
constexpr std::string_view quittingWord = "quitting";

struct Holder {
    bool quitting = false;
    pid_t pid = 0;
    std::optional<fs::path> socket;
};

std::optional<Holder> holderOf(int lock) {
    char buffer[512];
    const ssize_t got = ::pread(lock, buffer, sizeof buffer - 1, 0);
    if (got <= 0) return std::nullopt;
    std::string_view record(buffer, static_cast<std::size_t>(got));
    // Only the first line: a longer record of an earlier holder may follow
    // until the new one's write has cut it off.
    const auto line = record.find('\n');
    if (line == std::string_view::npos) return std::nullopt;
    record = record.substr(0, line + 1);
    if (record.size() < runningWord.size() + 2) return std::nullopt;
    Holder holder;
    const std::string_view word = record.substr(0, runningWord.size());
    if (word != runningWord && word != quittingWord) return std::nullopt;
    holder.quitting = word == quittingWord;
    const std::string_view rest = record.substr(runningWord.size() + 1, record.size() - runningWord.size() - 2);
    const auto space = rest.find(' ');
    const std::string pid(rest.substr(0, space));
    char* end = nullptr;
    holder.pid = static_cast<pid_t>(std::strtol(pid.c_str(), &end, 10));
    if (end == pid.c_str() || *end != '\0' || holder.pid <= 0) return std::nullopt;
    if (space != std::string_view::npos && space + 1 < rest.size()) holder.socket = fs::path(std::string(rest.substr(space + 1)));
    return holder;
}

bool alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

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
    const SocketAddress address = addressOf(socket);
    int result;
    do {
        result = ::connect(fd, address.get(), address.size);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int code = errno;
        ::close(fd);
        // Nobody listens there: a copy that has not begun to, or has stopped.
        if (code == ENOENT || code == ECONNREFUSED) return false;
        return std::unexpected(fmt::format("cannot connect to {}: {}", socket.string(), errorText(code)));
    }
    // A name of the abstract namespace can be taken by anyone: only the
    // user's own copy is heard.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid()) {
        ::close(fd);
        return std::unexpected(fmt::format("another user listens on {}", socket.string()));
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
    // No file's path fits: a name without a file, which ends with the socket.
    return fs::path(fmt::format("@ravolet-{:016x}.socket", hashed(settingsFolder.native())));
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
        if (!isAbstract(*socket_)) ::unlink(socket_->c_str());
    }
    if (lock_ >= 0) ::close(lock_);
}

void SingleInstance::listen() {
    if (socket_) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        // A socket left by a copy that ended without removing it: holding the
        // lock, this copy is the only one that may listen there.
        if (!isAbstract(*socket_)) ::unlink(socket_->c_str());
        const SocketAddress address = addressOf(*socket_);
        // Only the user may call (the folder may let others in).
        const mode_t mask = ::umask(0077);
        const bool bound = fd >= 0 && ::bind(fd, address.get(), address.size) == 0;
        ::umask(mask);
        if (bound && ::listen(fd, 8) == 0) {
            listening_ = fd;
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    // Later copies read where to call this one (their runtime folder may not
    // be this one's) and whether it is quitting.
    const std::string record = fmt::format("{} {} {}\n", runningWord, ::getpid(),
                                           listening_ >= 0 ? socket_->string() : std::string());
    if (::pwrite(lock_, record.data(), record.size(), 0) == static_cast<ssize_t>(record.size()))
        (void)::ftruncate(lock_, static_cast<off_t>(record.size()));
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
    if (role_ != Role::first) return;
    // Said first: a copy that finds this one quitting waits for it however long it takes.
    (void)::pwrite(lock_, quittingWord.data(), quittingWord.size(), 0);
    if (listening_ < 0) return;
    // The name goes next: a copy started from now on finds nobody there and
    // waits for the lock. Calls not yet taken are dropped unanswered.
    if (!isAbstract(*socket_)) ::unlink(socket_->c_str());
    ::close(listening_);
    listening_ = -1;
}

std::expected<SingleInstance::Call, std::string> SingleInstance::callFirst(std::chrono::milliseconds patience,
                                                                         std::chrono::milliseconds quittingPatience) {
    const auto started = std::chrono::steady_clock::now();
    std::optional<std::string> trouble;
    for (;;) {
        if (role_ == Role::second && tryLock(lock_)) {
            role_ = Role::first;
            listen();
            return Call::tookOver;
        }
        // The holder's own word on where it listens comes before this copy's guess.
        const auto holder = role_ == Role::second ? holderOf(lock_) : std::nullopt;
        // A copy that is quitting ends once its save is done: worth a longer wait.
        const bool quitting = holder && holder->quitting && alive(holder->pid);
        const auto waited = quitting ? std::max(patience, quittingPatience) : patience;
        const auto deadline = started + waited;
        const auto socket = holder && holder->socket ? holder->socket : socket_;
        if (socket) {
            const auto answered = call(*socket, deadline);
            if (answered && *answered) return Call::answered;
            if (!answered) trouble = answered.error();
        } else {
            trouble = "there is no place for a socket to reach it through";
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            const std::string who = holder ? fmt::format("it (process {})", holder->pid) : std::string("it");
            return std::unexpected(fmt::format("{} {} within {:g} seconds{}", who,
                                               quitting ? "began to quit but did not end" : "neither answered nor ended",
                                               std::chrono::duration<double>(waited).count(),
                                               trouble ? " (" + *trouble + ")" : std::string()));
        }
        std::this_thread::sleep_for(retryPause);
    }
}

} // namespace ravolet::platform

#include "Platform/Linux/Desktop/DisplayServer.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace ravolet::platform {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

// The sockets a display named ":N" (or ":N.S", "unix:N") listens on: the X
// server's abstract one first, then its file. A display on another host
// (TCP) has none here.
std::vector<std::string> xSockets(const std::string& display) {
    const auto colon = display.rfind(':');
    if (colon == std::string::npos) return {};
    const std::string host = display.substr(0, colon);
    if (!host.empty() && host != "unix") return {};
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return {};
    return {"@/tmp/.X11-unix/X" + number, "/tmp/.X11-unix/X" + number};
}

} // namespace

std::optional<DisplayServer> DisplayServer::ofThisSession() {
    std::vector<std::string> sockets;
    if (const auto wayland = environment("WAYLAND_DISPLAY")) {
        if (wayland->starts_with('/'))
            sockets.push_back(*wayland);
        else if (const auto runtime = environment("XDG_RUNTIME_DIR"))
            sockets.push_back(*runtime + "/" + *wayland);
    }
    if (const auto display = environment("DISPLAY"))
        for (std::string& socket : xSockets(*display)) sockets.push_back(std::move(socket));
    if (const auto sway = environment("SWAYSOCK")) sockets.push_back(*sway);
    for (const std::string& socket : sockets)
        if (auto server = listeningAt(socket)) return server;
    return std::nullopt;
}

std::optional<DisplayServer> DisplayServer::listeningAt(const std::string& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket.size() >= sizeof address.sun_path) return std::nullopt;
    std::memcpy(address.sun_path, socket.data(), socket.size());
    socklen_t size = sizeof address;
    if (socket.starts_with('@')) {
        address.sun_path[0] = '\0';
        size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket.size());
    }
    // Non-blocking: a server whose queue of callers is full (stopped for
    // long) tells nothing, rather than holding this up.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return std::nullopt;
    ucred peer{};
    socklen_t length = sizeof peer;
    const bool known = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0 &&
                       ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid > 0;
    ::close(fd);
    if (!known) return std::nullopt;
    return DisplayServer(peer.pid, static_cast<int>(::syscall(SYS_pidfd_open, peer.pid, 0)));
}

DisplayServer::DisplayServer(DisplayServer&& other) noexcept
    : pid_(other.pid_), descriptor_(std::exchange(other.descriptor_, -1)) {}

DisplayServer& DisplayServer::operator=(DisplayServer&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) ::close(descriptor_);
        pid_ = other.pid_;
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

DisplayServer::~DisplayServer() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

bool DisplayServer::isRunning() const {
    if (descriptor_ < 0) return ::kill(pid_, 0) == 0 || errno == EPERM;
    pollfd ended{descriptor_, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&ended, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready == 0;
}

} // namespace ravolet::platform

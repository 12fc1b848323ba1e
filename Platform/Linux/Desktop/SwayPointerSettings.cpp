#include "Platform/Linux/Desktop/SwayPointerSettings.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"
#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"

namespace ravolet::platform {

namespace {

constexpr std::string_view magic = "i3-ipc";
constexpr std::uint32_t runCommand = 0;
constexpr std::uint32_t subscribe = 2;
constexpr std::uint32_t getInputs = 100;
// Events carry the high bit; 21 is "input": a device added, removed or
// configured (also by a reload, which resets what commands had set).
constexpr std::uint32_t inputEvent = 0x80000000u | 21;
// sway answers at once; a compositor that hangs must not hang the caller.
constexpr int replyTimeoutMs = 2000;

// Every step bounded by a deadline: a compositor that has stopped
// answering (SIGSTOP, a hang) accepts no connection once its backlog is
// full, and reads nothing once a socket's buffer is.
class Socket {
public:
    // Connected before the deadline, or not open.
    Socket(const std::string& path, std::chrono::steady_clock::time_point deadline) {
        sockaddr_un address{};
        if (path.empty() || path.size() >= sizeof address.sun_path) return;
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), path.size());
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0) return;
        for (;;) {
            if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return;
            // A full backlog says EAGAIN on a local socket: asked again, shortly.
            if ((errno != EAGAIN && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) break;
            ::poll(nullptr, 0, 10);
        }
        ::close(fd_);
        fd_ = -1;
    }
    explicit Socket(const std::string& path)
        : Socket(path, std::chrono::steady_clock::now() + std::chrono::milliseconds(replyTimeoutMs)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool send(const std::string& bytes, std::chrono::steady_clock::time_point deadline) const {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                if (!ready(POLLOUT, deadline)) return false;
                continue;
            }
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool receive(char* into, std::size_t size, std::chrono::steady_clock::time_point deadline) const {
        std::size_t got = 0;
        while (got < size) {
            if (!ready(POLLIN, deadline)) return false;
            const auto n = ::recv(fd_, into + got, size - got, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    bool ready(short events, std::chrono::steady_clock::time_point deadline) const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd descriptor{fd_, events, 0};
        return left.count() > 0 && ::poll(&descriptor, 1, static_cast<int>(left.count())) > 0;
    }

    int fd_ = -1;
};

constexpr std::size_t headerSize = 14;

std::string header(std::uint32_t length, std::uint32_t type) {
    std::string bytes(magic);
    bytes.append(reinterpret_cast<const char*>(&length), 4);
    bytes.append(reinterpret_cast<const char*>(&type), 4);
    return bytes;
}

// A float's shortest text that reads back as the same float, as sway reads it.
std::string floatText(double value) {
    std::array<char, 32> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), static_cast<float>(value));
    return error == std::errc() ? std::string(text.data(), end) : "0";
}

} // namespace

std::unique_ptr<SwayPointerSettings> SwayPointerSettings::connect(std::optional<std::string> socket) {
    if (!socket) {
        const char* fromEnvironment = std::getenv("SWAYSOCK");
        if (!fromEnvironment || !*fromEnvironment) return nullptr;
        socket = fromEnvironment;
    }
    auto settings = std::make_unique<SwayPointerSettings>(*socket);
    if (!settings->ask(getInputs, "")) return nullptr;
    return settings;
}

std::optional<nlohmann::json> SwayPointerSettings::ask(std::uint32_t type, const std::string& payload) const {
    // One deadline for the whole exchange, from connecting to the reply's last byte.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyTimeoutMs);
    const Socket socket(socket_, deadline);
    if (!socket.isOpen() || !socket.send(header(static_cast<std::uint32_t>(payload.size()), type) + payload, deadline))
        return std::nullopt;
    std::array<char, headerSize> head{};
    if (!socket.receive(head.data(), head.size(), deadline) || std::string_view(head.data(), magic.size()) != magic)
        return std::nullopt;
    std::uint32_t length = 0;
    std::memcpy(&length, head.data() + magic.size(), 4);
    if (length > (std::uint32_t{16} << 20)) return std::nullopt;
    std::string body(length, '\0');
    if (!socket.receive(body.data(), body.size(), deadline)) return std::nullopt;
    auto json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded()) return std::nullopt;
    return json;
}

std::vector<DesktopPointer> SwayPointerSettings::pointers() {
    std::vector<DesktopPointer> pointers;
    const auto inputs = ask(getInputs, "");
    if (!inputs || !inputs->is_array()) return pointers;
    for (const auto& input : *inputs) {
        if (!input.is_object() || input.value("type", "") != "pointer") continue;
        const auto identifier = input.find("identifier");
        if (identifier == input.end() || !identifier->is_string()) continue;
        DesktopPointer pointer;
        pointer.handle = identifier->get<std::string>();
        pointer.name = input.value("name", "");
        pointer.vendorID = input.value("vendor", std::int64_t{0});
        pointer.productID = input.value("product", std::int64_t{0});
        pointers.push_back(std::move(pointer));
    }
    return pointers;
}

std::optional<nlohmann::json> SwayPointerSettings::input(const std::string& identifier) const {
    const auto inputs = ask(getInputs, "");
    if (!inputs || !inputs->is_array()) return std::nullopt;
    for (const auto& input : *inputs)
        if (input.is_object() && input.value("identifier", "") == identifier && input.contains("libinput"))
            return input.at("libinput");
    return std::nullopt;
}

std::optional<std::string> SwayPointerSettings::accelerationKey(const DesktopPointer& pointer) {
    const auto settings = input(pointer.handle);
    if (!settings || !settings->is_object() || !settings->contains(profileKey)) return std::nullopt;
    return std::string(profileKey);
}

std::optional<std::int64_t> SwayPointerSettings::readAcceleration(const DesktopPointer& pointer, std::string_view key) {
    if (key != profileKey) return std::nullopt;
    const auto settings = input(pointer.handle);
    if (!settings || !settings->is_object()) return std::nullopt;
    const auto profile = settings->find(profileKey);
    const auto speed = settings->find("accel_speed");
    if (profile == settings->end() || !profile->is_string() || speed == settings->end() || !speed->is_number())
        return std::nullopt;
    const auto name = profile->get<std::string>();
    if (name == "flat") return PointerAccelSetting::flat(speed->get<double>()).code();
    if (name == "adaptive") return PointerAccelSetting::adaptive(speed->get<double>()).code();
    return std::nullopt;
}

bool SwayPointerSettings::writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) {
    const auto setting = PointerAccelSetting::fromCode(code);
    using P = PointerAccelSetting::Profile;
    if (key != profileKey || !setting || (setting->profile != P::flat && setting->profile != P::adaptive)) return false;
    // sway's identifiers have no white space; a quote would end the argument.
    if (pointer.handle.find_first_of("\"\\ \t\n") != std::string::npos || pointer.handle.empty()) return false;
    const std::string input = "input \"" + pointer.handle + "\" ";
    const std::string profile = setting->profile == P::flat ? "flat" : "adaptive";
    for (const std::string& command :
         {input + "accel_profile " + profile, input + "pointer_accel " + floatText(setting->speed.value_or(0))}) {
        const auto answer = ask(runCommand, command);
        if (!answer || !answer->is_array() || answer->empty() || !answer->front().is_object() ||
            !answer->front().value("success", false))
            return false;
    }
    return readAcceleration(pointer, key) == code;
}

Subscription SwayPointerSettings::observeSettingsChanged(std::function<void()> changed) {
    struct Watch {
        explicit Watch(const std::string& path) : socket(path) {}
        Socket socket;
        std::string received;
        std::unique_ptr<DescriptorWatcher> watcher;
        Subscription watch;
        ~Watch() {
            watch.cancel();
            watcher.reset();
        }
    };
    auto watch = std::make_shared<Watch>(socket_);
    const std::string events = R"(["input"])";
    if (!watch->socket.isOpen() ||
        !watch->socket.send(header(static_cast<std::uint32_t>(events.size()), subscribe) + events,
                            std::chrono::steady_clock::now() + std::chrono::milliseconds(replyTimeoutMs)))
        return {};
    watch->watcher = DescriptorWatcher::make({"ai.ravolet.sway-input", ThreadPriority::utility, 0});
    if (!watch->watcher) return {};
    auto* raw = watch.get();
    watch->watch = watch->watcher->watch(raw->socket.fd(), [raw, changed](short revents) {
        if (revents & (POLLHUP | POLLERR | POLLNVAL)) return;
        std::array<char, 4096> chunk{};
        for (;;) {
            const auto n = ::recv(raw->socket.fd(), chunk.data(), chunk.size(), MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            raw->received.append(chunk.data(), static_cast<std::size_t>(n));
        }
        bool any = false;
        // Whole messages only; the subscription's own answer is not an event.
        while (raw->received.size() >= headerSize) {
            if (raw->received.compare(0, magic.size(), magic) != 0) {
                // Out of step with sway's framing: what is left cannot be read.
                raw->received.clear();
                any = true;
                break;
            }
            std::uint32_t length = 0, type = 0;
            std::memcpy(&length, raw->received.data() + magic.size(), 4);
            std::memcpy(&type, raw->received.data() + magic.size() + 4, 4);
            if (raw->received.size() < headerSize + length) break;
            raw->received.erase(0, headerSize + length);
            any = any || type == inputEvent;
        }
        if (any) changed();
    });
    return Subscription([watch] { watch->watch.cancel(); });
}

} // namespace ravolet::platform

#include "Platform/Linux/Kernel/UeventMonitor.hpp"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"

namespace ravolet::platform {

std::string Uevent::property(std::string_view key) const {
    auto found = properties.find(key);
    return found == properties.end() ? std::string() : found->second;
}

std::optional<Uevent> parseUevent(std::span<const char> message) {
    std::string_view rest(message.data(), message.size());
    const auto headerEnd = rest.find('\0');
    const std::string_view header = rest.substr(0, headerEnd);
    if (header.find('@') == std::string_view::npos || header.starts_with("libudev")) return std::nullopt;
    rest = headerEnd == std::string_view::npos ? std::string_view() : rest.substr(headerEnd + 1);

    Uevent event;
    event.properties = sysfs::parseKeyValues(rest, '\0');
    event.action = event.property("ACTION");
    event.devpath = event.property("DEVPATH");
    event.subsystem = event.property("SUBSYSTEM");
    if (event.action.empty() || event.devpath.empty() || event.subsystem.empty()) return std::nullopt;
    return event;
}

namespace {

class NetlinkUeventMonitor final : public UeventMonitor, public std::enable_shared_from_this<NetlinkUeventMonitor> {
public:
    static std::shared_ptr<NetlinkUeventMonitor> make() {
        const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
        if (fd < 0) return nullptr;
        // A burst of plugging (a hub, a dock) sends hundreds of events at once.
        const int size = 1 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = 1; // the kernel's own broadcast
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return nullptr;
        }
        auto monitor = std::make_shared<NetlinkUeventMonitor>(fd);
        monitor->watcher_ = DescriptorWatcher::make({"ai.ravolet.uevents", ThreadPriority::utility, 0});
        if (!monitor->watcher_) return nullptr;
        monitor->watch_ = monitor->watcher_->watch(fd, [raw = monitor.get()](short) { raw->receive(); });
        return monitor;
    }

    explicit NetlinkUeventMonitor(int fd) : fd_(fd) {}
    ~NetlinkUeventMonitor() override {
        watch_.cancel();
        watcher_.reset();
        ::close(fd_);
    }

    Subscription subscribe(std::string subsystem, std::shared_ptr<Executor> executor, Handler handler) override {
        std::lock_guard lock(mutex_);
        const std::uint64_t id = nextID_++;
        subscribers_.push_back({id, std::move(subsystem), std::move(executor),
                                std::make_shared<Handler>(std::move(handler))});
        // The subscription holds the monitor: a subscriber that keeps only
        // its subscription (shared()->subscribe(...)) keeps hearing events.
        return Subscription([monitor = shared_from_this(), id] {
            std::lock_guard lock(monitor->mutex_);
            std::erase_if(monitor->subscribers_, [id](const Subscriber& s) { return s.id == id; });
        });
    }

private:
    struct Subscriber {
        std::uint64_t id;
        std::string subsystem;
        std::shared_ptr<Executor> executor;
        // Shared with the blocks in flight, which check `live` before calling.
        std::shared_ptr<Handler> handler;
    };

    // On the watcher's thread: everything that is waiting, one message a read.
    void receive() {
        for (;;) {
            sockaddr_nl sender{};
            iovec part{buffer_.data(), buffer_.size()};
            msghdr message{};
            message.msg_name = &sender;
            message.msg_namelen = sizeof sender;
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            const ssize_t got = ::recvmsg(fd_, &message, MSG_DONTWAIT);
            if (got < 0) {
                if (errno == EINTR) continue;
                if (errno == ENOBUFS) {
                    deliver(Uevent{}, true);
                    continue;
                }
                return; // EAGAIN: all read
            }
            // Only the kernel (port 0) speaks on this broadcast; anything else
            // is a process pretending, and a cut message is not trusted.
            if (sender.nl_pid != 0 || (message.msg_flags & MSG_TRUNC)) continue;
            if (auto event = parseUevent(std::span<const char>(buffer_.data(), static_cast<std::size_t>(got)))) {
                deliver(*event, false);
            }
        }
    }

    void deliver(const Uevent& event, bool lost) {
        std::vector<Subscriber> targets;
        {
            std::lock_guard lock(mutex_);
            for (const Subscriber& subscriber : subscribers_) {
                if (lost || subscriber.subsystem == event.subsystem) targets.push_back(subscriber);
            }
        }
        for (Subscriber& target : targets) {
            target.executor->post([weak = weak_from_this(), id = target.id, handler = target.handler, event, lost] {
                // A subscription dropped since the post gets nothing more.
                auto monitor = weak.lock();
                if (!monitor || !monitor->isSubscribed(id)) return;
                (*handler)(event, lost);
            });
        }
    }

    bool isSubscribed(std::uint64_t id) const {
        std::lock_guard lock(mutex_);
        return std::ranges::any_of(subscribers_, [id](const Subscriber& s) { return s.id == id; });
    }

    const int fd_;
    std::unique_ptr<DescriptorWatcher> watcher_;
    Subscription watch_;
    std::vector<char> buffer_ = std::vector<char>(16 * 1024);
    mutable std::mutex mutex_;
    std::vector<Subscriber> subscribers_;
    std::uint64_t nextID_ = 1;
};

} // namespace

std::shared_ptr<UeventMonitor> UeventMonitor::shared() {
    static std::mutex mutex;
    static std::weak_ptr<UeventMonitor> current;
    std::lock_guard lock(mutex);
    if (auto monitor = current.lock()) return monitor;
    std::shared_ptr<UeventMonitor> monitor = NetlinkUeventMonitor::make();
    current = monitor;
    return monitor;
}

} // namespace ravolet::platform

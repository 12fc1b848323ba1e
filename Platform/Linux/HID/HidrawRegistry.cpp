#include "Platform/Linux/HID/HidrawRegistry.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "Platform/MonotonicClock.hpp"

namespace ravolet::platform {

namespace {

// Shared by every registry of the process, so that no id is given twice.
std::atomic<std::uint64_t> nextRegistryID{0x100000001};

int openWithSystem(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags);
    return fd >= 0 ? fd : -errno;
}

} // namespace

HidrawRegistry::HidrawRegistry(Options options) : options_(std::move(options)) {
    if (!options_.openNode) options_.openNode = &openWithSystem;
}

std::vector<std::shared_ptr<HidrawService>> HidrawRegistry::services() {
    std::vector<HidrawNode> nodes = listHidrawNodes(options_.roots);
    const std::uint64_t now = MonotonicClock::nowNanos();
    std::lock_guard lock(mutex_);
    const bool firstLook = !looked_;
    looked_ = true;
    std::map<std::string, std::shared_ptr<HidrawService>, std::less<>> listed;
    std::vector<std::shared_ptr<HidrawService>> services;
    for (HidrawNode& node : nodes) {
        if (node.devpath.empty()) continue; // gone while we looked
        std::shared_ptr<HidrawService> service;
        if (auto known = byDevpath_.find(node.devpath);
            known != byDevpath_.end() && known->second->node().identifier == node.identifier) {
            service = known->second;
        } else {
            service = HidrawService::make(nextRegistryID.fetch_add(1), std::move(node),
                                          firstLook ? std::nullopt : std::optional<std::uint64_t>(now));
        }
        listed.emplace(service->node().devpath, service);
        services.push_back(std::move(service));
    }
    // Nodes that have gone are dropped: their paths never come back.
    byDevpath_ = std::move(listed);
    return services;
}

std::vector<std::shared_ptr<HidrawService>> HidrawRegistry::services(const HIDMatching& matching) {
    std::vector<std::shared_ptr<HidrawService>> all = services();
    std::erase_if(all, [&](const auto& service) { return !service->matches(matching); });
    return all;
}

void HidrawRegistry::forget(const std::string& devpath) {
    std::lock_guard lock(mutex_);
    byDevpath_.erase(devpath);
}

std::expected<int, int> HidrawRegistry::open(const HidrawService& service) {
    using namespace std::chrono;
    const std::string& path = service.node().devicePath;
    nanoseconds pause = 10ms;
    for (;;) {
        const int fd = options_.openNode(path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            if (hidrawDevpath(options_.roots, service.node().name) == service.node().devpath) return fd;
            ::close(fd);
            return std::unexpected(ENODEV);
        }
        const int error = -fd;
        if (error == EINTR) continue;
        if ((error != EACCES && error != EPERM) || !service.arrivedAtNanos()) return std::unexpected(error);
        const std::uint64_t settled =
            *service.arrivedAtNanos() + static_cast<std::uint64_t>(duration_cast<nanoseconds>(options_.settleTime).count());
        const std::uint64_t now = MonotonicClock::nowNanos();
        if (now >= settled) return std::unexpected(error);
        std::this_thread::sleep_for(std::min(pause, nanoseconds(settled - now)));
        pause = std::min<nanoseconds>(pause * 2, 200ms);
    }
}

} // namespace ravolet::platform

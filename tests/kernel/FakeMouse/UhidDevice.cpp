#include "FakeMouse/UhidDevice.hpp"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fmt/format.h>

namespace ravolet::testing {

namespace {

std::string lastError() { return std::strerror(errno); }

template <std::size_t N>
void copyText(std::uint8_t (&field)[N], const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

} // namespace

std::expected<std::unique_ptr<UhidDevice>, std::string>
UhidDevice::create(const UhidIdentity& identity, std::span<const std::uint8_t> reportDescriptor, OutputHandler onOutput) {
    if (reportDescriptor.size() > HID_MAX_DESCRIPTOR_SIZE)
        return std::unexpected(fmt::format("a report descriptor of {} bytes is too long for uhid", reportDescriptor.size()));
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::unexpected(fmt::format("cannot open /dev/uhid: {}", lastError()));
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        const std::string error = lastError();
        ::close(fd);
        return std::unexpected(fmt::format("cannot make an eventfd: {}", error));
    }

    auto event = std::make_unique<uhid_event>();
    std::memset(event.get(), 0, sizeof(uhid_event));
    event->type = UHID_CREATE2;
    uhid_create2_req& request = event->u.create2;
    copyText(request.name, identity.name);
    copyText(request.phys, identity.phys);
    copyText(request.uniq, identity.uniq);
    request.rd_size = static_cast<std::uint16_t>(reportDescriptor.size());
    request.bus = identity.bus;
    request.vendor = identity.vendor;
    request.product = identity.product;
    request.version = identity.version;
    std::copy(reportDescriptor.begin(), reportDescriptor.end(), request.rd_data);
    if (::write(fd, event.get(), sizeof(uhid_event)) != static_cast<ssize_t>(sizeof(uhid_event))) {
        const std::string error = lastError();
        ::close(wakeFd);
        ::close(fd);
        return std::unexpected(fmt::format("uhid refused to create \"{}\": {}", identity.name, error));
    }
    return std::make_unique<UhidDevice>(Passkey{}, fd, wakeFd, identity, std::move(onOutput));
}

UhidDevice::UhidDevice(Passkey, int fd, int wakeFd, UhidIdentity identity, OutputHandler onOutput)
    : fd_(fd), wakeFd_(wakeFd), identity_(std::move(identity)), onOutput_(std::move(onOutput)) {
    thread_ = std::thread([this] { serve(); });
}

UhidDevice::~UhidDevice() {
    destroy();
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
    ::close(fd_);
}

bool UhidDevice::write(const void* event, std::size_t size) {
    // Called with mutex_ held, so that nothing follows a destroy.
    return ::write(fd_, event, size) == static_cast<ssize_t>(size);
}

std::expected<void, std::string> UhidDevice::sendInput(std::span<const std::uint8_t> report) {
    if (report.size() > UHID_DATA_MAX)
        return std::unexpected(fmt::format("an input report of {} bytes is too long for uhid", report.size()));
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<std::uint16_t>(report.size());
    std::copy(report.begin(), report.end(), event.u.input2.data);
    std::lock_guard lock(mutex_);
    if (!exists_) return std::unexpected(fmt::format("\"{}\" ({}) is unplugged", identity_.name, identity_.phys));
    // Only the header and the report itself need to go.
    const std::size_t size = offsetof(uhid_event, u.input2.data) + report.size();
    if (!write(&event, size)) return std::unexpected(fmt::format("uhid refused an input report: {}", lastError()));
    return {};
}

void UhidDevice::destroy() {
    std::lock_guard lock(mutex_);
    if (!exists_) return;
    exists_ = false;
    uhid_event event{};
    event.type = UHID_DESTROY;
    write(&event, sizeof event.type);
}

bool UhidDevice::exists() const {
    std::lock_guard lock(mutex_);
    return exists_;
}

void UhidDevice::refuse(std::uint32_t replyType, std::uint32_t requestID) {
    uhid_event reply{};
    reply.type = replyType;
    if (replyType == UHID_GET_REPORT_REPLY) {
        reply.u.get_report_reply.id = requestID;
        reply.u.get_report_reply.err = EIO;
    } else {
        reply.u.set_report_reply.id = requestID;
        reply.u.set_report_reply.err = EIO;
    }
    std::lock_guard lock(mutex_);
    if (exists_) write(&reply, sizeof reply);
}

void UhidDevice::serve() {
    pollfd fds[] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    auto event = std::make_unique<uhid_event>();
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        const ssize_t n = ::read(fd_, event.get(), sizeof(uhid_event));
        if (n < static_cast<ssize_t>(sizeof event->type)) continue;
        switch (event->type) {
        case UHID_OUTPUT:
            if (onOutput_) {
                const std::size_t size = std::min<std::size_t>(event->u.output.size, UHID_DATA_MAX);
                onOutput_(std::span<const std::uint8_t>(event->u.output.data, size), *this);
            }
            break;
        case UHID_GET_REPORT: refuse(UHID_GET_REPORT_REPLY, event->u.get_report.id); break;
        case UHID_SET_REPORT: refuse(UHID_SET_REPORT_REPLY, event->u.set_report.id); break;
        default: break; // start, stop, open and close need no answer
        }
    }
}

} // namespace ravolet::testing

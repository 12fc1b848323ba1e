#include "FakeMouse/EventNodeReader.hpp"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fmt/format.h>

namespace ravolet::testing {

namespace {

std::string typeName(std::uint16_t type) {
    switch (type) {
    case EV_SYN: return "EV_SYN";
    case EV_KEY: return "EV_KEY";
    case EV_REL: return "EV_REL";
    case EV_ABS: return "EV_ABS";
    case EV_MSC: return "EV_MSC";
    default: return fmt::format("EV_{:#x}", type);
    }
}

std::string codeName(std::uint16_t type, std::uint16_t code) {
    if (type == EV_REL) {
        switch (code) {
        case REL_X: return "REL_X";
        case REL_Y: return "REL_Y";
        case REL_HWHEEL: return "REL_HWHEEL";
        case REL_WHEEL: return "REL_WHEEL";
        case REL_WHEEL_HI_RES: return "REL_WHEEL_HI_RES";
        case REL_HWHEEL_HI_RES: return "REL_HWHEEL_HI_RES";
        default: break;
        }
    } else if (type == EV_MSC && code == MSC_SCAN) {
        return "MSC_SCAN";
    } else if (type == EV_SYN) {
        switch (code) {
        case SYN_REPORT: return "SYN_REPORT";
        case SYN_DROPPED: return "SYN_DROPPED";
        default: break;
        }
    } else if (type == EV_KEY) {
        switch (code) {
        case BTN_LEFT: return "BTN_LEFT";
        case BTN_RIGHT: return "BTN_RIGHT";
        case BTN_MIDDLE: return "BTN_MIDDLE";
        case BTN_SIDE: return "BTN_SIDE";
        case BTN_EXTRA: return "BTN_EXTRA";
        case BTN_FORWARD: return "BTN_FORWARD";
        case BTN_BACK: return "BTN_BACK";
        case BTN_TASK: return "BTN_TASK";
        default: break;
        }
    }
    return fmt::format("{:#x}", code);
}

} // namespace

std::string describe(const EvdevEvent& event) {
    return fmt::format("{} {} {}", typeName(event.type), codeName(event.type, event.code), event.value);
}

std::ostream& operator<<(std::ostream& os, const EvdevEvent& event) { return os << describe(event); }

std::expected<EventNodeReader, std::string> EventNodeReader::open(const std::string& eventNode) {
    const int fd = ::open(eventNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::unexpected(fmt::format("cannot open {}: {}", eventNode, std::strerror(errno)));
    return EventNodeReader(fd);
}

EventNodeReader::EventNodeReader(EventNodeReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), partial_(std::move(other.partial_)) {}

EventNodeReader& EventNodeReader::operator=(EventNodeReader&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        partial_ = std::move(other.partial_);
    }
    return *this;
}

EventNodeReader::~EventNodeReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool EventNodeReader::nextFrame(EvdevFrame& frame, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        input_event raw{};
        const ssize_t n = ::read(fd_, &raw, sizeof raw);
        if (n == static_cast<ssize_t>(sizeof raw)) {
            if (raw.type == EV_SYN && raw.code == SYN_REPORT) {
                frame = std::exchange(partial_, {});
                return true;
            }
            partial_.push_back({raw.type, raw.code, raw.value,
                                std::chrono::seconds(raw.input_event_sec) + std::chrono::microseconds(raw.input_event_usec)});
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false; // the node is gone
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return false;
        // What is still queued is read before a hang-up counts.
        if (ready > 0 && (pfd.revents & POLLIN) == 0) return false;
    }
}

std::vector<EvdevFrame> EventNodeReader::readFrames(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<EvdevFrame> frames;
    EvdevFrame frame;
    while (frames.size() < count && nextFrame(frame, deadline)) frames.push_back(std::move(frame));
    return frames;
}

std::vector<EvdevFrame> EventNodeReader::readFramesThrough(const EvdevFrame& last, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<EvdevFrame> frames;
    EvdevFrame frame;
    while (nextFrame(frame, deadline)) {
        frames.push_back(std::move(frame));
        if (frames.back() == last) break;
    }
    return frames;
}

std::expected<void, std::string> EventNodeReader::grab(bool on) {
    if (::ioctl(fd_, EVIOCGRAB, on ? 1 : 0) != 0)
        return std::unexpected(fmt::format("EVIOCGRAB {} failed: {}", on ? 1 : 0, std::strerror(errno)));
    return {};
}

} // namespace ravolet::testing

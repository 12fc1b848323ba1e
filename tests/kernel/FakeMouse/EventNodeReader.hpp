#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <ostream>
#include <string>
#include <vector>

namespace ravolet::testing {

// One evdev event as read from an event node. Equal when type, code and value
// are; the kernel's timestamp rides along for measurements.
struct EvdevEvent {
    std::uint16_t type = 0;
    std::uint16_t code = 0;
    std::int32_t value = 0;
    std::chrono::microseconds time{0}; // the kernel's timestamp (CLOCK_MONOTONIC unless the reader changed it)

    friend bool operator==(const EvdevEvent& a, const EvdevEvent& b) {
        return a.type == b.type && a.code == b.code && a.value == b.value;
    }
};
// "EV_REL REL_WHEEL 1", with the kernel's names for the types and codes that
// mice and keyboards use, numbers for the rest.
std::string describe(const EvdevEvent& event);
std::ostream& operator<<(std::ostream& os, const EvdevEvent& event);

// The events between two SYN_REPORTs, without the SYN_REPORT: what one input
// report turns into.
using EvdevFrame = std::vector<EvdevEvent>;

// Reads an event node (non-blocking, waiting with poll up to a deadline).
class EventNodeReader {
public:
    static std::expected<EventNodeReader, std::string> open(const std::string& eventNode);
    EventNodeReader(EventNodeReader&& other) noexcept;
    EventNodeReader& operator=(EventNodeReader&& other) noexcept;
    ~EventNodeReader();

    // Up to `count` frames, in order; fewer when `timeout` passes first.
    std::vector<EvdevFrame> readFrames(std::size_t count, std::chrono::milliseconds timeout);
    // Frames up to and including the first equal to `last` (a marker the
    // test sent after what it wants to see); all that came when `timeout`
    // passes first.
    std::vector<EvdevFrame> readFramesThrough(const EvdevFrame& last, std::chrono::milliseconds timeout);

    // EVIOCGRAB: while grabbed, only this reader gets the node's events.
    std::expected<void, std::string> grab(bool on);
    int fd() const { return fd_; }

private:
    explicit EventNodeReader(int fd) : fd_(fd) {}
    // The next whole frame, or none at the deadline.
    bool nextFrame(EvdevFrame& frame, std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    EvdevFrame partial_; // events of a frame whose SYN_REPORT has not come yet
};

} // namespace ravolet::testing

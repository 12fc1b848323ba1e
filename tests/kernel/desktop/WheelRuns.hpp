#pragma once

// What the desktops' wheel tests share: notches of the fake G502 X turned on
// a schedule, what Ravolet's virtual pointer made of them, and when, all on
// CLOCK_MONOTONIC in microseconds, so that each line or unit an application
// receives is set against its notch and against Ravolet's own output.

#include <gtest/gtest.h>

#include <linux/input.h>
#include <sys/ioctl.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EngineOnKernel.hpp"
#include "FakeMouse/EventNodeReader.hpp"
#include "FakeMouse/FakeUSBMouse.hpp"
#include "desktop/DesktopVM.hpp"

namespace ravolet::testing {

inline std::int64_t monotonicMicros() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000LL + now.tv_nsec / 1000;
}

// A reader of Ravolet's virtual pointer whose events carry CLOCK_MONOTONIC
// times (an event node stamps CLOCK_REALTIME unless asked).
inline std::optional<EventNodeReader> monotonicReader(const std::string& node) {
    auto reader = EventNodeReader::open(node);
    if (!reader) return std::nullopt;
    int clock = CLOCK_MONOTONIC;
    if (::ioctl(reader->fd(), EVIOCSCLOCKID, &clock) != 0) return std::nullopt;
    return std::move(*reader);
}

// One frame of Ravolet's wheel output.
struct WheelOutput {
    std::int64_t time = 0; // the kernel's, microseconds
    std::int64_t units = 0;
    std::int64_t lines = 0;
};

// One run: the notches' times and Ravolet's frames (none for the plain wheel).
struct WheelRun {
    std::vector<int> directions; // +1 a notch up, -1 down
    std::vector<std::int64_t> notches;
    std::vector<WheelOutput> output;

    std::int64_t units() const {
        std::int64_t sum = 0;
        for (const auto& f : output) sum += f.units;
        return sum;
    }
    // When Ravolet's output has moved the wheel half way into notch k (from
    // 0) of a run in one direction; none if it never does.
    std::optional<std::int64_t> halfOf(std::size_t k) const { return movedTo(static_cast<std::int64_t>(120 * k + 60)); }
    // When it has moved the wheel through the whole of notch k: where a
    // line counted at the end of its glide would go out.
    std::optional<std::int64_t> wholeOf(std::size_t k) const { return movedTo(static_cast<std::int64_t>(120 * k + 120)); }
    std::optional<std::int64_t> movedTo(std::int64_t units) const {
        std::int64_t moved = 0;
        for (const auto& f : output)
            if ((moved += std::abs(f.units)) >= units) return f.time;
        return std::nullopt;
    }
    // The time of Ravolet's frame that carried each of its lines, one entry a line.
    std::vector<std::int64_t> lineTimes() const {
        std::vector<std::int64_t> times;
        for (const auto& f : output)
            for (std::int64_t i = 0; i < std::abs(f.lines); ++i) times.push_back(f.time);
        return times;
    }
};

// Notches in `directions`, `gap` apart, from rest (the wheel quiet for
// 600 ms first, as libinput counts a rest), turned on a thread of their own
// while `ravolet` (when given) is read, until its output has been quiet for
// 600 ms.
inline WheelRun turnNotches(FakeUSBMouse& mouse, EventNodeReader* ravolet, std::vector<int> directions,
                            std::chrono::microseconds gap) {
    using namespace std::chrono_literals;
    if (ravolet) ravolet->readFrames(10000, 600ms);
    else std::this_thread::sleep_for(600ms);
    WheelRun run;
    run.directions = std::move(directions);
    run.notches.resize(run.directions.size());
    std::thread hand([&] {
        auto at = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < run.directions.size(); ++i, at += gap) {
            std::this_thread::sleep_until(at);
            run.notches[i] = monotonicMicros();
            (void)mouse.turnWheel(run.directions[i]);
        }
    });
    if (ravolet) {
        for (;;) {
            const auto frames = ravolet->readFrames(10000, 600ms);
            if (frames.empty()) break;
            for (const auto& frame : frames) {
                WheelOutput out{frame.front().time.count()};
                for (const auto& e : frame) {
                    if (e.type == EV_REL && e.code == REL_WHEEL_HI_RES) out.units += e.value;
                    if (e.type == EV_REL && e.code == REL_WHEEL) out.lines += e.value;
                }
                if (out.units != 0 || out.lines != 0) run.output.push_back(out);
            }
        }
    }
    hand.join();
    if (!ravolet) std::this_thread::sleep_for(600ms);
    return run;
}

inline std::vector<int> notchesUp(int count) { return std::vector<int>(static_cast<std::size_t>(count), 1); }

// The runs the tests make: notches in one direction, `gap` apart.
struct Spin {
    const char* name;
    int notches;
    std::chrono::microseconds gap;
};

// Ravolet's engine gliding the fake mouse's wheel, with the factory glide
// but without the quick-streak acceleration, so that each notch is one
// detent; and its virtual pointer, read.
struct GlidingEngine {
    EngineOnKernel rig;
    std::optional<EventNodeReader> output;

    // Started, once `reaches` (a run of the test's through `output`) says
    // the desktop's application heard it: the desktop lists a new device a
    // moment after it is made.
    ::testing::AssertionResult start(const std::function<bool(EventNodeReader&)>& reaches) {
        ScrollSettings settings;
        settings.isEnabled = true;
        settings.accelerationEnabled = false;
        if (auto started = rig.start(oneProfile(settings)); !started) return ::testing::AssertionFailure() << started.error();
        if (!rig.waitForTarget()) return ::testing::AssertionFailure() << "the tap never had the mouse";
        output = monotonicReader(rig.events->virtualPointerNode());
        if (!output) return ::testing::AssertionFailure() << "Ravolet's pointer cannot be read";
        if (!waitFor([&] { return reaches(*output); }, std::chrono::seconds(10)))
            return ::testing::AssertionFailure() << "no notch through Ravolet reached the application";
        return ::testing::AssertionSuccess();
    }
};

// Milliseconds, to a tenth, for the figures the tests print.
inline std::string ms(std::int64_t micros) {
    std::ostringstream text;
    text.precision(1);
    text << std::fixed << static_cast<double>(micros) / 1000.0 << " ms";
    return text.str();
}

// Where the compositors' tests have the wheel probe (WaylandWheelProbe.cpp) print.
inline constexpr const char* wheelProbeLog = "/tmp/wheel-probe.log";

// What the wheel probe printed of the vertical axis:
// its events after `from` characters of its log, as they came.
struct ProbeWheelEvent {
    std::string kind; // "axis", "discrete", "value120"
    std::int64_t time = 0;
    std::int64_t value = 0;
};
inline std::vector<ProbeWheelEvent> probeWheelEvents(const std::string& log, std::size_t from) {
    std::vector<ProbeWheelEvent> events;
    std::istringstream lines(log.substr(std::min(from, log.size())));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        ProbeWheelEvent e;
        int axis = -1;
        if ((words >> e.kind >> e.time >> axis >> e.value) && axis == 0 &&
            (e.kind == "axis" || e.kind == "discrete" || e.kind == "value120"))
            events.push_back(e);
    }
    return events;
}

// The fake mouse moved until the probe's window has the pointer.
inline ::testing::AssertionResult pointerOverProbe(FakeUSBMouse& mouse) {
    if (waitFor(
            [&] {
                (void)mouse.move(5, 5);
                return fileText(wheelProbeLog).find("enter") != std::string::npos;
            },
            std::chrono::seconds(10)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the probe's window never had the pointer\n" << fileText(wheelProbeLog);
}

// A run, and the probe's events that came of it.
inline std::pair<WheelRun, std::vector<ProbeWheelEvent>> turnUnderProbe(FakeUSBMouse& mouse, EventNodeReader* ravolet,
                                                                       std::vector<int> directions,
                                                                       std::chrono::microseconds gap) {
    const std::size_t from = fileText(wheelProbeLog).size();
    WheelRun run = turnNotches(mouse, ravolet, std::move(directions), gap);
    return {std::move(run), probeWheelEvents(fileText(wheelProbeLog), from)};
}

} // namespace ravolet::testing

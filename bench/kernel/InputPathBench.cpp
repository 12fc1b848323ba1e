// How long a motion report of the fake G502 X takes to come out of
// Ravolet's virtual pointer, inside the kernel test VM (it refuses to run
// anywhere else):
//
//     scripts/kernel-test.sh build build/bench/kernel/RavoletInputPathBench
//
// BM_MotionToOutput runs two paths side by side, one report of each in turn
// per iteration, so that the rest of the machine weighs on both alike:
// - Ravolet: the fake G502 X grabbed by the program's engine on the Linux
//   event system, each frame through the tap's callback, the router, the
//   device scope and the pointer pipeline (curve:1; with curve:0 the pipeline
//   lets the motion through as it came, which leaves the event system's own
//   share) to the virtual pointer. This is the iteration's time.
// - bare: the least any grabbing program can cost, a loop written here that
//   grabs the ordinary fake mouse's node, reads each frame and writes it to a
//   uinput device of its own.
// Each time runs from just before the report is written (the kernel stamps
// the mouse node's event inside that write) to the kernel's time stamp on
// the output node's event; p50_ratio is Ravolet's median over the bare
// loop's (goal: at most 1.5). allocs_per_event counts the allocations the
// event tap's thread made per event (goal: 0).

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "EngineOnKernel.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "FakeMouse/FakeOrdinaryMouse.hpp"
#include "KernelTestVM.hpp"
#include "Platform/Linux/Input/UinputDevice.hpp"
#include "Platform/MonotonicClock.hpp"

// ---- Allocations on the event tap's thread ----

namespace {
std::atomic<std::int64_t> tapThreadAllocations{0};

bool onTapThread() {
    // The kernel's name of the thread, cut at 15 bytes; read without allocating.
    char name[16] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return false;
    return std::strncmp(name, "ai.ravolet.even", 15) == 0;
}
} // namespace

// The replacements pair malloc with free themselves; g++ sees only the new
// and the free of each call site and warns of a mismatch that is not one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    if (onTapThread()) tapThreadAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace ravolet;
namespace pf = ravolet::platform;

namespace {

testing::FakeG502X& mouse() {
    static testing::FakeG502X fake;
    static const bool plugged = fake.plugIn().has_value();
    (void)plugged;
    return fake;
}

testing::FakeOrdinaryMouse& other() {
    static testing::FakeOrdinaryMouse fake;
    static const bool plugged = fake.plugIn().has_value();
    (void)plugged;
    return fake;
}

std::string otherPointerNode() {
    const auto device = other().kernelDevice(0);
    return device && !device->inputs.empty() ? device->inputs.front().eventNode : std::string();
}

std::uint64_t nanosOf(const timeval& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(time.tv_usec) * 1000u;
}

// An event node read for the time stamp of its next REL_X.
class Output {
public:
    explicit Output(const std::string& node) : fd_(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        int clock = CLOCK_MONOTONIC;
        if (fd_ >= 0) ::ioctl(fd_, EVIOCSCLOCKID, &clock);
    }
    ~Output() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    // The kernel's time of the next REL_X; 0 after a second without one.
    std::uint64_t nextMotion() {
        for (;;) {
            input_event event{};
            const auto got = ::read(fd_, &event, sizeof event);
            if (got == sizeof event) {
                if (event.type == EV_REL && event.code == REL_X) return nanosOf(event.time);
                continue;
            }
            pollfd readable{fd_, POLLIN, 0};
            if (::poll(&readable, 1, 1000) <= 0) return 0;
        }
    }

private:
    int fd_;
};

double percentile(std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

// The time from just before a motion report of `mouse` to its motion on
// `output`, in seconds; none when the report was refused or nothing came.
std::optional<double> timeMotion(testing::FakeUSBMouse& mouse, Output& output) {
    const std::uint64_t written = pf::MonotonicClock::nowNanos();
    if (!mouse.move(1, 0)) return std::nullopt;
    const std::uint64_t out = output.nextMotion();
    if (out == 0) return std::nullopt;
    return static_cast<double>(out - written) / 1e9;
}

// What any grabbing program does at the least: grabs a node, reads each
// frame and writes it on to a uinput device of its own, on a thread that
// waits in poll.
class BareForward {
public:
    explicit BareForward(const std::string& node) : fd_(::open(node.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0 || ::ioctl(fd_, EVIOCGRAB, 1) != 0) {
            error_ = "cannot grab the other mouse's node";
            return;
        }
        pf::UinputDevice::Description description;
        description.name = "bare forward";
        description.phys = "bench/bare-forward";
        description.keys = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};
        description.relative = {REL_X, REL_Y, REL_WHEEL, REL_WHEEL_HI_RES};
        description.product = 0x7777;
        auto device = pf::UinputDevice::make({}, description);
        if (!device) {
            error_ = device.error();
            return;
        }
        device_ = std::move(*device);
        thread_ = std::thread([this] {
            input_event events[64];
            while (running_.load(std::memory_order_relaxed)) {
                pollfd readable{fd_, POLLIN, 0};
                if (::poll(&readable, 1, 100) <= 0) continue;
                const auto got = ::read(fd_, events, sizeof events);
                if (got > 0) device_->write({events, static_cast<std::size_t>(got) / sizeof(input_event)});
            }
        });
    }
    ~BareForward() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    const std::string& error() const { return error_; }
    std::string outputNode() const { return device_ ? device_->eventNode() : std::string(); }

private:
    int fd_;
    std::string error_;
    std::unique_ptr<pf::UinputDevice> device_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

void report(benchmark::State& state, const char* name, std::vector<double>& micros) {
    std::sort(micros.begin(), micros.end());
    const std::string prefix(name);
    state.counters[prefix + "_p50_us"] = percentile(micros, 0.50);
    state.counters[prefix + "_p90_us"] = percentile(micros, 0.90);
    state.counters[prefix + "_p99_us"] = percentile(micros, 0.99);
}

// Both paths at once, a report of each mouse in turn, so that whatever else
// the machine does at the time weighs on both alike: the fake G502 X through
// Ravolet (the iteration's time) and the ordinary mouse through the bare loop.
void BM_MotionToOutput(benchmark::State& state) {
    BareForward bare(otherPointerNode());
    if (!bare.error().empty()) return state.SkipWithError(bare.error().c_str());
    testing::EngineOnKernel rig;
    PointerSettings curve;
    curve.isEnabled = state.range(0) != 0;
    curve.curve = PointerCurve::linear;
    if (auto started = rig.start(testing::oneProfile(ScrollSettings{}, curve)); !started)
        return state.SkipWithError(started.error().c_str());
    if (!rig.waitForTarget()) return state.SkipWithError("the device scope never knew the mouse");
    Output ravoletOutput(rig.events->virtualPointerNode());
    Output bareOutput(bare.outputNode());
    // The first events warm both paths up (the tap's one event object per node).
    for (int i = 0; i < 10; ++i) {
        if (!timeMotion(mouse(), ravoletOutput) || !timeMotion(other(), bareOutput))
            return state.SkipWithError("no motion came out");
    }
    std::vector<double> ravolet, bareLoop;
    const auto allocationsBefore = tapThreadAllocations.load();
    for (auto _ : state) {
        const auto throughRavolet = timeMotion(mouse(), ravoletOutput);
        const auto throughBare = timeMotion(other(), bareOutput);
        if (!throughRavolet || !throughBare) return state.SkipWithError("no motion came out");
        state.SetIterationTime(*throughRavolet);
        ravolet.push_back(*throughRavolet * 1e6);
        bareLoop.push_back(*throughBare * 1e6);
    }
    state.counters["allocs_per_event"] =
        static_cast<double>(tapThreadAllocations.load() - allocationsBefore) / static_cast<double>(ravolet.size());
    report(state, "ravolet", ravolet);
    report(state, "bare", bareLoop);
    state.counters["p50_ratio"] = percentile(ravolet, 0.5) / std::max(percentile(bareLoop, 0.5), 1e-9);
}
BENCHMARK(BM_MotionToOutput)
    ->ArgName("curve")
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (!testing::insideKernelTestVM()) {
        std::fprintf(stderr, "%s runs only inside the kernel test VM: scripts/kernel-test.sh <build-dir> %s\n", argv[0],
                     argv[0]);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

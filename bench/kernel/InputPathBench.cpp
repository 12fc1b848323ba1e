// How long a motion report of the fake G502 X takes to come out of
// Ravolet's virtual pointer, inside the kernel test VM (it refuses to run
// anywhere else):
//
//     scripts/kernel-test.sh build build/bench/kernel/RavoletInputPathBench
//
// BM_BareGrabAndForward is the least any grabbing program can cost: a loop
// written here that grabs the mouse's node, reads each frame and writes it
// to a uinput device of its own. BM_RavoletTap is the program's engine on the
// Linux event system, the pointer curve on, so that each frame goes through
// the tap's callback, the router, the device scope and the pointer pipeline
// before the virtual pointer. Each iteration writes one report and waits for
// its frame; the time is from just before the report is written (the kernel
// stamps the mouse node's event inside that write) to the kernel's time
// stamp on the output node's event. allocs_per_event counts the allocations
// the event tap's thread made per event (goal: 0).

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
#include <string>
#include <thread>
#include <vector>

#include "EngineOnKernel.hpp"
#include "FakeMouse/FakeG502X.hpp"
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

std::string pointerNode() {
    const auto device = mouse().kernelDevice(testing::FakeG502X::pointerInterface);
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

// Moves the mouse once per iteration and times the motion out of `output`.
void measure(benchmark::State& state, Output& output) {
    std::vector<double> micros;
    const auto allocationsBefore = tapThreadAllocations.load();
    for (auto _ : state) {
        const std::uint64_t written = pf::MonotonicClock::nowNanos();
        if (!mouse().move(1, 0)) {
            state.SkipWithError("the fake mouse refused a report");
            return;
        }
        const std::uint64_t out = output.nextMotion();
        if (out == 0) {
            state.SkipWithError("no motion came out");
            return;
        }
        const double seconds = static_cast<double>(out - written) / 1e9;
        state.SetIterationTime(seconds);
        micros.push_back(seconds * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = percentile(micros, 0.50);
    state.counters["p90_us"] = percentile(micros, 0.90);
    state.counters["p99_us"] = percentile(micros, 0.99);
    state.counters["allocs_per_event"] =
        static_cast<double>(tapThreadAllocations.load() - allocationsBefore) / static_cast<double>(micros.size());
}

void BM_BareGrabAndForward(benchmark::State& state) {
    const int node = ::open(pointerNode().c_str(), O_RDONLY | O_CLOEXEC);
    if (node < 0 || ::ioctl(node, EVIOCGRAB, 1) != 0) {
        state.SkipWithError("cannot grab the mouse's node");
        return;
    }
    pf::UinputDevice::Description description;
    description.name = "bare forward";
    description.phys = "bench/bare-forward";
    description.keys = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};
    description.relative = {REL_X, REL_Y, REL_WHEEL, REL_WHEEL_HI_RES};
    auto device = pf::UinputDevice::make({}, description, 0x7777);
    if (!device) {
        state.SkipWithError(device.error().c_str());
        return;
    }
    Output output((*device)->eventNode());
    std::atomic<bool> running{true};
    // Read a frame, write it on: what any grabbing program does at the least.
    std::thread forward([&] {
        input_event events[64];
        while (running.load(std::memory_order_relaxed)) {
            pollfd readable{node, POLLIN, 0};
            if (::poll(&readable, 1, 100) <= 0) continue;
            const auto got = ::read(node, events, sizeof events);
            if (got > 0) (*device)->write({events, static_cast<std::size_t>(got) / sizeof(input_event)});
        }
    });
    measure(state, output);
    running = false;
    forward.join();
    ::close(node);
}
BENCHMARK(BM_BareGrabAndForward)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_RavoletTap(benchmark::State& state) {
    testing::EngineOnKernel rig;
    PointerSettings curve;
    curve.isEnabled = true;
    curve.curve = PointerCurve::linear;
    if (auto started = rig.start(testing::oneProfile(ScrollSettings{}, curve)); !started) {
        state.SkipWithError(started.error().c_str());
        return;
    }
    if (!rig.waitForTarget()) {
        state.SkipWithError("the device scope never knew the mouse");
        return;
    }
    Output output(rig.events->virtualPointerNode());
    // The first events warm the path up (its one event object per node).
    for (int i = 0; i < 10; ++i) {
        mouse().move(1, 0);
        output.nextMotion();
    }
    measure(state, output);
}
BENCHMARK(BM_RavoletTap)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

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

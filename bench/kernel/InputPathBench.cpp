// The three paths from the fake G502 X to what Ravolet posts, inside the
// kernel test VM (it refuses to run anywhere else):
//
//     scripts/kernel-test.sh --tsc build build/bench/kernel/RavoletInputPathBench
//
// Each benchmark runs two paths side by side, one report of each per
// iteration, in turn first and second, so that the rest of the machine weighs
// on both alike:
// - Ravolet: the fake G502 X grabbed by the program's engine on the Linux
//   event system, each frame through the tap's callback, the router, the
//   device scope and a pipeline, to the virtual pointer or keyboard. This is
//   the iteration's time.
// - bare: the least any grabbing program can cost, a loop written here that
//   grabs a twin of the fake G502 X's pointer (the same report descriptor
//   under another vendor's ids, so that the kernel's work on each report is
//   the same on both sides), reads each frame and writes the same answer to
//   a uinput device of its own.
// The paths:
// - BM_MotionToOutput: a motion report to its motion (curve:1 through the
//   pointer curve; curve:0 the motion let through as it came);
// - BM_DetentToFirstGlideFrame: a wheel detent, after the glide before it has
//   ended, to the first frame of its glide. Ravolet posts that frame one frame
//   interval (8 ms) after the detent by design, and the bare loop waits as
//   long after reading the detent: both times leave those 8 ms out;
// - BM_SideButtonToKeyFrame: the back button, bound to a key stroke, to the
//   key's press on the keyboard.
// Each time runs from just before the report is written (the kernel stamps
// the mouse node's event inside that write) to the kernel's time stamp on
// the output node's event; p50_ratio is Ravolet's median over the bare
// loop's (goal: at most 1.5).
//
// The threads that read and post on either side run alike: all of them on
// one processor (`readers_cpu`: 0 the writer's, 1 the other one; the writer
// stays on processor 0) and at the tap thread's priority, whose nice values
// are reported (ravolet_nice, bare_nice). allocs_per_event counts the
// allocations the event tap's thread made per event (goal: 0).

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "EngineOnKernel.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "KernelTestVM.hpp"
#include "Platform/Linux/Input/UinputDevice.hpp"
#include "Platform/Linux/Input/VirtualDevices.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/Thread.hpp"
#include "VMClock.hpp"

// ---- Allocations on the event tap's thread ----

namespace {
std::atomic<std::int64_t> tapThreadAllocations{0};
// The event tap's thread, once the rig has found it (0 before).
std::atomic<pid_t> tapThreadID{0};

bool onTapThread() {
    // Each thread asks the kernel for its id once: a system call on every
    // allocation (asking for the thread's name is one) would weigh on every
    // thread of Ravolet's that allocates, and on no thread of the bare loop's.
    thread_local const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
    return self == tapThreadID.load(std::memory_order_relaxed);
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

constexpr int writerCPU = 0;
// The glide's frame interval, which its first frame waits by design.
constexpr std::uint64_t glideFrameNanos = 8'000'000;

testing::FakeG502X& mouse() {
    static testing::FakeG502X fake;
    static const bool plugged = fake.plugIn().has_value();
    (void)plugged;
    return fake;
}

// The G502 X's pointer interface as another vendor's mouse, which Ravolet
// leaves alone. The kernel's time from a report to its events grows with
// the descriptor's fields (the G502 X has 16 buttons, 16-bit axes and a
// horizontal wheel): a plain three-button mouse on the bare side made it
// look 2-3 µs cheaper in the VM.
class PointerTwin : public testing::FakeUSBMouse {
public:
    PointerTwin()
        : FakeUSBMouse(identity(), "usb-0000:00:14.0-4",
                       {Interface{{testing::FakeG502X::pointerReportDescriptor().begin(),
                                   testing::FakeG502X::pointerReportDescriptor().end()},
                                  {}}},
                       PointerLayout{.buttons = 16, .axisBytes = 2, .horizontalWheel = true}) {}

private:
    static testing::UhidIdentity identity() {
        testing::UhidIdentity identity;
        identity.name = "Bench Pointer Twin";
        identity.vendor = 0x1209;
        identity.product = 0x0001;
        return identity;
    }
};

PointerTwin& other() {
    static PointerTwin fake;
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

bool pin(pid_t thread, int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(thread, sizeof set, &set) == 0;
}

// Pins every thread of Ravolet's (named "ai.ravolet.*") to `cpu`; the nice
// value of its event tap's thread.
std::optional<int> pinRavolet(int cpu) {
    std::optional<int> tapNice;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (!std::getline(comm, name) || !name.starts_with("ai.ravolet.")) continue;
        const auto tid = static_cast<pid_t>(std::stoi(task.path().filename().string()));
        if (!pin(tid, cpu)) return std::nullopt;
        errno = 0;
        if (name == "ai.ravolet.even") {
            tapNice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
            tapThreadID.store(tid, std::memory_order_relaxed);
        }
    }
    return tapNice;
}

// An event node read for the time stamp of its next event of a kind.
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
    // The kernel's time of the next event of `type` and `code` (with a value
    // other than 0 unless `anyValue`); 0 after `patience` ms without one.
    std::uint64_t next(std::uint16_t type, std::uint16_t code, bool anyValue = true, int patience = 1000) {
        for (;;) {
            input_event event{};
            const auto got = ::read(fd_, &event, sizeof event);
            if (got == sizeof event) {
                if (event.type == type && event.code == code && (anyValue || event.value != 0)) return nanosOf(event.time);
                continue;
            }
            pollfd readable{fd_, POLLIN, 0};
            if (::poll(&readable, 1, patience) <= 0) return 0;
        }
    }
    // Reads until nothing came for `quiet` ms.
    void drain(int quiet) {
        input_event events[64];
        for (;;) {
            while (::read(fd_, events, sizeof events) > 0) {
            }
            pollfd readable{fd_, POLLIN, 0};
            if (::poll(&readable, 1, quiet) <= 0) return;
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

// What any grabbing program does at the least: grabs a node and answers each
// frame on uinput devices of its own, on a thread that waits in poll: motion
// goes on as it came, a detent becomes a hi-res wheel frame one glide frame
// after it was read, a press of the back button becomes a key press and
// release.
class BareLoop {
public:
    BareLoop(const std::string& node, int cpu) : fd_(::open(node.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0 || ::ioctl(fd_, EVIOCGRAB, 1) != 0) {
            error_ = "cannot grab the other mouse's node";
            return;
        }
        // Devices able to send what Ravolet's can: the kernel hands each
        // event to every handler that matches a device's keys and axes (the
        // console's keyboard and SysRq besides evdev), so a keyboard of one
        // key would be cheaper than any real one.
        pf::UinputDevice::Description pointer = pf::VirtualDevices::pointerDescription({"bare pointer", BUS_USB, 0x1209, 0x7777});
        pointer.phys = "bench/bare-pointer";
        pf::UinputDevice::Description keyboard = pf::VirtualDevices::keyboardDescription();
        keyboard.name = "bare keyboard";
        keyboard.phys = "bench/bare-keyboard";
        keyboard.vendor = 0x1209;
        keyboard.product = 0x7778;
        auto madePointer = pf::UinputDevice::make({}, pointer);
        auto madeKeyboard = pf::UinputDevice::make({}, keyboard);
        if (!madePointer || !madeKeyboard) {
            error_ = !madePointer ? madePointer.error() : madeKeyboard.error();
            return;
        }
        pointer_ = std::move(*madePointer);
        keyboard_ = std::move(*madeKeyboard);
        thread_ = std::thread([this, cpu] {
            // As the tap thread runs: its priority, on the readers' processor.
            pf::setCurrentThreadPriority(pf::ThreadPriority::userInteractive);
            pinned_ = pin(0, cpu);
            errno = 0;
            nice_ = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
            started_ = true;
            run();
        });
        while (!started_) std::this_thread::yield();
    }
    ~BareLoop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    std::string error() const { return !error_.empty() ? error_ : pinned_ ? std::string() : "cannot pin the bare loop"; }
    std::string pointerNode() const { return pointer_ ? pointer_->eventNode() : std::string(); }
    std::string keyboardNode() const { return keyboard_ ? keyboard_->eventNode() : std::string(); }
    int nice() const { return nice_; }

private:
    void run() {
        input_event events[64];
        while (running_.load(std::memory_order_relaxed)) {
            pollfd readable{fd_, POLLIN, 0};
            if (::poll(&readable, 1, 100) <= 0) continue;
            const auto got = ::read(fd_, events, sizeof events);
            if (got <= 0) continue;
            const std::span<const input_event> frame(events, static_cast<std::size_t>(got) / sizeof(input_event));
            const auto has = [&](std::uint16_t type, std::uint16_t code) {
                return std::ranges::any_of(frame, [&](const input_event& e) { return e.type == type && e.code == code && e.value != 0; });
            };
            if (has(EV_REL, REL_WHEEL)) {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                const std::uint64_t due = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
                                          static_cast<std::uint64_t>(now.tv_nsec) + glideFrameNanos;
                const timespec until{static_cast<time_t>(due / 1'000'000'000u), static_cast<long>(due % 1'000'000'000u)};
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
                }
                const pf::InputValue glide[] = {{EV_REL, REL_WHEEL_HI_RES, 60}};
                pointer_->send(glide);
            } else if (has(EV_KEY, BTN_SIDE)) {
                const pf::InputValue press[] = {{EV_KEY, KEY_A, 1}};
                const pf::InputValue release[] = {{EV_KEY, KEY_A, 0}};
                keyboard_->send(press);
                keyboard_->send(release);
            } else if (has(EV_REL, REL_X) || has(EV_REL, REL_Y)) {
                pointer_->write(frame);
            }
        }
    }

    int fd_;
    std::string error_;
    std::unique_ptr<pf::UinputDevice> pointer_;
    std::unique_ptr<pf::UinputDevice> keyboard_;
    std::atomic<bool> running_{true};
    std::atomic<bool> started_{false};
    bool pinned_ = false;
    int nice_ = 0;
    std::thread thread_;
};

// The time from just before `act` writes a report to the output's event, in
// µs less `planned`; none when the report was refused or nothing came.
std::optional<double> timeOne(const std::function<bool()>& act, const std::function<std::uint64_t()>& output,
                              std::uint64_t planned = 0) {
    const std::uint64_t written = pf::MonotonicClock::nowNanos();
    if (!act()) return std::nullopt;
    const std::uint64_t out = output();
    if (out == 0) return std::nullopt;
    return (static_cast<double>(out - written) - static_cast<double>(planned)) / 1e3;
}

// Everything one side-by-side run needs: the bare loop, the engine with the
// document, every thread pinned alike.
struct Rig {
    BareLoop bare;
    testing::EngineOnKernel engine;
    std::optional<int> ravoletNice;
    std::string error;

    Rig(int readersCPU, Config document) : bare(otherPointerNode(), readersCPU) {
        // The mouse is in before the engine starts: plugged in by the first
        // report instead, it came after the wait for the target (which then
        // found none) and before the tap had grabbed its node, and the first
        // run's reports went nowhere.
        if (!mouse().isPluggedIn()) error = "the fake G502 X is not plugged in";
        else if (!pin(0, writerCPU)) error = "cannot pin the writer";
        if (error.empty()) error = bare.error();
        if (!error.empty()) return;
        // Each tick of the wheel is a detent, as before the mouse is read.
        engine.events->setWheelTicksPerDetent(1);
        if (auto started = engine.start(std::move(document)); !started) error = started.error();
        else if (!engine.waitForTarget()) error = "the device scope never knew the mouse";
        else if (!(ravoletNice = pinRavolet(readersCPU))) error = "cannot pin Ravolet's threads";
    }
};

// Runs `ours` and `theirs` once each per iteration, in turn first, and
// reports both; the iteration's time is ours.
void sideBySide(benchmark::State& state, Rig& rig, const std::function<std::optional<double>()>& ours,
                const std::function<std::optional<double>()>& theirs, const std::function<void()>& between = nullptr) {
    if (!rig.error.empty()) return state.SkipWithError(rig.error.c_str());
    // The first events warm both paths up (the tap's one event object per node).
    for (int i = 0; i < 10; ++i) {
        if (!ours() || !theirs()) return state.SkipWithError("nothing came out");
        if (between) between();
    }
    std::vector<double> ravolet, bare;
    const auto allocationsBefore = tapThreadAllocations.load();
    bool oursFirst = true;
    for (auto _ : state) {
        std::optional<double> a, b;
        if (oursFirst) {
            a = ours();
            b = theirs();
        } else {
            b = theirs();
            a = ours();
        }
        oursFirst = !oursFirst;
        if (!a || !b) return state.SkipWithError("nothing came out");
        state.SetIterationTime(*a / 1e6);
        ravolet.push_back(*a);
        bare.push_back(*b);
        if (between) between();
    }
    state.counters["allocs_per_event"] =
        static_cast<double>(tapThreadAllocations.load() - allocationsBefore) / static_cast<double>(ravolet.size());
    for (auto* samples : {&ravolet, &bare}) std::ranges::sort(*samples);
    for (const auto& [name, samples] : {std::pair{"ravolet", &ravolet}, std::pair{"bare", &bare}}) {
        state.counters[std::string(name) + "_p50_us"] = percentile(*samples, 0.50);
        state.counters[std::string(name) + "_p90_us"] = percentile(*samples, 0.90);
        state.counters[std::string(name) + "_p99_us"] = percentile(*samples, 0.99);
    }
    state.counters["p50_ratio"] = percentile(ravolet, 0.5) / std::max(percentile(bare, 0.5), 1e-9);
    state.counters["ravolet_nice"] = *rig.ravoletNice;
    state.counters["bare_nice"] = rig.bare.nice();
}

void BM_MotionToOutput(benchmark::State& state) {
    PointerSettings curve;
    curve.isEnabled = state.range(0) != 0;
    curve.curve = PointerCurve::linear;
    Rig rig(static_cast<int>(state.range(1)), testing::oneProfile(ScrollSettings{}, curve));
    if (!rig.error.empty()) return state.SkipWithError(rig.error.c_str());
    Output ravoletOutput(rig.engine.events->virtualPointerNode());
    Output bareOutput(rig.bare.pointerNode());
    sideBySide(
        state, rig,
        [&] { return timeOne([] { return mouse().move(1, 0).has_value(); }, [&] { return ravoletOutput.next(EV_REL, REL_X); }); },
        [&] { return timeOne([] { return other().move(1, 0).has_value(); }, [&] { return bareOutput.next(EV_REL, REL_X); }); });
}
BENCHMARK(BM_MotionToOutput)
    ->ArgNames({"curve", "readers_cpu"})
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->UseManualTime()
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

void BM_DetentToFirstGlideFrame(benchmark::State& state) {
    // A short glide without acceleration, so that the next detent comes
    // after it has ended and begins a glide of its own.
    ScrollSettings smoothing;
    smoothing.isEnabled = true;
    smoothing.durationMillis = 40;
    smoothing.frameIntervalMillis = static_cast<double>(glideFrameNanos) / 1e6;
    smoothing.accelerationEnabled = false;
    Rig rig(static_cast<int>(state.range(0)), testing::oneProfile(smoothing));
    if (!rig.error.empty()) return state.SkipWithError(rig.error.c_str());
    Output ravoletOutput(rig.engine.events->virtualPointerNode());
    Output bareOutput(rig.bare.pointerNode());
    sideBySide(
        state, rig,
        [&] {
            return timeOne([] { return mouse().turnWheel(1).has_value(); },
                           [&] { return ravoletOutput.next(EV_REL, REL_WHEEL_HI_RES, false); }, glideFrameNanos);
        },
        [&] {
            return timeOne([] { return other().turnWheel(1).has_value(); },
                           [&] { return bareOutput.next(EV_REL, REL_WHEEL_HI_RES, false); }, glideFrameNanos);
        },
        // The rest of the glide, and a pause.
        [&] { ravoletOutput.drain(60); });
}
BENCHMARK(BM_DetentToFirstGlideFrame)
    ->ArgName("readers_cpu")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(300)
    ->Unit(benchmark::kMicrosecond);

void BM_SideButtonToKeyFrame(benchmark::State& state) {
    // Back (button 3): the key A (the host's key code 0).
    const ButtonBinding binding{3, ModifierFlags{}, Action::keyStroke(0, ModifierFlags{}), true};
    Rig rig(static_cast<int>(state.range(0)), testing::oneProfile(ScrollSettings{}, PointerSettings{}, {binding}));
    if (!rig.error.empty()) return state.SkipWithError(rig.error.c_str());
    Output ravoletOutput(rig.engine.events->virtualKeyboardNode());
    Output bareOutput(rig.bare.keyboardNode());
    sideBySide(
        state, rig,
        [&] {
            return timeOne([] { return mouse().press(3).has_value(); }, [&] { return ravoletOutput.next(EV_KEY, KEY_A, false); });
        },
        [&] {
            return timeOne([] { return other().press(3).has_value(); }, [&] { return bareOutput.next(EV_KEY, KEY_A, false); });
        },
        // Both buttons up again, and the key's release read.
        [&] {
            if (mouse().release(3) && other().release(3)) {
                ravoletOutput.drain(5);
                bareOutput.drain(5);
            }
        });
}
BENCHMARK(BM_SideButtonToKeyFrame)
    ->ArgName("readers_cpu")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1000)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (!testing::insideKernelTestVM()) {
        std::fprintf(stderr, "%s runs only inside the kernel test VM: scripts/kernel-test.sh --tsc <build-dir> %s\n", argv[0],
                     argv[0]);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    bench::reportClockSource();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

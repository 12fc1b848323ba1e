// HID++ round trips through the real hidraw node of the fake G502 X, inside
// the kernel test VM (it refuses to run anywhere else):
//
//     scripts/kernel-test.sh --tsc build build/bench/kernel/RavoletKernelBench
//
// Each iteration sends the root feature's ping twice, once through Ravolet and
// once bare, in turn first and second, so that whatever else the machine does
// weighs on both alike:
// - link: through the HID++ link on the HID I/O thread, timed there from the
//   request to its completion: the transport (the link's queue, the report
//   written to the node, the answer read and matched on that thread);
// - device: through the whole client, timed on the benchmark's thread: the
//   device actor's queue, the HID I/O thread and the link, and the answer
//   handed back through the actor;
// - bare (in both): the same request written to the same node and its answer
//   read back on the benchmark's thread with nothing of ours in between: what
//   the kernel and the fake mouse's own thread cost.
// p50_ratio is ours over bare (goal for the link: at most 1.5).

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../LatencyCounters.hpp"
#include "VMClock.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "HIDPlusPlus/HIDPPEnumerator.hpp"
#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "KernelTestVM.hpp"
#include "Platform/Linux/HID/LinuxHIDSystem.hpp"
#include "Platform/SerialQueue.hpp"

using namespace ravolet;
namespace pf = ravolet::platform;

namespace {

// One fake mouse for the whole run, so every path meets the same node.
testing::FakeG502X& mouse() {
    static testing::FakeG502X fake;
    static const bool plugged = fake.plugIn().has_value();
    (void)plugged;
    return fake;
}

// The program's HID++ environment on the Linux HID system.
HIDPPEnvironment environment() {
    pf::LinuxHIDSystem::Options options;
    options.accessMatching = {HIDPPDeviceMatch::g502X.vendorID, HIDPPDeviceMatch::g502X.productID};
    HIDPPEnvironment standard = HIDPPEnvironment::standard();
    return {pf::LinuxHIDSystem::make(std::move(options)), standard.io, standard.makeSendQueue};
}

using Clock = std::chrono::steady_clock;

double microsSince(Clock::time_point begin) { return std::chrono::duration<double, std::micro>(Clock::now() - begin).count(); }

// The root feature's ping written to the node and its answer read back.
class BarePing {
public:
    BarePing() {
        const auto node = mouse().kernelDevice(testing::FakeG502X::hidppInterface);
        if (node && node->hidraw) fd_ = ::open(node->hidraw->c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    }
    ~BarePing() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }

    // The time of one ping in µs, none when it failed.
    std::optional<double> operator()() {
        // Every reader of the node gets every report: the answers to the
        // client's own requests wait here too and are dropped first.
        while (::read(fd_, reply_, sizeof reply_) > 0) {
        }
        const auto begin = Clock::now();
        if (::write(fd_, request_, sizeof request_) != static_cast<ssize_t>(sizeof request_)) return std::nullopt;
        for (;;) {
            pollfd readable{fd_, POLLIN, 0};
            if (::poll(&readable, 1, 1000) <= 0) return std::nullopt;
            const auto got = ::read(fd_, reply_, sizeof reply_);
            if (got <= 0) return std::nullopt;
            // The answer carries the request's feature, function and software id.
            if (got >= 4 && reply_[2] == request_[2] && reply_[3] == request_[3]) return microsSince(begin);
        }
    }

private:
    int fd_ = -1;
    // The root feature's ping, as the client sends it.
    const std::uint8_t request_[20] = {0x11, 0xFF, 0x00, 0x1A, 0x00, 0x00, 0x5A};
    std::uint8_t reply_[64] = {};
};

// A ping through the link, started and timed on the HID I/O thread.
class LinkPing {
public:
    explicit LinkPing(const HIDPPEnvironment& env) : io_(env.io) {
        std::promise<bool> opened;
        io_->post([&] {
            link_ = HIDPPEnumerator::hidppLink(HIDPPDeviceMatch::g502X, env);
            opened.set_value(link_ && link_->open().has_value());
        });
        ok_ = opened.get_future().get();
    }
    ~LinkPing() {
        std::promise<void> closed;
        io_->post([&] {
            if (link_) link_->close();
            link_.reset();
            closed.set_value();
        });
        closed.get_future().wait();
    }
    bool isOpen() const { return ok_; }

    std::optional<double> operator()() {
        std::promise<std::optional<double>> done;
        io_->post([&] {
            const auto begin = Clock::now();
            link_->submit(0xFF, 0x00, 0x01, {0x00, 0x00, 0x5A}, true, 1.0, "ping",
                          [&, begin](HIDPPLink::Result result) {
                              done.set_value(result ? std::optional(microsSince(begin)) : std::nullopt);
                          });
        });
        return done.get_future().get();
    }

private:
    std::shared_ptr<pf::Scheduler> io_;
    std::shared_ptr<HIDPPLink> link_;
    bool ok_ = false;
};

// A ping through the whole client, timed on this thread.
class DevicePing {
public:
    explicit DevicePing(const HIDPPEnvironment& env)
        : device_(HIDPPDevice::create(HIDPPDeviceMatch::g502X, env,
                                      std::make_shared<pf::SerialQueue>("ai.ravolet.hidpp.device", pf::QueuePriority::userInitiated))) {
        std::promise<bool> connected;
        device_->connect(nullptr, [&](HIDPPResult<void> r) { connected.set_value(r.has_value()); });
        ok_ = connected.get_future().get();
    }
    ~DevicePing() {
        std::promise<void> closed;
        device_->disconnect(nullptr, [&] { closed.set_value(); });
        closed.get_future().wait();
    }
    bool isOpen() const { return ok_; }

    std::optional<double> operator()() {
        const auto begin = Clock::now();
        std::promise<bool> done;
        device_->ping(nullptr, [&](HIDPPResult<HIDPPProtocolVersion> r) { done.set_value(r.has_value()); });
        if (!done.get_future().get()) return std::nullopt;
        return microsSince(begin);
    }

private:
    std::shared_ptr<HIDPPDevice> device_;
    bool ok_ = false;
};

template <class Ours>
void interleaved(benchmark::State& state, Ours& ours) {
    BarePing bare;
    if (!bare.isOpen()) return state.SkipWithError("the node does not open");
    std::vector<double> oursMicros;
    std::vector<double> bareMicros;
    bool oursFirst = true;
    for (auto _ : state) {
        std::optional<double> a;
        std::optional<double> b;
        if (oursFirst) {
            a = ours();
            b = bare();
        } else {
            b = bare();
            a = ours();
        }
        oursFirst = !oursFirst;
        if (!a || !b) return state.SkipWithError("a ping failed");
        state.SetIterationTime(*a / 1e6);
        oursMicros.push_back(*a);
        bareMicros.push_back(*b);
    }
    bench::reportLatencies(state, oursMicros);
    std::vector<double> sortedBare = bareMicros;
    bench::reportLatencies(state, sortedBare, "bare_");
    if (state.counters["bare_p50_us"] > 0) state.counters["p50_ratio"] = state.counters["p50_us"] / state.counters["bare_p50_us"];
}

void BM_HIDPPLinkPing(benchmark::State& state) {
    if (!mouse().isPluggedIn()) return state.SkipWithError("the fake mouse is not plugged in");
    LinkPing link(environment());
    if (!link.isOpen()) return state.SkipWithError("the HID++ link did not open");
    interleaved(state, link);
}
BENCHMARK(BM_HIDPPLinkPing)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMicrosecond);

void BM_HIDPPDevicePing(benchmark::State& state) {
    if (!mouse().isPluggedIn()) return state.SkipWithError("the fake mouse is not plugged in");
    DevicePing device(environment());
    if (!device.isOpen()) return state.SkipWithError("the HID++ device did not connect");
    // Asked from one of the engine's threads (a setting applied, a DPI shift
    // while held), or from the process's first thread as the Device page asks,
    // whose requests the HID thread always writes.
    if (state.range(0) != 0) return interleaved(state, device);
    std::thread([&] { interleaved(state, device); }).join();
}
BENCHMARK(BM_HIDPPDevicePing)
    ->ArgName("first_thread")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1000)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (!testing::insideKernelTestVM()) {
        std::fprintf(stderr, "%s runs only inside the kernel test VM: scripts/kernel-test.sh --tsc <build-dir> %s\n", argv[0], argv[0]);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    bench::reportClockSource();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The fake mouse's threads end before static destruction.
    mouse().unplug();
    pf::finishThreads();
    return 0;
}

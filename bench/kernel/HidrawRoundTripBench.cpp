// HID++ round trips through the real hidraw node of the fake G502 X, inside
// the kernel test VM (it refuses to run anywhere else):
//
//     scripts/kernel-test.sh build build/bench/kernel/RavoletKernelBench
//
// BM_HIDPPPing is one ping through the whole client (the device actor's
// queue, the HID I/O thread, the link's send queue, the Linux HID system's
// write, its reading thread and the hand-over back) on the Linux HID system;
// BM_BareWriteRead is the same request written to the same node and its
// answer read back with nothing of ours in between: what the kernel and the
// fake mouse's own thread cost. The difference is ours.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "../LatencyCounters.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "KernelTestVM.hpp"
#include "Platform/Linux/HID/LinuxHIDSystem.hpp"
#include "Platform/SerialQueue.hpp"

using namespace ravolet;
namespace pf = ravolet::platform;

namespace {

// One fake mouse for the whole run, so both benchmarks meet the same node.
testing::FakeG502X& mouse() {
    static testing::FakeG502X fake;
    static const bool plugged = fake.plugIn().has_value();
    (void)plugged;
    return fake;
}

void BM_HIDPPPing(benchmark::State& state) {
    if (!mouse().isPluggedIn()) return state.SkipWithError("the fake mouse is not plugged in");
    pf::LinuxHIDSystem::Options options;
    options.accessMatching = {HIDPPDeviceMatch::g502X.vendorID, HIDPPDeviceMatch::g502X.productID};
    const HIDPPEnvironment environment{
        pf::LinuxHIDSystem::make(std::move(options)), HIDPPRunLoop::shared().runLoop(),
        [] { return std::make_shared<pf::SerialQueue>("ai.ravolet.hidpp.send", pf::QueuePriority::userInitiated); }};
    const auto device = HIDPPDevice::create(HIDPPDeviceMatch::g502X, environment,
                                            std::make_shared<pf::SerialQueue>("ai.ravolet.hidpp.device", pf::QueuePriority::userInitiated));
    std::promise<bool> connected;
    device->connect(nullptr, [&](HIDPPResult<void> r) { connected.set_value(r.has_value()); });
    if (!connected.get_future().get()) return state.SkipWithError("the HID++ device did not connect");

    std::vector<double> micros;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        std::promise<bool> done;
        device->ping(nullptr, [&](HIDPPResult<HIDPPProtocolVersion> r) { done.set_value(r.has_value()); });
        if (!done.get_future().get()) return state.SkipWithError("a ping failed");
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
    }
    bench::reportLatencies(state, micros);
    std::promise<void> closed;
    device->disconnect(nullptr, [&] { closed.set_value(); });
    closed.get_future().wait();
}
BENCHMARK(BM_HIDPPPing)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_BareWriteRead(benchmark::State& state) {
    const auto node = mouse().kernelDevice(testing::FakeG502X::hidppInterface);
    if (!node || !node->hidraw) return state.SkipWithError("no HID++ node");
    const int fd = ::open(node->hidraw->c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return state.SkipWithError("the node does not open");
    // The root feature's ping, as the client sends it.
    const std::uint8_t request[20] = {0x11, 0xFF, 0x00, 0x1A, 0x00, 0x00, 0x5A};
    std::uint8_t reply[64];
    std::vector<double> micros;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        if (::write(fd, request, sizeof request) != static_cast<ssize_t>(sizeof request)) {
            state.SkipWithError("a write failed");
            break;
        }
        // Other programs' traffic would be read too; here the mouse only answers us.
        if (::read(fd, reply, sizeof reply) <= 0) {
            state.SkipWithError("a read failed");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
    }
    ::close(fd);
    bench::reportLatencies(state, micros);
}
BENCHMARK(BM_BareWriteRead)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (!testing::insideKernelTestVM()) {
        std::fprintf(stderr, "%s runs only inside the kernel test VM: scripts/kernel-test.sh <build-dir> %s\n", argv[0], argv[0]);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The fake mouse's threads end before static destruction.
    mouse().unplug();
    pf::finishThreads();
    return 0;
}

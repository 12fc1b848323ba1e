// Round trip of one HID++ request through the whole client: the device actor's
// queue, the HID I/O thread, the link and its send queue, the simulated bus and
// the simulated mouse, and the reply back to the caller.

#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include "../LatencyCounters.hpp"
#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"

using namespace ravolet;

namespace {

struct Rig {
    std::shared_ptr<platform::SimulatedMouse> mouse = platform::SimulatedMouse::make();
    std::shared_ptr<HIDPPDevice> device = HIDPPDevice::create(HIDPPDeviceMatch::g502X);
    bool connected = false;

    Rig() {
        mouse->plugIn();
        std::promise<HIDPPResult<void>> done;
        device->connect(nullptr, [&](HIDPPResult<void> r) { done.set_value(r); });
        connected = done.get_future().get().has_value();
    }
};

template <class Start>
void measure(benchmark::State& state, Start start) {
    Rig rig;
    if (!rig.connected) {
        state.SkipWithError("the simulated mouse did not connect");
        return;
    }
    std::vector<double> micros;
    micros.reserve(1 << 16);
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        std::promise<bool> done;
        start(*rig.device, [&done](bool ok) { done.set_value(ok); });
        if (!done.get_future().get()) {
            state.SkipWithError("request failed");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
    }
    bench::reportLatencies(state, micros);
}

void BM_PingRoundTrip(benchmark::State& state) {
    measure(state, [](HIDPPDevice& device, auto done) {
        device.ping(nullptr, [done](HIDPPResult<HIDPPProtocolVersion> r) mutable { done(r.has_value()); });
    });
}
BENCHMARK(BM_PingRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A typed read: one cached feature look-up and one request.
void BM_ReadDPIRoundTrip(benchmark::State& state) {
    measure(state, [](HIDPPDevice& device, auto done) {
        device.dpi(0, nullptr, [done](HIDPPResult<HIDPPDPIState> r) mutable { done(r.has_value()); });
    });
}
BENCHMARK(BM_ReadDPIRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A write and its read-back: three requests (list, write, read).
void BM_SetDPIRoundTrip(benchmark::State& state) {
    bool high = false;
    measure(state, [&high](HIDPPDevice& device, auto done) {
        high = !high;
        device.setDPI(high ? 3200 : 1600, 0, nullptr, [done](HIDPPResult<std::int64_t> r) mutable { done(r.has_value()); });
    });
}
BENCHMARK(BM_SetDPIRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

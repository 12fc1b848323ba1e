#pragma once

// The latency counters of the round-trip benchmarks: every iteration's time
// is kept, and the run reports its median, tail and worst as user counters,
// since the mean alone hides the waits that a user feels.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace ravolet::bench {

// p50_us, p90_us, p99_us and max_us of `micros` (one entry an iteration),
// after `prefix`.
inline void reportLatencies(benchmark::State& state, std::vector<double>& micros, const std::string& prefix = "") {
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double p) {
        if (micros.empty()) return 0.0;
        const auto index = static_cast<std::size_t>(p * static_cast<double>(micros.size() - 1) + 0.5);
        return micros[std::min(index, micros.size() - 1)];
    };
    state.counters[prefix + "p50_us"] = at(0.50);
    state.counters[prefix + "p90_us"] = at(0.90);
    state.counters[prefix + "p99_us"] = at(0.99);
    state.counters[prefix + "max_us"] = micros.empty() ? 0 : micros.back();
}

} // namespace ravolet::bench

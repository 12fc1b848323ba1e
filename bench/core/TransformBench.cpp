#include <benchmark/benchmark.h>

#include "Core/PointerAccumulator.hpp"
#include "Core/ScrollTransformer.hpp"

using namespace ravolet;

namespace {

// One detent through the transformer, as the scroll pipeline makes it: the
// previous glide of the axis is still in flight and folds into the new one.
void BM_ScrollTransformerDetent(benchmark::State& state) {
    ScrollTransformer transformer(ScrollSettings{.isEnabled = true});
    double now = 0;
    for (auto _ : state) {
        now += 60;
        ScrollOutcome outcome = transformer.transform(ScrollInput{1, ScrollAxis::vertical, {}, now, DeviceID(1)}, GlideDelivery{20, now});
        benchmark::DoNotOptimize(outcome);
    }
}
BENCHMARK(BM_ScrollTransformerDetent);

// A detent after a pause: a fresh glide with no carry and no streak, of
// `range(0)` ms cut into frames of `range(1)` ms.
void BM_ScrollTransformerIsolatedDetent(benchmark::State& state) {
    ScrollTransformer transformer(ScrollSettings{.isEnabled = true,
                                                 .durationMillis = static_cast<double>(state.range(0)),
                                                 .frameIntervalMillis = static_cast<double>(state.range(1))});
    double now = 0;
    for (auto _ : state) {
        now += 10'000;
        ScrollOutcome outcome = transformer.transform(ScrollInput{1, ScrollAxis::vertical, {}, now, DeviceID(1)});
        benchmark::DoNotOptimize(outcome);
    }
}
BENCHMARK(BM_ScrollTransformerIsolatedDetent)
    ->Args({250, 8})
    ->Args({5000, 8})
    ->Args({5000, 1})
    ->ArgNames({"glide_ms", "frame_ms"});

// One motion sample through the accumulator with the accelerating curve.
void BM_PointerAccumulatorSample(benchmark::State& state) {
    PointerAccumulator accumulator(PointerCurve::desktop);
    PointerDelta delta{3, 4};
    for (auto _ : state) {
        benchmark::DoNotOptimize(delta);
        auto pixels = accumulator.apply(delta, 2.5);
        benchmark::DoNotOptimize(pixels);
    }
}
BENCHMARK(BM_PointerAccumulatorSample);

} // namespace

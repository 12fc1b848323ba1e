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
        ScrollOutcome outcome = transformer.transform(ScrollInput{1, ScrollAxis::vertical, {}, now, DeviceID(1)}, 20);
        benchmark::DoNotOptimize(outcome);
    }
}
BENCHMARK(BM_ScrollTransformerDetent);

// A detent after a pause: a fresh glide with no carry and no streak.
void BM_ScrollTransformerIsolatedDetent(benchmark::State& state) {
    ScrollTransformer transformer(ScrollSettings{.isEnabled = true});
    double now = 0;
    for (auto _ : state) {
        now += 1000;
        ScrollOutcome outcome = transformer.transform(ScrollInput{1, ScrollAxis::vertical, {}, now, DeviceID(1)});
        benchmark::DoNotOptimize(outcome);
    }
}
BENCHMARK(BM_ScrollTransformerIsolatedDetent);

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

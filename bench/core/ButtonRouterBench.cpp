#include <benchmark/benchmark.h>

#include "Core/ButtonRouter.hpp"

using namespace ravolet;

namespace {

// A profile's worth of bindings; the button under test is found at the end of the walk.
ButtonRouter makeRouter() {
    std::vector<ButtonBinding> bindings;
    for (std::int64_t button = 3; button <= 8; ++button) {
        bindings.push_back({button, ModifierFlags::command, Action::dpiShift(400), true});
    }
    bindings.push_back({9, ModifierFlags::none, Action::keyStroke(36, ModifierFlags::command), true});
    return ButtonRouter(std::move(bindings), 1600);
}

// One press and release of one button: 9 is bound to a key stroke (the press
// yields the key down and up, the release nothing); 12 is unbound and passes
// through both times.
void BM_ButtonRouterPressRelease(benchmark::State& state, std::int64_t button) {
    ButtonRouter router = makeRouter();
    double now = 0;
    for (auto _ : state) {
        auto pressed = router.handle(ButtonEvent::down(button, now));
        auto released = router.handle(ButtonEvent::up(button, now + 80));
        benchmark::DoNotOptimize(pressed);
        benchmark::DoNotOptimize(released);
        now += 100;
    }
}
BENCHMARK_CAPTURE(BM_ButtonRouterPressRelease, keyStroke, std::int64_t{9});
BENCHMARK_CAPTURE(BM_ButtonRouterPressRelease, passThrough, std::int64_t{12});

} // namespace

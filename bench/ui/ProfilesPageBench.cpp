// The Profiles page of a document with many rules (10,000 at the most), on
// Qt's offscreen platform:
// - BM_OpenProfilesPage: the settings window made, the Profiles tab chosen and
//   the window shown, until its rows in view are made and laid out (the time a
//   user waits for the page);
// - BM_EditOneRule: one rule edited through the model while the page shows,
//   until the page has followed (the time each keystroke in a rule costs).
// Both should stay about the same whatever the number of rules.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>

#include <cstdint>
#include <memory>

#include <fmt/format.h>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"

namespace {

using namespace ravolet;

QApplication& application() {
    static int argc = 1;
    static char name[] = "ravolet-bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

Config withRules(std::size_t count) {
    Config config = Config::defaultConfig();
    config.ruleSet.rules.clear();
    for (std::size_t i = 0; i < count; ++i) {
        config.ruleSet.rules.emplace_back(fmt::format("rule-{}", i), BundleIDPattern::exact(fmt::format("com.example.app{}", i)),
                                          "canvas", static_cast<std::int64_t>(i % 7), true);
    }
    return config;
}

void settle() {
    for (int round = 0; round < 5; ++round) QCoreApplication::processEvents();
}

struct Page {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();

    explicit Page(std::size_t rules) { model->setConfig(withRules(rules)); }
};

void BM_OpenProfilesPage(benchmark::State& state) {
    application();
    Page page(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        SettingsWindow window(page.model, [] {});
        window.selectTab(SettingsTab::profiles);
        window.show();
        settle();
        state.PauseTiming();
        window.hide();
        settle();
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
}

void BM_EditOneRule(benchmark::State& state) {
    application();
    const auto count = static_cast<std::size_t>(state.range(0));
    Page page(count);
    SettingsWindow window(page.model, [] {});
    window.selectTab(SettingsTab::profiles);
    window.show();
    settle();
    std::int64_t priority = 0;
    for (auto _ : state) {
        Config edited = page.model->config().value();
        edited.ruleSet.rules[count / 2].priority = ++priority % 100;
        page.model->setConfig(std::move(edited));
        settle();
    }
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(BM_OpenProfilesPage)->Arg(10)->Arg(300)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_EditOneRule)->Arg(10)->Arg(300)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();

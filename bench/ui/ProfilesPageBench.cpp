// The Profiles page of a document with many rules (10,000 at the most), on
// Qt's offscreen platform:
// - BM_OpenProfilesPage: the settings window made, the Profiles tab chosen and
//   the window shown, until its rows in view are made and laid out (the time a
//   user waits for the page);
// - BM_EditOneRule: one rule edited through the model while the page shows,
//   until the page has followed (the time each keystroke in a rule costs);
// - BM_ProfilesPageFollowsAnAppSwitch: the application in front changes (in
//   turn one that a rule in the middle of the list matches and one that no
//   rule matches) while the page shows; the time is the page's own work for
//   the engine's status and the front application's name as they change,
//   per switch and per update of either (goal: at most 50 µs an update),
//   taken between observers of the model connected just before and just
//   after the page's; beside it, Qt's pass over the page that follows
//   (`layout_p50_us`: the layout and painting of what changed).
// Each should stay about the same whatever the number of rules.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>

#include <QScrollArea>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/ProfilesTab.hpp"
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

// Adds up the time between two observers of one value, the first connected
// before the page, the second after it: what the page's own observers took.
class Bracket {
public:
    template <class T>
    void around(const Observable<T>& value, auto&& makePage) {
        opening_.push_back(value.observe([this](const T&) { start_ = std::chrono::steady_clock::now(); }));
        makePage();
        closing_.push_back(value.observe([this](const T&) {
            if (start_) took_ += std::chrono::steady_clock::now() - *start_;
            start_.reset();
            ++updates_;
        }));
    }
    std::chrono::nanoseconds take() { return std::exchange(took_, {}); }
    std::int64_t updates() const { return updates_; }

private:
    std::vector<ObserverConnection> opening_;
    std::vector<ObserverConnection> closing_;
    std::optional<std::chrono::steady_clock::time_point> start_;
    std::chrono::nanoseconds took_{};
    std::int64_t updates_ = 0;
};

void BM_ProfilesPageFollowsAnAppSwitch(benchmark::State& state) {
    application();
    const auto count = static_cast<std::size_t>(state.range(0));
    Page page(count);
    const std::string matched = fmt::format("com.example.app{}", count / 2);
    const std::string unmatched = "net.other.Tool";
    for (const std::string& id : {matched, unmatched})
        page.machine->workspace->install({id, id, "/usr/share/applications/" + id + ".desktop"});
    auto selection = std::make_shared<ProfileSelection>("default");
    QScrollArea window;
    window.setWidgetResizable(true);
    Bracket bracket;
    bracket.around(page.model->status(), [&] {
        bracket.around(page.model->frontmostAppName(), [&] { window.setWidget(new ProfilesTab(page.model, selection)); });
    });
    window.resize(760, 640);
    window.show();
    page.model->start();
    page.machine->advance(std::chrono::seconds(3));
    settle();
    bracket.take();
    const std::int64_t updatesBefore = bracket.updates();

    std::vector<double> micros;
    std::vector<double> laidOut;
    double total = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        page.machine->workspace->activate(next++ % 2 == 0 ? matched : unmatched);
        page.machine->settle();
        const auto start = std::chrono::steady_clock::now();
        settle();
        laidOut.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        const auto took = bracket.take();
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        micros.push_back(std::chrono::duration<double, std::micro>(took).count());
        total += micros.back();
    }
    page.model->stop();
    std::ranges::sort(micros);
    std::ranges::sort(laidOut);
    state.counters["layout_p50_us"] = laidOut[laidOut.size() / 2];
    const auto updates = static_cast<double>(bracket.updates() - updatesBefore);
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["updates_per_switch"] = updates / static_cast<double>(micros.size());
    state.counters["us_per_update"] = updates > 0 ? total / updates : 0;
}

} // namespace

BENCHMARK(BM_OpenProfilesPage)->Arg(10)->Arg(300)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_EditOneRule)->Arg(10)->Arg(300)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_ProfilesPageFollowsAnAppSwitch)
    ->Arg(10)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

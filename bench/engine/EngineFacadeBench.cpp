// The engine facade on the simulated machine, with the real queues and the
// real tap thread: the profile lookup of an application switch, a whole
// application switch (until the tap thread has swapped the profile in) and a
// whole start + stop cycle. The benchmark's thread is the UI executor (its
// run loop).
//
// The switches run over documents of 1, 100 and 10,000 rules of one kind
// (exact identifiers or prefixes), naming eight profiles in turn or each its
// own, switching back and forth between an application that a rule in the
// middle of the list matches and one that no rule matches.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/RunLoop.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "Platform/Simulated/SimulatedDisplays.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPermissionProbe.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "Platform/Simulated/SimulatedProcessLauncher.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/ProfileWatcher.hpp"
#include "RavoletEngine/Coordination/RavoletEngine.hpp"
#include "RavoletEngine/EventPath/CGEventPoster.hpp"

namespace {

using namespace ravolet;
using namespace ravolet::platform;

enum RuleKind : std::int64_t { exactRules = 0, prefixRules = 1 };

// How many profiles the rules name besides "default": eight, or one each.
constexpr std::int64_t sharedProfiles = 8;
constexpr std::int64_t ownProfiles = 0;

// The profiles the rules name: "default" and "profile-0" to "profile-<n-1>",
// told apart by how far a detent scrolls.
double pixelsOfProfile(std::int64_t index) { return 40.0 + static_cast<double>(index); }
double pixelsOfDefault() { return 50; }

// `count` rules of one kind, each naming one of the profiles in turn,
// priorities 0 to 4 in turn: exact identifiers "com.example<i>.Editor", or
// prefixes "org.example<i>.".
Config document(RuleKind kind, std::int64_t count, std::int64_t profileCount = sharedProfiles) {
    if (profileCount == ownProfiles) profileCount = count;
    std::vector<Profile> profiles{Profile::defaultProfile()};
    profiles.front().scroll.pixelsPerDetent = pixelsOfDefault();
    profiles.reserve(static_cast<std::size_t>(profileCount) + 1);
    for (std::int64_t i = 0; i < profileCount; ++i) {
        Profile profile = Profile::defaultProfile();
        profile.id = "profile-" + std::to_string(i);
        profile.name = "Profile " + std::to_string(i);
        profile.scroll.pixelsPerDetent = pixelsOfProfile(i);
        profiles.push_back(std::move(profile));
    }
    std::vector<Rule> rules;
    rules.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        BundleIDPattern pattern = kind == exactRules ? BundleIDPattern::exact("com.example" + n + ".Editor")
                                                     : BundleIDPattern::prefix("org.example" + n + ".");
        rules.emplace_back("rule-" + n, std::move(pattern), "profile-" + std::to_string(i % profileCount), i % 5, true);
    }
    return Config(Config::currentSchemaVersion, true, std::move(profiles), RuleSet(std::move(rules), "default"));
}

// The application that the rule in the middle of the list matches (in
// another letter case than the rule's), and the profile it gets.
std::string matchedApplication(RuleKind kind, std::int64_t count) {
    const std::string n = std::to_string(count / 2);
    return kind == exactRules ? "com.Example" + n + ".editor" : "org.Example" + n + ".Viewer";
}
double pixelsOfMatchedApplication(std::int64_t count, std::int64_t profileCount = sharedProfiles) {
    return pixelsOfProfile(count / 2 % (profileCount == ownProfiles ? count : profileCount));
}
// An application that no rule matches: it gets the default profile.
const std::string unmatchedApplication = "net.other.Tool";

void describe(benchmark::State& state, std::int64_t profiles = sharedProfiles) {
    state.SetLabel(std::string(state.range(0) == exactRules ? "exact" : "prefix") + " rules: " +
                   std::to_string(state.range(1)) + ", profiles: " +
                   std::to_string(profiles == ownProfiles ? state.range(1) : profiles));
}

double percentileMicros(std::vector<std::uint64_t>& nanos, double q) {
    if (nanos.empty()) return 0;
    std::ranges::sort(nanos);
    return static_cast<double>(nanos[static_cast<std::size_t>(q * static_cast<double>(nanos.size() - 1))]) / 1000.0;
}

std::uint64_t elapsedNanos(std::chrono::steady_clock::time_point start) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

// What the UI thread does for one application switch: the profile watcher
// resolves the new application through the document's rules and hands a
// changed profile to its handler (the benchmark's time is that alone). Beside
// it, in the same iterations, the baseline: one look-up of the same
// identifier in a hash map of as many identifiers, the least any look-up by
// name costs.
void BM_ProfileLookup(benchmark::State& state) {
    const auto kind = static_cast<RuleKind>(state.range(0));
    const std::int64_t count = state.range(1);
    const std::int64_t profiles = state.range(2);
    describe(state, profiles);
    const Config config = document(kind, count, profiles);
    std::unordered_map<std::string, std::string> baselineMap;
    for (const Rule& rule : config.ruleSet.rules) baselineMap.emplace(rule.pattern.patternString(), rule.profileID);

    std::int64_t handled = 0;
    auto watcher = ProfileWatcher::create(SimulatedWorkspace::make(), RunLoop::current(), config,
                                          [&handled](const Profile&, const std::optional<std::string>&,
                                                     const ProfileResolution&) { ++handled; });
    const std::vector<std::optional<std::string>> applications{matchedApplication(kind, count), unmatchedApplication};
    std::vector<std::uint64_t> ours;
    std::vector<std::uint64_t> baseline;
    std::size_t next = 0;
    for (auto _ : state) {
        const auto& application = applications[next];
        next = 1 - next;
        auto start = std::chrono::steady_clock::now();
        watcher->activate(application, false);
        ours.push_back(elapsedNanos(start));
        state.SetIterationTime(static_cast<double>(ours.back()) / 1e9);

        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(baselineMap.find(*application));
        baseline.push_back(elapsedNanos(start));
    }
    if (handled != static_cast<std::int64_t>(ours.size())) state.SkipWithError("a switch did not change the profile");
    const double bare50 = percentileMicros(baseline, 0.5);
    state.counters["p50_us"] = percentileMicros(ours, 0.5);
    state.counters["p99_us"] = percentileMicros(ours, 0.99);
    state.counters["bare_p50_us"] = bare50;
    state.counters["bare_p99_us"] = percentileMicros(baseline, 0.99);
    if (bare50 > 0) state.counters["ratio_p50"] = state.counters["p50_us"] / bare50;
}
BENCHMARK(BM_ProfileLookup)
    ->ArgsProduct({{exactRules, prefixRules}, {1, 100, 10'000}, {sharedProfiles}})
    ->ArgsProduct({{exactRules, prefixRules}, {10'000}, {ownProfiles}})
    ->ArgNames({"kind", "rules", "profiles"})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

struct Machine {
    std::shared_ptr<RunLoop> ui = RunLoop::current();
    std::shared_ptr<SimulatedEventSystem> events = std::make_shared<SimulatedEventSystem>();
    std::shared_ptr<SimulatedPrivateHIDEventSystem> hid = std::make_shared<SimulatedPrivateHIDEventSystem>();
    std::shared_ptr<SimulatedPermissionProbe> probe = std::make_shared<SimulatedPermissionProbe>();
    std::shared_ptr<SimulatedWorkspace> workspace = SimulatedWorkspace::make();
    std::shared_ptr<RavoletEngine> engine;

    explicit Machine(Config config) {
        hid->attach(SimulatedDevice::targetMouse());
        probe->setAccessibilityTrusted(true);
        probe->setCanListenToEvents(true);
        auto backend = std::make_shared<FakePointerPropertyBackend>(
            std::vector{PointerServiceIdentity{SimulatedDevice::targetMouse().registryID, 0x046D, 0xC099, "G502 X", 1, 2}});
        RavoletEngine::Environment environment;
        environment.ui = ui;
        environment.events = events;
        environment.privateHID = hid;
        environment.displays = std::make_shared<SimulatedDisplays>();
        environment.workspace = workspace;
        environment.permissions = probe;
        environment.launcher = std::make_shared<SimulatedProcessLauncher>();
        environment.pointerTuning = std::make_shared<PointerHardwareTuning>(
            backend, std::make_shared<InMemoryKeyValueStore>(), std::nullopt, std::vector{HIDPPDeviceMatch::g502X},
            std::make_shared<SimulatedClock>(), std::make_shared<InMemoryFileSystem>());
        environment.makeDevice = [](HIDPPDeviceMatch) -> std::shared_ptr<HIDPPDevice> { return nullptr; };
        EventTapController::Configuration tap;
        tap.eventsOfInterest = EventTapController::defaultEventMask;
        RavoletEngine::Options options{{HIDPPDeviceMatch::g502X},
                                       tap,
                                       std::make_shared<CGEventPoster>(events, EventTapLocation::session),
                                       nullptr,
                                       false,
                                       true,
                                       true,
                                       std::nullopt,
                                       std::nullopt,
                                       false,
                                       false};
        engine = RavoletEngine::create(std::move(config), std::move(options), std::move(environment));
    }
    ~Machine() {
        engine->stop();
        ui->runFor(0);
    }

    // Runs the UI executor until the tap thread has swapped in the profile
    // that scrolls `pixels` a detent.
    void waitForSwap(double pixels) const {
        while (engine->scrollPipeline()->settings().pixelsPerDetent != pixels) ui->runFor(0);
    }
};

// One application switch end to end: the activation reaches the watcher on
// the UI executor, the engine applies the profile, and the tap thread swaps
// it into the pipelines.
void BM_ProfileSwitch(benchmark::State& state) {
    const auto kind = static_cast<RuleKind>(state.range(0));
    const std::int64_t count = state.range(1);
    const std::int64_t profiles = state.range(2);
    describe(state, profiles);
    Machine m(document(kind, count, profiles));
    m.workspace->setFrontmost(RunningApplication{unmatchedApplication, "Other"});
    if (!m.engine->start()) return state.SkipWithError("the tap did not start");
    const RunningApplication matched{matchedApplication(kind, count), "Matched"};
    const RunningApplication unmatched{unmatchedApplication, "Other"};
    bool toMatched = true;
    for (auto _ : state) {
        m.workspace->activate(toMatched ? matched : unmatched);
        m.waitForSwap(toMatched ? pixelsOfMatchedApplication(count, profiles) : pixelsOfDefault());
        toMatched = !toMatched;
    }
}
BENCHMARK(BM_ProfileSwitch)
    ->ArgsProduct({{exactRules, prefixRules}, {1, 100, 10'000}, {sharedProfiles}})
    ->ArgsProduct({{exactRules}, {10'000}, {ownProfiles}})
    ->ArgNames({"kind", "rules", "profiles"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// A changed document, until the tap thread has swapped it in: the rules are
// read anew (a document of 10,000 rules costs its reading here, once, rather
// than at every switch).
void BM_DocumentUpdate(benchmark::State& state) {
    const auto kind = static_cast<RuleKind>(state.range(0));
    const std::int64_t count = state.range(1);
    describe(state);
    std::vector<Config> documents{document(kind, count), document(kind, count)};
    documents[1].profiles.front().scroll.pixelsPerDetent = pixelsOfDefault() + 1;
    Machine m(documents[0]);
    if (!m.engine->start()) return state.SkipWithError("the tap did not start");
    std::size_t next = 1;
    for (auto _ : state) {
        state.PauseTiming();
        Config changed = documents[next];
        state.ResumeTiming();
        m.engine->update(std::move(changed));
        m.waitForSwap(documents[next].profiles.front().scroll.pixelsPerDetent);
        next = 1 - next;
    }
}
BENCHMARK(BM_DocumentUpdate)
    ->ArgsProduct({{exactRules, prefixRules}, {1, 100, 10'000}})
    ->ArgNames({"kind", "rules"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_StartStopCycle(benchmark::State& state) {
    Machine m(document(exactRules, 1));
    for (auto _ : state) {
        if (!m.engine->start()) return state.SkipWithError("the tap did not start");
        m.engine->stop();
        m.ui->runFor(0);
    }
}
BENCHMARK(BM_StartStopCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

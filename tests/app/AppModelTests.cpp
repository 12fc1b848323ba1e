#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "Platform/RunLoopThread.hpp"
#include "Platform/Simulated/SimulatedSessionWatcher.hpp"
#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"

namespace ravolet {
namespace {

using namespace std::chrono_literals;
using Mouse = platform::SimulatedMouse;
using Lines = std::vector<std::string>;
using FileOperation = platform::InMemoryFileSystem::Operation;
using platform::LoginItemStatus;

const std::string tapRefused(EventTapController::description(EventTapController::StartError::tapCreationFailed));

// A model on the simulated machine in virtual time, whose engines come from a
// factory that notes, at each one's making and at each start and stop, where
// the rest of the model stands.
struct ModelRig {
    ModelRig() = default;
    explicit ModelRig(bool granted) { machine->grant(granted, granted); }
    ~ModelRig() {
        for (const auto& engine : engines) engine->setOnStatusChange(nullptr);
        model.reset();
    }

    AppModel& make() {
        auto dependencies = machine->dependencies();
        dependencies.makeEngine = [this](Config config, RavoletEngine::Options options, RavoletEngine::Environment env) {
            note("engine made");
            auto engine = RavoletEngine::create(std::move(config), std::move(options), std::move(env));
            engine->setOnStatusChange([this, running = std::make_shared<bool>(false)](const EngineStatus& status) {
                if (status.isRunning != *running) note((*running = status.isRunning) ? "engine running" : "engine stopped");
            });
            return engines.emplace_back(engine);
        };
        dependencies.session = session;
        model = AppModel::create(std::move(dependencies));
        return *model;
    }
    // Made, started, and the mouse connected and read.
    AppModel& started() {
        make().start();
        machine->settle();
        return *model;
    }
    void note(const std::string& what) {
        const DeviceMonitor& monitor = model->deviceMonitor();
        trace.push_back(fmt::format("{}: monitor {} at {} Hz, login read {}x, updater {}, {} saves", what,
                                    monitor.isStarted() ? "started" : "idle", monitor.desiredReportRateHertz().value_or(0),
                                    machine->loginItems->calls().size(),
                                    model->updater().hasStarted().value() ? "started" : "idle",
                                    machine->files->writeCount()));
    }

    std::shared_ptr<RavoletEngine> engine() const { return model->engine().value(); }
    std::filesystem::path file() const { return machine->files->settingsFolder() / "config.json"; }
    std::optional<Config> saved() const {
        const auto config = Config::decoded(machine->files->readFile(file()).value_or(""));
        return config ? std::optional(*config) : std::nullopt;
    }
    std::size_t writes(std::uint16_t feature, std::uint8_t function = 2) const {
        return machine->mouse->requestCount(feature, function);
    }

    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<platform::SimulatedSessionWatcher> session = std::make_shared<platform::SimulatedSessionWatcher>();
    std::shared_ptr<AppModel> model;
    std::vector<std::shared_ptr<RavoletEngine>> engines;
    Lines trace;
};

Config withDPI(std::int64_t dpi) {
    Config config = Config::defaultConfig();
    config.profiles.front().pointer.dpi = dpi;
    return config;
}

TEST(AppModel, StartsInOrderAndDeviceEventsReachTheEngineOnlyOnceItExists) {
    ModelRig rig(false);
    rig.machine->defaults->set(AppPreferences::Keys::reportRateHertz, std::int64_t{500});
    AppModel& model = rig.make();

    // Construction starts nothing.
    rig.machine->advance(5s);
    EXPECT_EQ(rig.engine(), nullptr);
    EXPECT_TRUE(rig.machine->mouse->receivedRequests().empty());
    EXPECT_TRUE(rig.machine->loginItems->calls().empty());

    // Whoever hears of the grants during start() cannot build the engine before its turn.
    ObserverConnection eager = model.permissions().observe([&](const PermissionState&) { model.restartEngineIfNeeded(); });
    rig.machine->grant(true, true);
    model.start();
    EXPECT_EQ(rig.trace, (Lines{"engine made: monitor started at 500 Hz, login read 1x, updater idle, 0 saves",
                                "engine running: monitor started at 500 Hz, login read 1x, updater idle, 0 saves"}));
    EXPECT_TRUE(model.updater().hasStarted().value());
    EXPECT_TRUE(rig.machine->mouse->receivedRequests().empty()) << "the monitor connects after start() returns";

    // The ready mouse's event reached the engine, whose applier wrote the profile's DPI then.
    rig.machine->settle();
    EXPECT_EQ(rig.engines.size(), 1u);
    EXPECT_EQ(model.status().value().deviceSettings, SettingsApplyState::applied(Profile::defaultDPI));
    EXPECT_EQ(rig.machine->mouse->reportIntervalMilliseconds(), 2);

    // An application come forward is named as it comes; nothing is read
    // again while nothing changes.
    rig.machine->workspace->install({"org.mozilla.firefox", "Firefox", "/usr/share/applications/firefox.desktop"});
    rig.machine->workspace->activate("org.mozilla.firefox");
    rig.machine->settle();
    EXPECT_EQ(model.frontmostAppName().value(), "Firefox");
    rig.machine->advance(1h);
    EXPECT_EQ(rig.machine->loginItems->calls().size(), 1u);
}

TEST(AppModel, WhatChangesOnTheHostArrivesAsItsNoticeAndNothingRunsWhileNothingHappens) {
    ModelRig rig;
    AppModel& model = rig.started();
    const auto idle = [&] { return !rig.machine->time->nextDeadline().has_value(); };
    rig.machine->advance(5s); // what the start itself set going has run
    EXPECT_TRUE(idle()) << (idle() ? 0 : (*rig.machine->time->nextDeadline() - rig.machine->time->nowNanos()) / 1000000) << " ms";
    struct Case {
        const char* what;
        std::function<void()> change;
        std::function<bool()> arrived;
    } cases[] = {
        {"the desktop turns the login item on", [&] { rig.machine->loginItems->setStatus(LoginItemStatus::enabled); },
         [&] { return model.launchAtLogin().status().value() == LoginItemStatus::enabled; }},
        {"a grant withdrawn", [&] { rig.machine->grant(false, true); },
         [&] { return !model.permissions().value().accessibility; }},
        {"the grant given back", [&] { rig.machine->grant(true, true); },
         [&] { return model.permissions().value().accessibility; }},
        {"an application comes forward whose profile is the one in force",
         [&] { rig.machine->workspace->activate("org.mozilla.firefox"); },
         [&] { return model.status().value().frontmostBundleID == "org.mozilla.firefox"; }},
        {"the wheel turns", [&] { rig.machine->mouseFeed->turnWheel(1, 0); },
         [&] { return model.status().value().scroll.inputsTransformed > 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        // The longest wait: the counters are gathered a while after the first event.
        rig.machine->advance(AppModel::countersInterval);
        EXPECT_TRUE(c.arrived());
        EXPECT_TRUE(idle());
    }
    EXPECT_EQ(rig.machine->loginItems->calls().size(), 2u) << "read at start and on the desktop's notice only";
}

TEST(AppModel, EditsBecomeOneEngineUpdateAQuarterSecondAndOneSaveASecondAfterTheLast) {
    ModelRig rig;
    AppModel& model = rig.started();
    const auto engine = rig.engine();
    const Config original = model.config().value();
    int notified = 0;
    ObserverConnection counting = model.config().observe([&](const Config&) { ++notified; });

    model.setConfig(original);
    EXPECT_EQ(notified, 0) << "an equal document is no change";
    for (const std::int64_t dpi : {800, 1200, 2400}) {
        model.setConfig(withDPI(dpi));
        rig.machine->advance(100ms);
    }
    EXPECT_EQ(notified, 3);

    // The last edit came 100 ms ago.
    rig.machine->advance(149ms);
    EXPECT_EQ(engine->currentConfig(), original) << "each edit replaced the pending update";
    rig.machine->advance(1ms);
    EXPECT_EQ(engine->currentConfig(), withDPI(2400));
    EXPECT_EQ(rig.machine->mouse->currentDPI(), 2400);

    rig.machine->advance(749ms);
    EXPECT_EQ(rig.machine->files->writeCount(), 0u);
    rig.machine->advance(1ms);
    EXPECT_EQ(rig.machine->files->writeCount(), 1u);
    EXPECT_EQ(rig.saved(), withDPI(2400));
    rig.machine->advance(5s);
    EXPECT_EQ(rig.machine->files->writeCount(), 1u);
    EXPECT_EQ(engine, rig.engine());
}

TEST(AppModel, PausingHandsTheEngineAnUntouchingDocumentAndKeepsTheUsers) {
    ModelRig rig;
    AppModel& model = rig.started();
    const auto engine = rig.engine();
    const Config user = model.config().value();
    ASSERT_TRUE(user.profiles.front().pointer.isEnabled);
    ASSERT_FALSE(user.profiles.front().buttons.empty());

    model.setPausedByUser(true);
    Config untouching = user;
    for (Profile& p : untouching.profiles) {
        p.scroll = ScrollSettings::passThrough;
        p.pointer.isEnabled = false;
        p.buttons.clear();
    }
    EXPECT_TRUE(engine->isPausedByUser());
    EXPECT_EQ(engine->currentConfig(), untouching);
    EXPECT_EQ(model.config().value(), user);
    rig.machine->settle();
    EXPECT_EQ(model.menuBar().value(), (MenuBarState{"pause.circle", "Paused", "Your mouse behaves exactly as your desktop ships it"}));
    EXPECT_TRUE(model.needsBanner().value());

    // An edit while paused is kept as the user made it and reaches the engine paused.
    model.setConfig(withDPI(800));
    rig.machine->advance(1s);
    EXPECT_EQ(rig.saved(), withDPI(800));
    EXPECT_TRUE(engine->currentConfig().profiles.front().buttons.empty());

    model.setPausedByUser(false);
    EXPECT_FALSE(engine->isPausedByUser());
    EXPECT_EQ(engine->currentConfig(), withDPI(800));
    rig.machine->settle();
    EXPECT_FALSE(model.needsBanner().value());
}

TEST(AppModel, NoticedGrantsRebuildTheEngineOnlyWhenBothAreFirstSeenTogetherAndAStartErrorStaysUntilThen) {
    ModelRig rig(false);
    AppModel& model = rig.make();
    model.start();
    rig.machine->advance(1s);
    EXPECT_EQ(model.status().value().lastError, tapRefused) << "kept through the engine's own statuses";
    EXPECT_EQ(model.menuBar().value().headline, "Needs permission to run");
    // Whoever watches the engine and asks for a restart cannot start another in the middle.
    ObserverConnection eager = model.engine().observe([&](const auto&) { model.restartEngineIfNeeded(); });

    struct Tick {
        bool accessibility, inputMonitoring, tapsAllowed, rebuilt;
        const char* what;
    } ticks[] = {
        {true, false, false, false, "one grant is not enough"},
        {true, true, false, true, "both grants first seen together, though the system still refuses the tap"},
        {true, true, true, false, "no grant came: no new engine, though the tap is not running"},
        {false, true, true, false, "a grant withdrawn"},
        {true, true, true, true, "both grants first seen together again"},
        {true, true, true, false, "both grants again"},
        {false, true, false, false, "a grant withdrawn; the tap runs on"},
        {true, true, true, false, "both grants first seen together, with the tap running"},
    };
    for (const Tick& tick : ticks) {
        const auto before = rig.engine();
        rig.machine->grant(tick.accessibility, tick.inputMonitoring);
        rig.machine->events->setTapsAllowed(tick.tapsAllowed);
        rig.machine->advance(2s);
        EXPECT_EQ(rig.engine() != before, tick.rebuilt) << tick.what;
        const bool running = rig.engine()->status().isRunning;
        EXPECT_EQ(model.status().value().lastError, running ? std::nullopt : std::optional(tapRefused)) << tick.what;
        EXPECT_EQ(model.status().value().isTapEnabled, running) << tick.what;
    }
    EXPECT_EQ(rig.engines.size(), 3u);
    EXPECT_FALSE(rig.engines.front()->status().isRunning);
}

TEST(AppModel, AnEngineThatStartsItselfOnAnEditClearsTheKeptStartError) {
    ModelRig rig(false);
    AppModel& model = rig.started();
    ASSERT_EQ(model.status().value().lastError, tapRefused);
    // Before the notice of the grants is taken in: only the edit can start the engine.
    rig.machine->grant(true, true);
    model.setConfig(withDPI(800));
    model.applyToEngineNow();
    rig.machine->settle();
    EXPECT_EQ(rig.engines.size(), 1u);
    EXPECT_TRUE(model.status().value().isRunning);
    EXPECT_EQ(model.status().value().lastError, std::nullopt);
    rig.machine->advance(1s);
    EXPECT_EQ(rig.engines.size(), 1u) << "the notice finds the engine running";
}

TEST(AppModel, StartingFreshArchivesTheBrokenFileAndReadingAgainSavesOnlyAChange) {
    ModelRig rig;
    rig.machine->files->putFile(rig.file(), "{ broken");
    AppModel& model = rig.started();
    ASSERT_TRUE(model.store().problem().value());
    EXPECT_TRUE(model.needsBanner().value());
    model.setConfig(withDPI(800));
    rig.machine->advance(1s);
    EXPECT_EQ(rig.machine->files->readFile(rig.file()), "{ broken") << "never saved over";

    // The move fails: nothing else changes.
    rig.machine->files->fail(FileOperation::move, EACCES);
    model.startFreshConfig();
    EXPECT_TRUE(model.store().problem().value());
    EXPECT_EQ(model.config().value(), withDPI(800));
    EXPECT_EQ(rig.engine()->currentConfig(), withDPI(800));

    rig.machine->files->fail(FileOperation::move, 0);
    model.startFreshConfig();
    const auto archive = model.store().archivedFileURL().value();
    ASSERT_TRUE(archive);
    EXPECT_EQ(rig.machine->files->readFile(*archive), "{ broken");
    EXPECT_EQ(rig.saved(), withDPI(800)) << "the settings in force, saved at once";
    EXPECT_EQ(rig.engine()->currentConfig(), withDPI(800)) << "pushed at once";
    EXPECT_FALSE(model.needsBanner().value());

    // Reading the file again assigns what it holds: an unchanged document writes nothing.
    rig.machine->advance(2s);
    const auto writes = rig.machine->files->writeCount();
    model.readConfigAgain();
    rig.machine->advance(2s);
    EXPECT_EQ(rig.machine->files->writeCount(), writes);
    // Broken again: the settings in force stay, and the file is left alone.
    model.setConfig(withDPI(1200));
    rig.machine->files->putFile(rig.file(), "[]");
    model.readConfigAgain();
    EXPECT_EQ(rig.engine()->currentConfig(), withDPI(1200));
    rig.machine->advance(2s);
    EXPECT_EQ(rig.machine->files->readFile(rig.file()), "[]");
}

TEST(AppModel, TheDeviceSwitchHoldsBackEveryWriteAndOpeningItWritesAgain) {
    ModelRig rig;
    AppModel& model = rig.started();
    const auto& mouse = rig.machine->mouse;
    mouse->clearReceivedRequests();

    model.setManagesDeviceSettings(false);
    model.setReportRate(500);
    model.setHighResolutionWheel(true);
    model.setConfig(withDPI(800));
    rig.machine->advance(1s);
    EXPECT_EQ(rig.writes(Mouse::reportRateFeature) + rig.writes(Mouse::hiResWheelFeature), 0u);
    EXPECT_EQ(mouse->currentDPI(), Profile::defaultDPI);

    mouse->clearReceivedRequests();
    model.setManagesDeviceSettings(true);
    rig.machine->settle();
    EXPECT_EQ(rig.writes(Mouse::reportRateFeature), 1u);
    EXPECT_EQ(rig.writes(Mouse::hiResWheelFeature), 1u);
    EXPECT_EQ(mouse->currentDPI(), 800) << "the engine's applier wrote the profile's DPI again";
    EXPECT_GE(rig.writes(Mouse::reportRateFeature, 1), 1u) << "and the mouse was read again";
}

// The desktop reads the wheel itself while no engine taps it: the wheel is
// in high resolution only while the engine's tap counts its ticks.
TEST(AppModel, TheWheelIsInHighResolutionOnlyWhileTheEngineTapsIt) {
    ModelRig rig;
    AppModel& model = rig.make();
    model.setHighResolutionWheel(true);
    model.start();
    rig.machine->settle();
    const auto& mouse = rig.machine->mouse;
    ASSERT_TRUE(rig.engine()->status().isTapEnabled);
    EXPECT_EQ(mouse->wheelMode(), 0x02);

    Config off = model.config().value();
    off.isEnabled = false;
    model.setConfig(off);
    rig.machine->advance(1s);
    rig.machine->settle();
    ASSERT_FALSE(model.status().value().isTapEnabled);
    EXPECT_EQ(mouse->wheelMode(), 0x00) << "back as found while nothing counts its ticks";

    off.isEnabled = true;
    model.setConfig(off);
    rig.machine->advance(1s);
    rig.machine->settle();
    EXPECT_EQ(mouse->wheelMode(), 0x02);
}

TEST(AppModel, StopSavesThePendingEditThenStopsTheEngineThenTheMonitorAndNothingRestarts) {
    ModelRig rig;
    AppModel& model = rig.started();
    model.setConfig(withDPI(800));
    rig.machine->advance(500ms);
    rig.trace.clear();

    model.stop();
    EXPECT_EQ(rig.trace, Lines{"engine stopped: monitor started at 0 Hz, login read 1x, updater started, 1 saves"});
    EXPECT_EQ(rig.saved(), withDPI(800));
    EXPECT_EQ(rig.engine(), nullptr);
    EXPECT_FALSE(model.deviceMonitor().isStarted());

    rig.machine->advance(5s);
    model.restartEngineIfNeeded();
    EXPECT_EQ(rig.engine(), nullptr);
    EXPECT_EQ(rig.machine->files->writeCount(), 1u) << "the delayed save was cancelled";
    EXPECT_EQ(rig.machine->loginItems->calls().size(), 1u) << "no poll";
    // Every way out of the program stops the model, one after another: the quit saves once.
    model.setConfig(withDPI(1200));
    model.stop();
    EXPECT_EQ(rig.machine->files->writeCount(), 1u);
    EXPECT_EQ(rig.engines.size(), 1u);
}

TEST(AppModel, OnlyAChangedDocumentIsSavedSoAnUntouchedFileStaysAsItIs) {
    // Compact, where Ravolet writes it pretty-printed.
    const std::string byHand = Config::defaultConfig().toJson().dump() + "\n";
    for (const bool hasFile : {false, true}) {
        SCOPED_TRACE(hasFile ? "a hand-formatted file" : "no file");
        ModelRig rig;
        if (hasFile) rig.machine->files->putFile(rig.file(), byHand);
        AppModel& model = rig.started();
        ASSERT_EQ(model.config().value(), Config::defaultConfig());
        // A change undone before its save is no change.
        model.setConfig(withDPI(800));
        model.setConfig(Config::defaultConfig());
        rig.machine->advance(2s);
        model.retrySaving();
        model.stop();
        EXPECT_EQ(rig.machine->files->writeCount(), 0u);
        EXPECT_EQ(rig.machine->files->readFile(rig.file()).value_or("<none>"), hasFile ? byHand : "<none>");
    }
}

// Another user's session in front: the mouse is theirs until ours is back.
TEST(AppModel, LetsGoOfTheMouseWhileAnotherSessionIsInFrontAndTakesItBackLeavingTheDocumentAlone) {
    for (const bool inFrontAtStart : {true, false}) {
        SCOPED_TRACE(inFrontAtStart ? "in front at start" : "away at start");
        ModelRig rig;
        rig.session->setActive(inFrontAtStart);
        AppModel& model = rig.started();
        const auto saves = rig.machine->files->writeCount();
        if (inFrontAtStart) {
            ASSERT_NE(rig.engine(), nullptr);
            rig.trace.clear();
            rig.session->setActive(false);
            rig.machine->settle();
            EXPECT_EQ(rig.trace, Lines{"engine stopped: monitor started at 0 Hz, login read 1x, updater started, 0 saves"})
                << "the engine stops first, then the monitor, as in a stop";
        }
        EXPECT_EQ(rig.engine(), nullptr);
        EXPECT_EQ(rig.machine->events->tapCount(), 0u) << "the mouse is not tapped";
        EXPECT_FALSE(model.deviceMonitor().isStarted());
        EXPECT_FALSE(rig.machine->device->isConnected()) << "its HID++ interface is let go";
        // Nothing builds an engine meanwhile, neither a notice nor a caller.
        model.restartEngineIfNeeded();
        rig.machine->advance(5s);
        EXPECT_EQ(rig.engine(), nullptr);
        const std::size_t made = rig.engines.size();

        rig.session->setActive(true);
        rig.machine->settle();
        ASSERT_NE(rig.engine(), nullptr);
        EXPECT_EQ(rig.engines.size(), made + 1);
        EXPECT_TRUE(rig.engine()->status().isTapEnabled);
        EXPECT_TRUE(rig.machine->device->isConnected());
        EXPECT_EQ(model.status().value().deviceSettings, SettingsApplyState::applied(Profile::defaultDPI));
        EXPECT_EQ(rig.machine->files->writeCount(), saves) << "the document is neither saved nor changed";
        EXPECT_EQ(model.config().value(), Config::defaultConfig());
    }
}

TEST(AppModel, ACommandThatDoesNotStartIsToldEachTimeOnTheDesktopAndInTheStatusUntilOneStarts) {
    ModelRig rig;
    AppModel& model = rig.started();
    const auto bind = [&](const std::string& line) {
        Config config = model.config().value();
        config.profiles.front().buttons = {ButtonBinding{.button = 6, .modifiers = {}, .action = Action::runShortcut(line), .isEnabled = true}};
        model.setConfig(config);
        model.applyToEngineNow();
        rig.machine->settle();
    };
    const auto click = [&] {
        rig.machine->mouseFeed->pressButton(6, true);
        rig.machine->mouseFeed->pressButton(6, false);
        rig.machine->settle();
    };
    bind("ravolet-no-such-program 'a b'");
    click();
    click();
    const std::string said = "\u201Cravolet-no-such-program 'a b'\u201D did not start: No program named "
                             "\u201Cravolet-no-such-program\u201D is in the folders of your PATH.";
    EXPECT_EQ(rig.machine->notifier->messages(),
              (std::vector<platform::SimulatedNotifier::Message>{{"Ravolet could not run a command", said},
                                                                 {"Ravolet could not run a command", said}}));
    EXPECT_EQ(model.menuBar().value().detail, said);

    rig.machine->launcher->installProgram("/opt/tools/lights");
    bind("/opt/tools/lights off");
    click();
    EXPECT_EQ(rig.machine->launcher->launches().back().arguments, std::vector<std::string>{"off"});
    EXPECT_EQ(model.menuBar().value().detail, std::nullopt) << "a command that starts clears it";
    EXPECT_EQ(rig.machine->notifier->messages().size(), 2u);
}

TEST(AppModelOnThreads, TheSimulatedMachineRunsTheModelAsTheProgramDoes) {
    platform::RunLoopThread main(platform::Thread::Options{"ui"});
    ASSERT_TRUE(main.start());
    const auto ui = main.runLoop();
    const auto onMain = [&](std::function<void()> body) {
        std::promise<void> ran;
        ui->post([&] { body(), ran.set_value(); });
        ran.get_future().wait();
    };
    std::shared_ptr<SimulatedMachine> machine;
    std::shared_ptr<AppModel> model;
    onMain([&] {
        machine = SimulatedMachine::make(ui, SimulatedMachine::Storage::inMemory);
        (model = machine->makeModel())->start();
    });
    // The mouse connects on the HID I/O thread and the engine's applier writes its DPI.
    bool applied = false;
    for (int i = 0; i < 1000 && !applied; ++i) {
        std::this_thread::sleep_for(10ms);
        onMain([&] { applied = model->status().value().deviceSettings == SettingsApplyState::applied(Profile::defaultDPI); });
    }
    EXPECT_TRUE(applied);
    onMain([&] {
        EXPECT_TRUE(model->status().value().isTapEnabled);
        model->stop();
        model.reset();
        machine.reset();
    });
}

} // namespace
} // namespace ravolet

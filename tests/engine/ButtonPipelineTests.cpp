#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Core/ButtonRouter.hpp"
#include "PipelineTestSupport.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "RavoletEngine/EventPath/ButtonPipeline.hpp"

namespace ravolet {
namespace {

using namespace std::chrono_literals;
using testing::LoggingPoster;
using testing::RecordingSideEffects;
using Lines = std::vector<std::string>;

ButtonBinding bind(std::int64_t button, Action action, ModifierFlags modifiers = {}) {
    return ButtonBinding{button, modifiers, std::move(action), true};
}

struct ButtonPipelineTest : ::testing::Test {
    std::shared_ptr<platform::ManualScheduler> queue = std::make_shared<platform::ManualScheduler>(1'000'000'000);
    std::shared_ptr<LoggingPoster> poster = std::make_shared<LoggingPoster>();
    std::shared_ptr<RecordingSideEffects> effects = std::make_shared<RecordingSideEffects>();
    std::shared_ptr<MacroExecutor> executor = MacroExecutor::create(poster, effects, queue);
    ButtonPipeline pipeline{ButtonRouter({bind(4, Action::keyStroke(0, ModifierFlags::command)),
                                          bind(5, Action::hold(56, {})),
                                          bind(6, Action::repeatWhileHeld(MacroStep::key(125, {}), 50)),
                                          bind(7, Action::dpiShift(400))},
                                         1600),
                            executor};

    Lines posted() const { return poster->log.lines(); }
    void expectEveryEventCountedOnce() const {
        const auto m = pipeline.snapshotMetrics();
        EXPECT_EQ(m.eventsSeen, m.passedThrough + m.suppressed);
    }
};

TEST_F(ButtonPipelineTest, AnUnboundButtonPassesUntouchedAndNothingIsPosted) {
    EXPECT_EQ(pipeline.handle(ButtonEvent::down(3, 10)), ButtonDisposition::passThrough);
    EXPECT_EQ(pipeline.handle(ButtonEvent::up(3, 20)), ButtonDisposition::passThrough);
    // A release without a press passes as well.
    EXPECT_EQ(pipeline.handle(ButtonEvent::up(1, 30)), ButtonDisposition::passThrough);
    EXPECT_EQ(queue->pendingCount(), 0u);
    queue->runUntilIdle();
    EXPECT_TRUE(posted().empty());
    const auto m = pipeline.snapshotMetrics();
    EXPECT_EQ(m.passedThrough, 3);
    EXPECT_EQ(m.intentsProduced, 3);
    expectEveryEventCountedOnce();
}

TEST_F(ButtonPipelineTest, ABoundPressIsSwallowedAndPerformedByTheExecutorAndItsEmptyReleaseSwallowedToo) {
    EXPECT_EQ(pipeline.handle(ButtonEvent::down(4, 10)), ButtonDisposition::suppress);
    EXPECT_EQ(pipeline.handle(ButtonEvent::up(4, 20)), ButtonDisposition::suppress);
    queue->runUntilIdle();
    EXPECT_EQ(posted(), (Lines{"key(0 down mods=16)", "key(0 up mods=16)"}));
    const auto m = pipeline.snapshotMetrics();
    EXPECT_EQ(m.suppressed, 2);
    EXPECT_EQ(m.intentsProduced, 2);
    expectEveryEventCountedOnce();
}

TEST_F(ButtonPipelineTest, HeldKeysRepeatsAndDpiShiftsLastUntilTheirReleaseOrAReset) {
    pipeline.handle(ButtonEvent::down(5, 0));
    pipeline.handle(ButtonEvent::down(6, 0));
    pipeline.handle(ButtonEvent::down(7, 0));
    EXPECT_EQ(pipeline.heldButtons(), (std::set<std::int64_t>{5, 6, 7}));
    EXPECT_EQ(pipeline.currentDPI(), 400);
    queue->runUntilIdle();
    queue->advance(100ms);
    // The hold's key down, the repeat's first step at the press, two repetitions.
    EXPECT_EQ(posted(), (Lines{"key(56 down mods=0)", "key(125 down mods=0)", "key(125 up mods=0)",
                               "key(125 down mods=0)", "key(125 up mods=0)", "key(125 down mods=0)",
                               "key(125 up mods=0)"}));
    EXPECT_EQ(effects->log.lines(), (Lines{"requestDPI(400)"}));

    poster->log.clear();
    pipeline.reset();
    queue->runUntilIdle();
    queue->advance(1s);
    // The router's own releases, each once: the executor leaves them to the list.
    EXPECT_EQ(posted(), (Lines{"key(56 up mods=0)"}));
    EXPECT_EQ(effects->log.lines(), (Lines{"requestDPI(400)", "requestDPI(1600)"}));
    EXPECT_TRUE(pipeline.heldButtons().empty());
    EXPECT_EQ(pipeline.currentDPI(), 1600);
    const auto e = executor->snapshotMetrics();
    EXPECT_EQ(e.keysForceReleased, 0);
    EXPECT_EQ(e.repeatsStopped, 1);
    EXPECT_EQ(executor->activeRepeatCount(), 0u);

    // A reset with nothing held still starts a new epoch in the executor.
    pipeline.reset();
    EXPECT_EQ(executor->snapshotMetrics().resets, 2);
    EXPECT_EQ(pipeline.snapshotMetrics().resets, 2);
    // A release after the reset is no longer bound: it passes.
    EXPECT_EQ(pipeline.handle(ButtonEvent::up(7, 10)), ButtonDisposition::passThrough);
}

TEST_F(ButtonPipelineTest, NewBindingsApplyToTheNextPressWhileAHeldButtonKeepsItsAction) {
    pipeline.handle(ButtonEvent::down(5, 0));
    pipeline.setBindings({bind(5, Action::launchApp("com.example.Mail")), bind(4, Action::runShortcut("Focus"), ModifierFlags::shift)});
    pipeline.setBaseDPI(800);
    EXPECT_EQ(pipeline.baseDPI(), 800);
    EXPECT_EQ(pipeline.bindings().size(), 2u);
    EXPECT_EQ(pipeline.action(4, ModifierFlags::shift), Action::runShortcut("Focus"));
    EXPECT_EQ(pipeline.action(4, {}), Action::passThrough());

    // The held hold is released as a hold.
    pipeline.handle(ButtonEvent::up(5, 10));
    pipeline.handle(ButtonEvent::down(5, 20));
    pipeline.handle(ButtonEvent::down(4, 30, ModifierFlags::shift));
    queue->runUntilIdle();
    EXPECT_EQ(posted(), (Lines{"key(56 down mods=0)", "key(56 up mods=0)"}));
    EXPECT_EQ(effects->log.lines(), (Lines{"launchApp(com.example.Mail)", "runShortcut(Focus)"}));
    expectEveryEventCountedOnce();
}

// A DPI-shift press on the tap thread and a reset on another thread, started
// together many times over: whichever order the router saw them in, the
// executor must perform them in that order, so that the DPI requested last is
// the one the router holds (the shift if the press came second, else the base).
TEST(ButtonPipelineRaceTest, APressAndAResetReachTheExecutorInTheOrderTheRouterSawThem) {
    auto queue = std::make_shared<platform::ManualScheduler>();
    auto effects = std::make_shared<RecordingSideEffects>();
    auto executor = MacroExecutor::create(std::make_shared<LoggingPoster>(), effects, queue);
    ButtonPipeline pipeline{ButtonRouter({bind(7, Action::dpiShift(400))}, 1600), executor};

    // The threads spin to start each attempt together. On a machine crowded
    // with other work a spinning thread waits a whole time slice for its turn,
    // so the attempts stop after a wall-clock budget once enough have run:
    // fewer attempts make the test weaker there, never wrong.
    constexpr int attempts = 50000;
    constexpr int enoughAttempts = 2000;
    constexpr int stopSignal = -2;
    const auto budget = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::atomic<int> started{-1};
    std::atomic<int> finished{0};
    auto racer = [&](auto step) {
        return std::thread([&, step] {
            for (int attempt = 0;; ++attempt) {
                int signal = started.load(std::memory_order_acquire);
                while (signal != attempt && signal != stopSignal) {
                    std::this_thread::yield();
                    signal = started.load(std::memory_order_acquire);
                }
                if (signal == stopSignal) return;
                step();
                finished.fetch_add(1, std::memory_order_acq_rel);
            }
        });
    };
    std::thread presser = racer([&] { pipeline.handle(ButtonEvent::down(7, 0)); });
    std::thread resetter = racer([&] { pipeline.reset(); });

    int outOfOrder = 0;
    int attempt = 0;
    for (; attempt < attempts && (attempt < enoughAttempts || std::chrono::steady_clock::now() < budget); ++attempt) {
        started.store(attempt, std::memory_order_release);
        while (finished.load(std::memory_order_acquire) != 2 * (attempt + 1)) std::this_thread::yield();
        queue->runUntilIdle();
        const Lines requests = effects->log.lines();
        const std::string last = requests.empty() ? "requestDPI(1600)" : requests.back();
        if (last != fmt::format("requestDPI({})", pipeline.currentDPI())) ++outOfOrder;
        // Back to the base DPI, with nothing held, for the next attempt.
        pipeline.reset();
        queue->runUntilIdle();
        effects->log.clear();
    }
    started.store(stopSignal, std::memory_order_release);
    presser.join();
    resetter.join();
    EXPECT_EQ(outOfOrder, 0) << "of " << attempt << " attempts";
}

} // namespace
} // namespace ravolet

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "Core/ButtonIntent.hpp"
#include "Core/MacroStep.hpp"
#include "Core/RepeatToken.hpp"
#include "PipelineTestSupport.hpp"
#include "Platform/RunLoopThread.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "RavoletEngine/EventPath/MacroExecutor.hpp"

namespace ravolet {
namespace {

using namespace std::chrono_literals;
using testing::LoggingPoster;
using testing::RecordingSideEffects;
using Lines = std::vector<std::string>;
using I = ButtonIntent;

const ModifierFlags command = ModifierFlags::command;
const ModifierFlags shift = ModifierFlags::shift;

RepeatToken repeatOf(std::int64_t id, MacroStep step, double intervalMillis) {
    return RepeatToken{id, std::move(step), intervalMillis, 0};
}

struct MacroExecutorTest : ::testing::Test {
    std::shared_ptr<platform::ManualScheduler> queue = std::make_shared<platform::ManualScheduler>(1'000'000'000);
    std::shared_ptr<LoggingPoster> poster = std::make_shared<LoggingPoster>();
    std::shared_ptr<RecordingSideEffects> effects = std::make_shared<RecordingSideEffects>();
    std::shared_ptr<MacroExecutor> executor = MacroExecutor::create(poster, effects, queue);

    Lines posted() const { return poster->log.lines(); }
    Lines requested() const { return effects->log.lines(); }
};

TEST_F(MacroExecutorTest, PerformsEveryKindOfIntentInOrderOnItsQueueAndCountsEachOnce) {
    executor->execute({I::keyDown(0, command), I::keyUp(0, command), I::passThroughButton(4, true),
                       I::mouseButtonDown(3), I::mouseButtonUp(3), I::setDPI(800), I::launchApp("com.example.Notes"),
                       I::runShortcut("Lights off")});
    // Nothing happens on the caller's thread.
    EXPECT_TRUE(posted().empty());
    queue->runUntilIdle();

    EXPECT_EQ(posted(), (Lines{"key(0 down mods=16)", "key(0 up mods=16)", "mouseButton(4 down)", "mouseButton(3 down)",
                               "mouseButton(3 up)"}));
    EXPECT_EQ(requested(), (Lines{"requestDPI(800)", "launchApp(com.example.Notes)", "runShortcut(Lights off)"}));
    const auto m = executor->snapshotMetrics();
    EXPECT_EQ(m.intentsExecuted, 8);
    EXPECT_EQ(m.keysPosted, 2);
    EXPECT_EQ(m.mouseButtonsPosted, 3);
    EXPECT_EQ(m.dpiRequests, 1);
    EXPECT_EQ(m.intentsAbandoned, 0);
    // Button 4 went down and stays held; button 3 went down and up again.
    EXPECT_EQ(executor->heldMouseButtonCount(), 1u);
    EXPECT_EQ(executor->heldKeyCount(), 0u);

    executor->execute({});
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(MacroExecutorTest, DelaysContinueAtTheirDeadlineWithoutBlockingTheQueue) {
    executor->execute({I::keyDown(1, {}), I::delay(100), I::keyUp(1, {})});
    executor->execute({I::mouseButtonDown(2)});
    queue->runUntilIdle();
    // The second list runs while the first one waits.
    EXPECT_EQ(posted(), (Lines{"key(1 down mods=0)", "mouseButton(2 down)"}));
    queue->advance(99ms);
    EXPECT_EQ(posted().size(), 2u);
    queue->advance(1ms);
    EXPECT_EQ(posted().back(), "key(1 up mods=0)");

    // A trailing delay schedules nothing; a negative one continues at once.
    poster->log.clear();
    executor->execute({I::keyDown(2, {}), I::delay(50)});
    queue->runUntilIdle();
    EXPECT_EQ(queue->pendingCount(), 0u);
    executor->execute({I::delay(-5), I::keyUp(2, {}), I::delay(std::nan("")), I::keyDown(3, {})});
    queue->runUntilIdle();
    EXPECT_EQ(posted(), (Lines{"key(2 down mods=0)", "key(2 up mods=0)", "key(3 down mods=0)"}));
}

TEST_F(MacroExecutorTest, ResetReleasesHeldKeysAndButtonsOnceAndAbandonsTheRestOfTheOldEpoch) {
    executor->execute({I::keyDown(0, command), I::mouseButtonDown(5), I::keyDown(7, shift), I::delay(100),
                       I::keyUp(0, command), I::keyUp(7, shift), I::mouseButtonUp(5)});
    queue->runUntilIdle();
    queue->advance(50ms);
    executor->reset();
    queue->runUntilIdle();
    // Keys from the last pressed to the first, then the buttons.
    EXPECT_EQ(posted(), (Lines{"key(0 down mods=16)", "mouseButton(5 down)", "key(7 down mods=2)", "key(7 up mods=2)",
                               "key(0 up mods=16)", "mouseButton(5 up)"}));
    queue->advance(50ms);
    EXPECT_EQ(posted().size(), 6u) << "the continuation after the delay must not release again";

    const auto m = executor->snapshotMetrics();
    EXPECT_EQ(m.resets, 1);
    EXPECT_EQ(m.keysForceReleased, 2);
    EXPECT_EQ(m.mouseButtonsForceReleased, 1);
    EXPECT_EQ(m.intentsAbandoned, 3);
    EXPECT_EQ(m.intentsExecuted, 3);
    EXPECT_EQ(executor->heldKeyCount(), 0u);
    EXPECT_EQ(executor->heldMouseButtonCount(), 0u);

    // A list queued before the reset runs nothing when it comes up.
    executor->execute({I::keyDown(9, {}), I::setDPI(400)});
    executor->reset();
    queue->runUntilIdle();
    EXPECT_EQ(posted().size(), 6u);
    EXPECT_TRUE(requested().empty());
    EXPECT_EQ(executor->snapshotMetrics().intentsAbandoned, 5);
}

TEST_F(MacroExecutorTest, ResetLeavesToTheNewListWhatItReleasesItself) {
    executor->execute({I::keyDown(12, command), I::keyDown(13, {}), I::passThroughButton(9, true),
                       I::mouseButtonDown(6)});
    queue->runUntilIdle();
    poster->log.clear();

    executor->reset({I::keyUp(12, {}), I::passThroughButton(9, false), I::setDPI(1600)});
    // The list's own releases are still recorded as held until they run.
    EXPECT_EQ(executor->heldKeyCount(), 1u);
    EXPECT_EQ(executor->heldMouseButtonCount(), 1u);
    queue->runUntilIdle();
    // The release block comes first, then the list under the new epoch.
    EXPECT_EQ(posted(), (Lines{"key(13 up mods=0)", "mouseButton(6 up)", "key(12 up mods=0)", "mouseButton(9 up)"}));
    EXPECT_EQ(requested(), (Lines{"requestDPI(1600)"}));
    const auto m = executor->snapshotMetrics();
    EXPECT_EQ(m.keysForceReleased, 1);
    EXPECT_EQ(m.mouseButtonsForceReleased, 1);
    EXPECT_EQ(executor->heldKeyCount(), 0u);
    EXPECT_EQ(executor->heldMouseButtonCount(), 0u);
}

TEST_F(MacroExecutorTest, OneHeldEntryPerKeyCodeWithTheLatestModifiers) {
    executor->execute({I::keyDown(4, shift), I::keyDown(4, command)});
    queue->runUntilIdle();
    EXPECT_EQ(executor->heldKeyCount(), 1u);
    executor->reset();
    queue->runUntilIdle();
    EXPECT_EQ(posted().back(), "key(4 up mods=16)");

    executor->execute({I::keyDown(4, shift), I::keyUp(4, command)});
    queue->runUntilIdle();
    EXPECT_EQ(executor->heldKeyCount(), 0u);
}

TEST_F(MacroExecutorTest, RepeatFiresEveryIntervalFromOneIntervalAfterTheStartUntilStopped) {
    executor->execute({I::startRepeat(repeatOf(4, MacroStep::key(11, {}), 0))});
    queue->runUntilIdle();
    EXPECT_TRUE(posted().empty()) << "the first repetition comes one interval after the start";
    EXPECT_EQ(executor->activeRepeatCount(), 1u);

    // An interval below 1 ms repeats every millisecond.
    queue->advance(1ms);
    EXPECT_EQ(posted(), (Lines{"key(11 down mods=0)", "key(11 up mods=0)"}));
    queue->advance(3ms);
    EXPECT_EQ(posted().size(), 8u);

    executor->execute({I::stopRepeat(4), I::stopRepeat(4)});
    queue->runUntilIdle();
    queue->advance(10ms);
    EXPECT_EQ(posted().size(), 8u);
    const auto m = executor->snapshotMetrics();
    EXPECT_EQ(m.repeatsStarted, 1);
    EXPECT_EQ(m.repeatsStopped, 1);
    EXPECT_EQ(m.repeatIterations, 4);
    EXPECT_EQ(executor->activeRepeatCount(), 0u);
}

TEST_F(MacroExecutorTest, ASecondStartWithTheSameIdReplacesTheFirstTimer) {
    executor->execute({I::startRepeat(repeatOf(5, MacroStep::mouseButton(2), 10))});
    queue->runUntilIdle();
    queue->advance(5ms);
    executor->execute({I::startRepeat(repeatOf(5, MacroStep::keyDown(20, {}), 10))});
    queue->runUntilIdle();
    queue->advance(10ms);
    // Only the new timer fires, ten milliseconds after its own start.
    EXPECT_EQ(posted(), (Lines{"key(20 down mods=0)"}));
    const auto m = executor->snapshotMetrics();
    EXPECT_EQ(m.repeatsStarted, 2);
    EXPECT_EQ(m.repeatsStopped, 0);
    EXPECT_EQ(executor->activeRepeatCount(), 1u);

    executor->stopAllRepeats();
    EXPECT_EQ(executor->snapshotMetrics().repeatsStopped, 1);
    EXPECT_EQ(executor->activeRepeatCount(), 0u);
}

TEST_F(MacroExecutorTest, ResetStopsRepeatsAndAFireAlreadyDueUnderTheOldEpochDoesNothing) {
    executor->execute({I::startRepeat(repeatOf(6, MacroStep::key(30, {}), 2))});
    queue->runUntilIdle();
    queue->advance(2ms);
    EXPECT_EQ(posted().size(), 2u);

    // Let the clock reach the next fire but run nothing yet, then reset.
    queue->advanceTo(queue->nowNanos());
    executor->reset();
    queue->advance(20ms);
    EXPECT_EQ(posted().size(), 2u);
    const auto m = executor->snapshotMetrics();
    EXPECT_EQ(m.repeatIterations, 1);
    EXPECT_EQ(m.repeatsStopped, 1);
    EXPECT_EQ(queue->pendingCount(), 0u);
}

// A scheduler that lets a test step in when the executor reads the clock:
// this is how a reset lands between a repeat's admission and its timer.
class InterceptingScheduler final : public platform::Scheduler {
public:
    explicit InterceptingScheduler(std::shared_ptr<platform::ManualScheduler> inner) : inner_(std::move(inner)) {}
    void post(platform::Task task) override { inner_->post(std::move(task)); }
    bool isCurrent() const override { return inner_->isCurrent(); }
    std::uint64_t nowNanos() const override {
        if (auto hook = std::exchange(onNextClockRead, nullptr)) hook();
        return inner_->nowNanos();
    }
    platform::TaskHandle postAt(std::uint64_t deadline, platform::Task task) override {
        return inner_->postAt(deadline, std::move(task));
    }
    mutable std::function<void()> onNextClockRead;

private:
    std::shared_ptr<platform::ManualScheduler> inner_;
};

TEST_F(MacroExecutorTest, ARepeatStartOvertakenByAResetLeavesNoTimerBehind) {
    auto intercepting = std::make_shared<InterceptingScheduler>(queue);
    auto raced = MacroExecutor::create(poster, effects, intercepting);
    raced->execute({I::startRepeat(repeatOf(7, MacroStep::key(40, {}), 1))});
    intercepting->onNextClockRead = [&] { raced->reset(); };
    queue->runUntilIdle();

    EXPECT_EQ(raced->activeRepeatCount(), 0u);
    EXPECT_EQ(raced->snapshotMetrics().repeatsStarted, 0);
    queue->advance(50ms);
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(queue->pendingCount(), 0u) << "no timer may keep firing for a passed epoch";
}

TEST_F(MacroExecutorTest, QueuedWorkOfAReleasedExecutorDoesNothingButHeldKeysAreStillReleased) {
    executor->execute({I::keyDown(50, {})});
    queue->runUntilIdle();
    executor->execute({I::keyDown(51, {}), I::delay(10), I::keyUp(51, {})});
    executor->reset();
    executor->execute({I::keyDown(52, {})});
    executor.reset();
    queue->runUntilIdle();
    queue->advance(20ms);
    EXPECT_EQ(posted(), (Lines{"key(50 down mods=0)", "key(50 up mods=0)"}));
}

// A queue whose thread has ended drops what it is given: drain() returns
// instead of waiting for ever for a marker that will never run.
TEST(MacroExecutorOnItsQueue, DrainReturnsWhenTheQueuesThreadHasEnded) {
    platform::RunLoopThread thread(platform::Thread::Options{"ai.ravolet.test"});
    ASSERT_TRUE(thread.start());
    const std::shared_ptr<platform::RunLoop> loop = thread.runLoop();
    thread.stop();
    auto executor = MacroExecutor::create(std::make_shared<LoggingPoster>(), std::make_shared<RecordingSideEffects>(), loop);
    executor->execute({I::keyDown(1, {})});
    executor->drain();
    EXPECT_EQ(executor->snapshotMetrics().intentsExecuted, 0);
}

TEST(MacroExecutorOnItsQueue, DrainWaitsNoLongerThanItsLimit) {
    auto executor = MacroExecutor::create(std::make_shared<LoggingPoster>(), std::make_shared<RecordingSideEffects>());
    std::promise<void> release;
    executor->queue().post([busy = release.get_future()] { busy.wait(); });
    EXPECT_FALSE(executor->drain(30ms)) << "the queue is still busy";
    release.set_value();
    EXPECT_TRUE(executor->drain(std::chrono::seconds(20)));
}

TEST(MacroExecutorOnItsQueue, KeysAndButtonsGoOutFromTheCallerOnlyWhenTheQueueIsIdle) {
    auto poster = std::make_shared<LoggingPoster>();
    auto effects = std::make_shared<RecordingSideEffects>();
    auto executor = MacroExecutor::create(poster, effects);
    // drain() returns once its marker has run, which may be before the
    // queue's thread has left that turn: wait for the queue to be idle.
    executor->drain();
    while (!executor->queue().runHereIfIdle([] {})) std::this_thread::yield();

    // Idle: a key stroke or a button is out when execute returns.
    executor->execute({I::keyDown(4, shift)});
    executor->execute({I::mouseButtonDown(3), I::passThroughButton(4, false)});
    EXPECT_EQ(poster->log.lines(), (Lines{"key(4 down mods=2)", "mouseButton(3 down)", "mouseButton(4 up)"}));

    // Busy, or a list with more than posts: queued, in order behind what is there.
    std::promise<void> release;
    executor->queue().post([busy = release.get_future()] { busy.wait(); });
    executor->execute({I::keyUp(4, shift)});
    EXPECT_EQ(poster->log.lines().size(), 3u);
    release.set_value();
    executor->drain();
    executor->execute({I::keyDown(5, {}), I::launchApp("com.example.Notes")});
    executor->execute({I::keyUp(5, {}), I::delay(10), I::keyDown(6, {})});
    executor->drain();
    EXPECT_EQ(effects->log.lines(), (Lines{"launchApp(com.example.Notes)"}));
    ASSERT_TRUE(poster->log.waitForCount(7));
    EXPECT_EQ(poster->log.lines(), (Lines{"key(4 down mods=2)", "mouseButton(3 down)", "mouseButton(4 up)",
                                          "key(4 up mods=2)", "key(5 down mods=0)", "key(5 up mods=0)",
                                          "key(6 down mods=0)"}));
    EXPECT_EQ(executor->heldKeyCount(), 1u);
    EXPECT_EQ(executor->heldMouseButtonCount(), 1u);
}

TEST(MacroExecutorOnItsQueue, IntentsFromSeveralThreadsRunInOrderPerListAndDrainWaitsForThem) {
    auto poster = std::make_shared<LoggingPoster>();
    auto effects = std::make_shared<RecordingSideEffects>();
    auto executor = MacroExecutor::create(poster, effects);
    EXPECT_FALSE(executor->queue().isCurrent());

    constexpr int perThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const auto code = static_cast<std::uint16_t>(t * 1000 + i);
                executor->execute({I::keyDown(code, {}), I::keyUp(code, {})});
            }
        });
    }
    for (auto& thread : threads) thread.join();
    executor->drain();
    const auto lines = poster->log.lines();
    ASSERT_EQ(lines.size(), 4u * perThread * 2);
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        // Each list's down is followed directly by its own up.
        EXPECT_EQ(lines[i].substr(0, lines[i].find(' ')), lines[i + 1].substr(0, lines[i + 1].find(' ')));
    }

    // A repeat on the real queue runs until a reset from another thread stops it.
    executor->execute({I::startRepeat(repeatOf(3, MacroStep::key(60, {}), 1))});
    ASSERT_TRUE(poster->log.waitForCount(lines.size() + 6));
    std::thread resetter([&] { executor->reset(); });
    resetter.join();
    executor->drain();
    EXPECT_EQ(executor->activeRepeatCount(), 0u);
    const auto iterations = executor->snapshotMetrics().repeatIterations;
    EXPECT_GE(iterations, 3);
    executor->drain();
    EXPECT_EQ(executor->snapshotMetrics().repeatIterations, iterations);
}

} // namespace
} // namespace ravolet

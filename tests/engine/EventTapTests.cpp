#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"
#include "Platform/Thread.hpp"
#include "RavoletEngine/EventPath/DeviceScope.hpp"
#include "RavoletEngine/EventPath/EventTapController.hpp"

using namespace ravolet;
using namespace ravolet::platform;
using namespace std::chrono_literals;

namespace {

// Threads of this process whose kernel name is the tap thread's (cut to 15 bytes).
int tapThreadCount() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "ai.ravolet.even") ++count;
    }
    return count;
}

// A joined thread can still be listed for a moment: the kernel wakes the
// joiner before it takes the thread's entry away. Wait briefly for the count
// to settle at the expected value; a thread that really stays keeps it off.
int settledTapThreadCount(int expected) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    int count = tapThreadCount();
    while (count != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
        count = tapThreadCount();
    }
    return count;
}

struct EventTapTest : ::testing::Test {
    std::shared_ptr<SimulatedEventSystem> system = std::make_shared<SimulatedEventSystem>();
    EventTapController::Configuration config{EventTapController::defaultEventMask, EventTapOptions::defaultTap,
                                             EventTapLocation::session, EventTapPlacement::headInsert, 2.0};

    std::mutex lock;
    std::condition_variable changed;
    std::vector<EventType> handled;
    std::vector<bool> onTapThread;
    std::vector<TapDisableReason> disables;
    std::atomic<bool> swallow{false};

    std::shared_ptr<EventTapController> makeController() {
        return EventTapController::create(
            system, config,
            [this](TapDisableReason reason) {
                std::lock_guard guard(lock);
                disables.push_back(reason);
                changed.notify_all();
            },
            [this](EventType type, Event& event) {
                event.setIntegerValueField(200, 1);
                std::lock_guard guard(lock);
                handled.push_back(type);
                onTapThread.push_back(EventTapController::isOnTapThread());
                return swallow.load() ? TapVerdict::suppress : TapVerdict::pass;
            });
    }
    std::vector<EventType> handledTypes() {
        std::lock_guard guard(lock);
        return handled;
    }
    void inject(Event event) { system->inject(SimulatedDevice::targetMouse(), std::move(event)); }
};

} // namespace

TEST(EventTapValuesTest, MasksTextsAndDerivedMetrics) {
    EXPECT_EQ(EventTapController::scrollAndButtonEventMask, 0x640001Eu);
    EXPECT_EQ(EventTapController::pointerMotionEventMask, 0x80000E0u);
    EXPECT_EQ(EventTapController::defaultEventMask, 0xE4000FEu);
    EXPECT_EQ(EventTapController::mask({}), 0u);
    EXPECT_EQ(EventTapController::mask({64, 200, 0xFFFFFFFF}), 0u);
    EXPECT_EQ(EventTapController::mask({63, 1, 1}), 0x8000000000000002u);

    EXPECT_EQ(EventTapController::description(EventTapController::StartError::tapCreationFailed),
              "the event tap could not be created \u2014 Virtual Input (and Mouse Access) must be granted");
    EXPECT_EQ(EventTapController::description(EventTapController::StartError::alreadyRunning),
              "the tap is already running");
    EXPECT_EQ(tapDisableReasonFromString("timeout"), TapDisableReason::timeout);
    EXPECT_EQ(tapDisableReasonFromString("userInput"), TapDisableReason::userInput);
    EXPECT_EQ(tapDisableReasonFromString("Timeout"), std::nullopt);

    TapMetrics fresh;
    EXPECT_EQ(fresh.meanCallbackMicros(), 0.0);
    EXPECT_EQ(fresh.watchdogHeadroomFactor(), std::numeric_limits<double>::infinity());
    TapMetrics m;
    m.events = 4;
    m.totalCallbackNanos = 10'000;
    m.maxCallbackNanos = 4'000'000;
    EXPECT_EQ(m.meanCallbackMicros(), 2.5);
    EXPECT_EQ(m.maxCallbackMillis(), 4.0);
    EXPECT_EQ(m.watchdogHeadroomFactor(), 250.0);
    EXPECT_NE(std::hash<TapMetrics>{}(m), std::hash<TapMetrics>{}(fresh));
}

TEST_F(EventTapTest, TappedEventsReachTheHandlerOnTheTapThreadAndItsVerdictDecides) {
    auto tap = makeController();
    ASSERT_TRUE(tap->start());
    EXPECT_TRUE(tap->isRunning());
    EXPECT_TRUE(tap->isTapEnabled());
    EXPECT_FALSE(EventTapController::isOnTapThread());

    inject(SimulatedEventSystem::motionEvent(2, 3));
    inject(SimulatedEventSystem::buttonEvent(EventTypes::keyDown, 0)); // not in the mask
    ASSERT_TRUE(system->waitUntilIdle());
    swallow = true;
    inject(SimulatedEventSystem::wheelEvent(1));
    ASSERT_TRUE(system->waitUntilIdle());

    EXPECT_EQ(handledTypes(), (std::vector<EventType>{EventTypes::mouseMoved, EventTypes::scrollWheel}));
    EXPECT_EQ(onTapThread, (std::vector<bool>{true, true}));
    const auto delivered = system->delivered();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].integerValueField(200), 1); // the handler's change went on with the event
    EXPECT_EQ(delivered[1].type(), EventTypes::keyDown);
    EXPECT_EQ(system->swallowed().size(), 1u);
    EXPECT_EQ(tap->snapshotMetrics().events, 2);
    tap->stop();
}

TEST_F(EventTapTest, StartFailsWithoutPermissionAndWhileRunning) {
    system->setTapsAllowed(false);
    auto tap = makeController();
    const auto refused = tap->start();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), EventTapController::StartError::tapCreationFailed);
    EXPECT_FALSE(tap->isRunning());
    EXPECT_FALSE(tap->isTapEnabled());

    system->setTapsAllowed(true);
    ASSERT_TRUE(tap->start());
    const auto again = tap->start();
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error(), EventTapController::StartError::alreadyRunning);
    inject(SimulatedEventSystem::wheelEvent(1)); // the first tap keeps working
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_EQ(handledTypes().size(), 1u);
    EXPECT_EQ(settledTapThreadCount(1), 1);
    tap->stop();
}

TEST_F(EventTapTest, AStartTheTapThreadDoesNotAnswerInTimeFailsAndLeavesNothingInstalled) {
    std::promise<void> entered, release;
    system->setTapCreationHook([&, go = release.get_future().share()] {
        entered.set_value();
        go.wait();
    });
    auto tap = makeController();
    const auto late = tap->start(20ms);
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error(), EventTapController::StartError::tapCreationFailed);
    EXPECT_FALSE(tap->isRunning());

    // The thread makes its tap after all, and gives it up.
    entered.get_future().wait();
    system->setTapCreationHook(nullptr);
    release.set_value();
    EXPECT_EQ(settledTapThreadCount(0), 0);
    EXPECT_FALSE(tap->isTapEnabled());
    EXPECT_EQ(system->tapCount(), 0u);
    ASSERT_TRUE(tap->start());
    tap->stop();
}

TEST_F(EventTapTest, ATapTheSystemSwitchedOffIsSwitchedBackOnCountedAndReported) {
    auto tap = makeController();
    ASSERT_TRUE(tap->start());
    const auto taps = system->taps();
    ASSERT_EQ(taps.size(), 1u);

    system->disableTap(*taps[0], EventTypes::tapDisabledByTimeout);
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_TRUE(tap->isTapEnabled());
    system->disableTap(*taps[0], EventTypes::tapDisabledByUserInput);
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_TRUE(tap->isTapEnabled());
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(disables, (std::vector<TapDisableReason>{TapDisableReason::timeout, TapDisableReason::userInput}));
    }
    auto metrics = tap->snapshotMetrics();
    EXPECT_EQ(metrics.disabledByTimeout, 1);
    EXPECT_EQ(metrics.disabledByUserInput, 1);
    EXPECT_EQ(metrics.reEnables, 2);
    EXPECT_EQ(metrics.events, 0); // the notices never reach the handler
    EXPECT_TRUE(handledTypes().empty());

    inject(SimulatedEventSystem::wheelEvent(1)); // and the tap works again
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_EQ(handledTypes().size(), 1u);
    // The tap thread says how urgently it runs: the nice value its class
    // asks for, whoever gave it.
    const platform::ThreadNice nice = tap->snapshotMetrics().threadNice;
    EXPECT_EQ(nice.wanted, -4);
    tap->resetMetrics();
    TapMetrics cleared;
    cleared.threadNice = nice; // not a counter: it stays
    EXPECT_EQ(tap->snapshotMetrics(), cleared);
    tap->stop();
}

// The tap thread is busy for more than twice the response limit: the system
// switches the tap off, and the notice of it waits on the tap's run loop until
// the thread is free, so the tap comes back on and later events reach the
// handler instead of bypassing the program for good.
TEST_F(EventTapTest, ATapBusyFarPastTheResponseLimitStillHearsItWasSwitchedOff) {
    system->setTapResponseLimit(30ms);
    auto tap = makeController();
    ASSERT_TRUE(tap->start());
    tap->perform([] { std::this_thread::sleep_for(150ms); });
    inject(SimulatedEventSystem::wheelEvent(1));
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_TRUE(tap->isTapEnabled());
    EXPECT_EQ(tap->snapshotMetrics().disabledByTimeout, 1);

    inject(SimulatedEventSystem::wheelEvent(1));
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_EQ(handledTypes(), std::vector<EventType>{EventTypes::scrollWheel});
    tap->stop();
}

TEST_F(EventTapTest, PerformRunsBlocksOnTheTapThreadOnlyWhileRunning) {
    auto tap = makeController();
    tap->perform([] { ADD_FAILURE() << "ran before start"; });
    ASSERT_TRUE(tap->start());

    std::mutex m;
    std::condition_variable cv;
    std::optional<bool> ranOnTapThread;
    tap->perform([&] {
        std::lock_guard guard(m);
        ranOnTapThread = EventTapController::isOnTapThread();
        cv.notify_all();
    });
    {
        std::unique_lock guard(m);
        ASSERT_TRUE(cv.wait_for(guard, 10s, [&] { return ranOnTapThread.has_value(); }));
        EXPECT_TRUE(*ranOnTapThread);
    }

    tap->stop();
    EXPECT_FALSE(tap->isRunning());
    EXPECT_FALSE(tap->isTapEnabled());
    tap->perform([] { ADD_FAILURE() << "ran after stop"; });
    tap->stop(); // harmless twice
}

TEST_F(EventTapTest, RestartingManyTimesLeavesExactlyOneTapThread) {
    auto tap = makeController();
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(tap->start());
        tap->stop();
    }
    EXPECT_EQ(settledTapThreadCount(0), 0);
    ASSERT_TRUE(tap->start());
    EXPECT_EQ(settledTapThreadCount(1), 1);
    EXPECT_EQ(system->tapCount(), 1u); // every earlier tap was released
    inject(SimulatedEventSystem::wheelEvent(1));
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_EQ(handledTypes().size(), 1u); // seen once, by the one live tap
    tap->stop();
    EXPECT_EQ(settledTapThreadCount(0), 0);
}

TEST_F(EventTapTest, WithABudgetOfZeroEveryHandledEventOverruns) {
    config.budgetMillis = 0;
    auto tap = makeController();
    ASSERT_TRUE(tap->start());
    for (int i = 0; i < 3; ++i) inject(SimulatedEventSystem::motionEvent(1, 1));
    ASSERT_TRUE(system->waitUntilIdle());
    const auto m = tap->snapshotMetrics();
    EXPECT_EQ(m.events, 3);
    EXPECT_EQ(m.budgetOverruns, 3);
    EXPECT_GT(m.maxCallbackNanos, 0);
    EXPECT_EQ(m.worstOverrunNanos, m.maxCallbackNanos);
    EXPECT_GE(m.totalCallbackNanos, m.maxCallbackNanos);
    tap->stop();
}

// These types are reached through weak references (from the tap thread, the
// refresh queue, the HID bus), which work only for an object owned by a
// shared_ptr from the start: built any other way they silently never work (a
// controller stayed "running" after a start that could not begin). Only their
// factories build them.
TEST(FactoryOnlyTypesTest, NothingButTheFactoryBuildsThem) {
    EXPECT_FALSE((std::is_constructible_v<EventTapController, std::shared_ptr<EventSystem>,
                                          EventTapController::Configuration, EventTapController::DisabledHandler,
                                          EventTapController::Handler>));
    EXPECT_FALSE((std::is_constructible_v<DeviceScope, std::vector<HIDPPDeviceMatch>, std::shared_ptr<PrivateSPI>,
                                          std::shared_ptr<Executor>, std::function<std::uint64_t()>>));
    EXPECT_FALSE(std::is_default_constructible_v<SimulatedMouse>);
}

TEST(EventTapThreadTest, OnlyTheExactNameIsTheTapThread) {
    std::vector<bool> answers;
    std::thread([&] { answers.push_back(EventTapController::isOnTapThread()); }).join();
    std::thread([&] {
        setCurrentThreadName("ai.ravolet.event-tap2");
        answers.push_back(EventTapController::isOnTapThread());
        setCurrentThreadName("ai.ravolet.event-tap");
        answers.push_back(EventTapController::isOnTapThread());
    }).join();
    EXPECT_EQ(answers, (std::vector<bool>{false, false, true}));
}

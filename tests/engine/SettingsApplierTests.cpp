#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fmt/format.h>

#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/AsyncSequence.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"
#include "RavoletEngine/Coordination/LiveHIDPPControl.hpp"
#include "RavoletEngine/Coordination/SettingsApplier.hpp"

namespace ravolet {
namespace {

using State = SettingsApplyState;
using Calls = std::vector<std::string>;
using OptionalDPI = std::optional<std::int64_t>;

// A mouse whose every operation waits for the test's answer, which arrives on
// the executor the caller named. Writes answer with what they were given;
// reads with `reading`.
class HeldControl final : public HIDPPControlling {
public:
    void setDPI(std::int64_t dpi, HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) override {
        hold(fmt::format("setDPI({})", dpi), std::move(executor), std::move(completion), [dpi] { return dpi; });
    }
    void setReportRate(std::int64_t hertz, HIDPPExecutor executor, HIDPPCompletion<void> completion) override {
        hold(fmt::format("setReportRate({})", hertz), std::move(executor), std::move(completion), [] {});
    }
    void setWheelHighResolution(bool on, HIDPPExecutor executor, HIDPPCompletion<bool> completion) override {
        hold(fmt::format("setWheelHighResolution({})", on), std::move(executor), std::move(completion), [on] { return on; });
    }
    void readDPI(HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) override {
        hold("readDPI()", std::move(executor), std::move(completion), [this] { return reading; });
    }

    // Answers the oldest call still waiting: with success, or with `error`.
    void answer(std::optional<HIDPPError> error = std::nullopt) {
        ASSERT_FALSE(held.empty()) << "no call is waiting";
        auto call = std::move(held.front());
        held.pop_front();
        call(std::move(error));
    }

    Calls calls;
    std::deque<std::move_only_function<void(std::optional<HIDPPError>)>> held;
    std::int64_t reading = 1600;

private:
    template <class T, class Value>
    void hold(std::string call, HIDPPExecutor executor, HIDPPCompletion<T> completion, Value value) {
        calls.push_back(std::move(call));
        held.push_back([executor, completion = std::move(completion), value](std::optional<HIDPPError> error) mutable {
            (void)value; // a void call has no value to give
            HIDPPResult<T> result = [&]() -> HIDPPResult<T> {
                if (error) return std::unexpected(*error);
                if constexpr (std::is_void_v<T>) {
                    value();
                    return {};
                } else {
                    return value();
                }
            }();
            platform::deliverOn(executor, [completion = std::move(completion), result = std::move(result)]() mutable {
                completion(std::move(result));
            });
        });
    }
};

struct ApplierRig {
    explicit ApplierRig(DesiredDeviceSettings desired = {}) : applier(SettingsApplier::create(control, desired, queue)) {}

    void settle() { queue->runUntilIdle(); }
    // Answers every call, including those the answers lead to.
    void answerAll() {
        for (settle(); !control->held.empty(); settle()) control->answer();
    }
    SettingsApplier::Snapshot snapshot() {
        std::optional<SettingsApplier::Snapshot> result;
        applier->snapshot(nullptr, [&](SettingsApplier::Snapshot s) { result = std::move(s); });
        settle();
        return result.value();
    }

    std::shared_ptr<platform::ManualScheduler> queue = std::make_shared<platform::ManualScheduler>();
    std::shared_ptr<HeldControl> control = std::make_shared<HeldControl>();
    std::shared_ptr<SettingsApplier> applier;
};

HIDPPEvent ready() { return HIDPPEvent::deviceReady(HIDPPDeviceIdentity{}); }

TEST(SettingsApplier, WritesTheDesiredSettingsInOrderAndReadsTheDPIBack) {
    struct Case {
        DesiredDeviceSettings desired;
        Calls calls;
    };
    const std::vector<Case> cases = {
        {{1600, std::nullopt, std::nullopt}, {"setDPI(1600)", "readDPI()"}},
        {{1600, 500, true}, {"setDPI(1600)", "setReportRate(500)", "setWheelHighResolution(true)", "readDPI()"}},
        {{std::nullopt, std::nullopt, false}, {"setWheelHighResolution(false)", "readDPI()"}},
        {{}, {"readDPI()"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.desired));
        ApplierRig rig(c.desired);
        int readies = 0;
        rig.applier->onDeviceReady([&] { ++readies; });
        rig.applier->handle(ready());
        rig.settle();
        EXPECT_EQ(readies, 1) << "told before the writes finish";
        EXPECT_EQ(rig.control->calls.size(), 1u) << "one step at a time";
        EXPECT_EQ(rig.snapshot().state, State::applying());
        rig.answerAll();
        EXPECT_EQ(rig.control->calls, c.calls);
        const SettingsApplier::Snapshot done = rig.snapshot();
        EXPECT_EQ(done.state, State::applied(c.desired.dpi)) << "the last DPI written, absent when none was";
        EXPECT_EQ(done.lastAppliedDPI, c.desired.dpi);
        EXPECT_EQ(done.deviceReportedDPI, 1600);
    }
}

TEST(SettingsApplier, AFailedWriteStopsTheApplyAndDecidesTheState) {
    const Calls full = {"setDPI(1600)", "setReportRate(500)", "setWheelHighResolution(true)", "readDPI()"};
    const HIDPPError unsupported = HIDPPError::featureUnsupported(HIDPPFeature::hiResWheel);
    const std::vector<std::tuple<std::size_t, HIDPPError, State>> cases = { // failing call, error, state
        {0, HIDPPError::notConnected(), State::idle()},
        {0, HIDPPError::deviceNotFound(), State::idle()},
        {0, HIDPPError::notOpen(), State::idle()},
        {0, HIDPPError::deviceRemoved(), State::idle()},
        {0, HIDPPError::notPermitted(), State::notPermitted()},
        {0, HIDPPError::timeout("setDPI"), State::failed("setDPI timed out")},
        {1, HIDPPError::invalidArgument("x"), State::failed("invalid argument: x")},
        {2, unsupported, State::failed(unsupported.description())},
        {3, HIDPPError::timeout("readDPI"), State::applied(1600)}, // a failed read-back is ignored
    };
    for (const auto& [failing, error, state] : cases) {
        SCOPED_TRACE(error.description());
        ApplierRig rig({1600, 500, true});
        rig.applier->applyNow();
        for (std::size_t i = 0; i <= failing; ++i) {
            rig.settle();
            rig.control->answer(i == failing ? std::optional(error) : std::nullopt);
        }
        rig.settle();
        EXPECT_TRUE(rig.control->held.empty());
        EXPECT_EQ(rig.control->calls, Calls(full.begin(), full.begin() + static_cast<long>(failing) + 1));
        const SettingsApplier::Snapshot done = rig.snapshot();
        EXPECT_EQ(done.state, state);
        EXPECT_EQ(done.lastAppliedDPI, failing == 3 ? OptionalDPI(1600) : std::nullopt);
    }
}

TEST(SettingsApplier, AnOverrideWritesOnlyTheDPIAndClearingItGoesBackToTheDesiredDPI) {
    ApplierRig rig({1600, 500, true});
    rig.applier->setDPIOverride(400);
    rig.settle();
    EXPECT_EQ(rig.snapshot().state, State::idle()) << "an override does not pass through applying";
    EXPECT_EQ(rig.snapshot().effectiveDPI(), 400);
    rig.answerAll();
    rig.applier->setDPIOverride(std::nullopt);
    rig.answerAll();
    EXPECT_EQ(rig.control->calls, (Calls{"setDPI(400)", "readDPI()", "setDPI(1600)", "readDPI()"}));

    // While an override is set, an apply writes it in place of the desired DPI.
    rig.applier->setDPIOverride(800);
    rig.applier->update({1200, std::nullopt, std::nullopt});
    rig.answerAll();
    EXPECT_EQ(rig.control->calls.back(), "readDPI()");
    EXPECT_EQ(rig.control->calls.at(rig.control->calls.size() - 2), "setDPI(800)");

    ApplierRig bare; // clearing without a desired DPI does nothing at all
    bare.applier->setDPIOverride(std::nullopt);
    bare.settle();
    EXPECT_TRUE(bare.control->calls.empty());
}

TEST(SettingsApplier, DeviceEventsMoveTheStateAndOnlyNewReadingsReachTheObserver) {
    ApplierRig rig({1600, std::nullopt, std::nullopt});
    std::vector<OptionalDPI> heard;
    rig.applier->onDeviceDPIChange([&](OptionalDPI dpi) { heard.push_back(dpi); });
    for (std::int64_t reading : {1600, 1600, 0, -5}) {
        rig.control->reading = reading;
        rig.applier->applyNow();
        rig.answerAll();
    }
    EXPECT_EQ(heard, (std::vector<OptionalDPI>{std::nullopt, 1600})) << "at once when registered, then each change";
    const SettingsApplier::Snapshot applied = rig.snapshot();
    for (const HIDPPEvent& event : {HIDPPEvent::deviceAttached(HIDPPDeviceIdentity{}), HIDPPEvent::notification(5, 0, {1}),
                                    HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected())}) {
        rig.applier->handle(event);
        EXPECT_EQ(rig.snapshot(), applied) << event;
    }
    rig.applier->handle(HIDPPEvent::stateChanged(HIDPPConnectionState::notPermitted()));
    EXPECT_EQ(rig.snapshot().state, State::notPermitted());

    rig.applier->setDPIOverride(400);
    rig.applier->handle(HIDPPEvent::deviceRemoved());
    const SettingsApplier::Snapshot removed = rig.snapshot();
    EXPECT_EQ(removed.state, State::idle());
    EXPECT_EQ(removed.lastAppliedDPI, std::nullopt);
    EXPECT_EQ(removed.deviceReportedDPI, 1600) << "kept across removal";
    EXPECT_EQ(removed.effectiveDPI(), 400);
    EXPECT_EQ(rig.control->held.size(), 1u) << "the running write is left to finish";

    // After re-attachment only a reading that differs from the one before is news.
    rig.control->reading = 1600;
    rig.applier->handle(ready());
    rig.answerAll();
    EXPECT_EQ(heard.size(), 2u);
    rig.control->reading = 1200;
    rig.applier->applyNow();
    rig.answerAll();
    EXPECT_EQ(heard.back(), 1200);
}

// A DPI-shift button pressed and released quickly: the release's job must not
// reach the mouse before the press's, and the press's must not record.
TEST(SettingsApplier, ASupersededJobMakesNoFurtherCallAndRecordsNothing) {
    ApplierRig rig({1600, std::nullopt, std::nullopt});
    bool idleWait = false;
    rig.applier->waitForApply(nullptr, [&] { idleWait = true; });
    rig.applier->setDPIOverride(400); // press
    rig.settle();
    EXPECT_TRUE(idleWait) << "nothing to wait for";
    ASSERT_EQ(rig.control->calls, Calls{"setDPI(400)"});

    rig.applier->setDPIOverride(std::nullopt); // release, while the press's write is on its way
    bool waited = false;
    rig.applier->waitForApply(nullptr, [&] { waited = true; });
    rig.settle();
    EXPECT_EQ(rig.control->calls, Calls{"setDPI(400)"}) << "the release waits for the press's write";

    rig.control->answer(); // the press's write lands
    rig.settle();
    EXPECT_EQ(rig.control->calls, (Calls{"setDPI(400)", "setDPI(1600)"})) << "no read-back for the press";
    EXPECT_EQ(rig.snapshot().lastAppliedDPI, std::nullopt) << "the press recorded nothing";
    EXPECT_FALSE(waited);
    rig.control->answer();
    rig.settle();
    EXPECT_FALSE(waited) << "waits for the record, not the write";
    rig.answerAll();
    EXPECT_TRUE(waited);
    EXPECT_EQ(rig.control->calls, (Calls{"setDPI(400)", "setDPI(1600)", "readDPI()"}));
    EXPECT_EQ(rig.snapshot().state, State::applied(1600));

    // Of several jobs waiting behind a write, only the newest runs.
    rig.control->calls.clear();
    rig.applier->setDPIOverride(400);
    rig.settle();
    rig.applier->setDPIOverride(800);
    bool droppedWaited = false;
    rig.applier->waitForApply(nullptr, [&] { droppedWaited = true; });
    rig.applier->applyNow();
    rig.settle();
    EXPECT_TRUE(droppedWaited) << "the dropped job's waiter hears that it ended";
    rig.answerAll();
    EXPECT_EQ(rig.control->calls, (Calls{"setDPI(400)", "setDPI(800)", "readDPI()"}));

    // An applier released with a job in flight still completes its waiters.
    int released = 0;
    rig.applier->applyNow();
    rig.applier->waitForApply(nullptr, [&] { ++released; });
    rig.settle();
    rig.applier.reset();
    rig.settle();
    EXPECT_EQ(released, 1);
}

// ---- Over the real HID++ device and the simulated G502 X ----

// The device on a simulated bus, in virtual time (one manual scheduler is the
// I/O thread and every queue) or on the real HID thread and serial queues.
struct MouseRig {
    explicit MouseRig(bool threads) : loop(threads ? nullptr : std::make_shared<platform::ManualScheduler>()) {
        mouse->plugIn(bus);
        auto queue = [loop = loop]() -> std::shared_ptr<platform::Scheduler> {
            if (loop) return loop;
            return std::make_shared<platform::SerialQueue>("ai.ravolet.hidpp", platform::QueuePriority::userInitiated);
        };
        HIDPPEnvironment environment{bus, loop ? queue() : HIDPPRunLoop::shared().runLoop(), queue};
        device = HIDPPDevice::create(HIDPPDeviceMatch::g502X, environment, queue());
        control = std::make_shared<LiveHIDPPControl>(device);
        std::atomic<bool> connected = false;
        device->connect(nullptr, [&connected](HIDPPResult<void> r) { connected = r.has_value(); });
        EXPECT_TRUE(eventually([&] { return connected.load(); }));
    }
    ~MouseRig() {
        // The device closes its link on the I/O loop once nothing holds it.
        control.reset();
        device.reset();
        if (loop) loop->runUntilIdle();
    }

    // Runs the virtual clock in 1 ms steps (or waits on the threads) until `done`.
    bool eventually(const std::function<bool()>& done) {
        for (auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20); !done();) {
            if (std::chrono::steady_clock::now() > limit) return false;
            if (!loop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (loop) loop->advance(std::chrono::milliseconds(1));
        }
        return true;
    }

    // What the applier holds once its jobs have ended.
    SettingsApplier::Snapshot settledSnapshot(const std::shared_ptr<SettingsApplier>& applier) {
        std::mutex mutex;
        std::optional<SettingsApplier::Snapshot> result;
        applier->waitForApply(nullptr, [&] {
            applier->snapshot(nullptr, [&](SettingsApplier::Snapshot s) {
                std::lock_guard lock(mutex);
                result = std::move(s);
            });
        });
        EXPECT_TRUE(eventually([&] {
            std::lock_guard lock(mutex);
            return result.has_value();
        }));
        std::lock_guard lock(mutex);
        return result.value();
    }

    std::shared_ptr<platform::ManualScheduler> loop;
    std::shared_ptr<platform::SimulatedHIDBus> bus = platform::SimulatedHIDBus::make();
    std::shared_ptr<platform::SimulatedMouse> mouse = platform::SimulatedMouse::make();
    std::shared_ptr<HIDPPDevice> device;
    std::shared_ptr<LiveHIDPPControl> control;
};

TEST(LiveHIDPPControl, AppliesThroughTheDeviceAndRefusesUnsupportedRatesWithoutTraffic) {
    struct Case {
        std::int64_t hertz;
        State state;
        std::uint8_t interval; // the mouse's report interval afterwards
        std::uint8_t wheelMode;
    };
    const std::vector<Case> cases = {
        {500, State::applied(800), 2, 0x02},
        {3, State::failed("invalid argument: unsupported report rate 3 Hz"), 1, 0x00},
        {0, State::failed("invalid argument: unsupported report rate 0 Hz"), 1, 0x00},
        {-125, State::failed("invalid argument: unsupported report rate -125 Hz"), 1, 0x00},
        // Divides 1000 but is not in the mouse's list: refused by the device.
        {200, State::failed("invalid argument: report rate 200 Hz (5 ms) is not supported (bitmap 0x8B)"), 1, 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hertz);
        MouseRig rig(false);
        const std::size_t rateRequests = rig.mouse->requestCount(platform::SimulatedMouse::reportRateFeature);
        const std::size_t wheelRequests = rig.mouse->requestCount(platform::SimulatedMouse::hiResWheelFeature);
        auto applier = SettingsApplier::create(rig.control, {800, c.hertz, true}, rig.loop);
        applier->applyNow();
        const SettingsApplier::Snapshot done = rig.settledSnapshot(applier);
        EXPECT_EQ(done.state, c.state);
        EXPECT_EQ(rig.mouse->currentDPI(), 800);
        EXPECT_EQ(rig.mouse->reportIntervalMilliseconds(), c.interval);
        EXPECT_EQ(rig.mouse->wheelMode(), c.wheelMode);
        const bool rateReachedTheMouse = c.hertz == 500 || c.hertz == 200;
        EXPECT_EQ(rig.mouse->requestCount(platform::SimulatedMouse::reportRateFeature) > rateRequests, rateReachedTheMouse);
        EXPECT_EQ(rig.mouse->requestCount(platform::SimulatedMouse::hiResWheelFeature) > wheelRequests, c.hertz == 500);
    }
}

// Quick shift presses and releases from another thread, on the real device,
// whose multi-step writes would interleave if two jobs ran at once: the mouse
// ends at the DPI of the last request.
TEST(SettingsApplierThreads, TheMouseEndsAtTheLastRequestedDPI) {
    MouseRig rig(true);
    auto applier = SettingsApplier::create(rig.control, {1600, std::nullopt, std::nullopt});
    std::atomic<int> readies = 0;
    applier->onDeviceReady([&] { ++readies; });
    std::thread presser([&] {
        for (int i = 0; i < 60; ++i) {
            applier->setDPIOverride(i % 2 == 0 ? OptionalDPI(400) : std::nullopt);
            if (i % 20 == 0) applier->handle(ready());
            if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    presser.join();
    const SettingsApplier::Snapshot done = rig.settledSnapshot(applier);
    EXPECT_EQ(done.state, State::applied(1600));
    EXPECT_EQ(done.deviceReportedDPI, 1600);
    EXPECT_EQ(rig.mouse->currentDPI(), 1600);
    EXPECT_EQ(readies.load(), 3);
}

} // namespace
} // namespace ravolet

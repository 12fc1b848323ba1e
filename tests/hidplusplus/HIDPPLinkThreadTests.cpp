#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "HIDPPLinkTestSupport.hpp"
#include "HIDPlusPlus/HIDPPHotplugMonitor.hpp"
#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/SerialQueue.hpp"

using namespace ravolet;
using namespace ravolet::testing;
using namespace std::chrono_literals;
namespace pf = ravolet::platform;

namespace {

constexpr auto generous = 10s;

// The real HID I/O thread and real send queues, over a simulated bus.
HIDPPEnvironment realThreads(const std::shared_ptr<pf::SimulatedHIDBus>& bus) {
    return HIDPPEnvironment{bus, HIDPPRunLoop::shared().runLoop(),
                            [] { return std::make_shared<pf::SerialQueue>("ai.ravolet.hidpp.send", pf::QueuePriority::userInitiated); }};
}

// Runs `body` on the HID I/O thread and waits for it.
template <class F>
auto onIOThread(F body) {
    std::packaged_task<decltype(body())()> task(std::move(body));
    auto result = task.get_future();
    HIDPPRunLoop::shared().perform([&task] { task(); });
    if (result.wait_for(generous) != std::future_status::ready) throw std::runtime_error("I/O thread did not answer");
    return result.get();
}

// Results written on the I/O thread, awaited on the test thread.
struct Awaited {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, HIDPPLink::Result>> done;
    std::vector<bool> onIOThread;

    HIDPPLink::Completion operator()(int tag) {
        return [this, tag](HIDPPLink::Result r) {
            const bool io = HIDPPRunLoop::shared().runLoop()->isCurrent();
            std::lock_guard lock(mutex);
            done.emplace_back(tag, std::move(r));
            onIOThread.push_back(io);
            changed.notify_all();
        };
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, generous, [&] { return done.size() >= count; });
    }
};

// Echoes each request's header in a long report, except those whose
// feature index is 0x0D, which it never answers.
std::vector<pf::SimulatedHIDReply> echo(std::span<const std::uint8_t> out) {
    if (out.size() < 4 || out[2] == 0x0D) return {};
    Bytes reply(20, 0);
    reply[0] = 0x11, reply[1] = out[1], reply[2] = out[2], reply[3] = out[3], reply[4] = out[2];
    return {{Bytes{0x11, 0xFF, 0x04, 0x00, 0x01}, 0ms}, {reply, 2ms}};  // a notification first
}

} // namespace

TEST(HIDPPLinkThreads, RequestsRunInOrderOnTheIOThreadAndCloseFailsTheRest) {
    auto bus = pf::SimulatedHIDBus::make();
    auto mouse = bus->attachOne(mouseInterface(true));
    mouse->setResponder(echo);
    auto link = HIDPPLink::make(bus->createDevice(mouse), realThreads(bus));
    Awaited results;

    ASSERT_TRUE(onIOThread([&] { return link->open().has_value(); }));
    onIOThread([&] {
        for (int i = 1; i <= 4; ++i) link->submit(0xFF, static_cast<std::uint8_t>(i), 0x1, {}, false, 5.0, "r", results(i));
        return 0;
    });
    ASSERT_TRUE(results.waitFor(4));
    {
        std::lock_guard lock(results.mutex);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(results.done[static_cast<std::size_t>(i)].first, i + 1);
            ASSERT_TRUE(results.done[static_cast<std::size_t>(i)].second.has_value());
            EXPECT_EQ(results.done[static_cast<std::size_t>(i)].second->at(0), i + 1);
            EXPECT_TRUE(results.onIOThread[static_cast<std::size_t>(i)]);
        }
    }
    const auto stats = onIOThread([&] { return link->statistics(); });
    EXPECT_EQ(stats.requestsSent, 4);
    EXPECT_EQ(stats.repliesMatched, 4);
    EXPECT_EQ(stats.notificationsDelivered, 4);
    EXPECT_EQ(stats.peakQueueDepth, 4);

    // The never-answered request holds the wire; closing fails it and the one behind it.
    onIOThread([&] {
        link->submit(0xFF, 0x0D, 0x1, {}, false, 60.0, "silent", results(5));
        link->submit(0xFF, 0x06, 0x1, {}, false, 60.0, "behind", results(6));
        return 0;
    });
    ASSERT_TRUE(mouse->waitForOutputReports(5, generous));
    onIOThread([&] {
        link->close();
        return 0;
    });
    ASSERT_TRUE(results.waitFor(6));
    std::lock_guard lock(results.mutex);
    EXPECT_EQ(results.done[4].second.error(), HIDPPError::notConnected());
    EXPECT_EQ(results.done[5].second.error(), HIDPPError::notConnected());
    EXPECT_EQ(mouse->outputReports().size(), 5u);
}

TEST(HIDPPLinkThreads, ATimeOutHoldsTheNextRequestForTheCooldown) {
    auto bus = pf::SimulatedHIDBus::make();
    auto mouse = bus->attachOne(mouseInterface(true));
    mouse->setResponder(echo);
    auto link = HIDPPLink::make(bus->createDevice(mouse), realThreads(bus));
    Awaited results;
    std::atomic<std::uint64_t> timedOutAt{0};

    ASSERT_TRUE(onIOThread([&] { return link->open().has_value(); }));
    onIOThread([&] {
        link->submit(0xFF, 0x0D, 0x1, {}, false, 0.05, "silent", [&](HIDPPLink::Result r) {
            timedOutAt = pf::MonotonicClock::nowNanos();
            results(1)(std::move(r));
        });
        link->submit(0xFF, 0x02, 0x1, {}, false, 5.0, "next", results(2));
        return 0;
    });
    ASSERT_TRUE(mouse->waitForOutputReports(2, generous));
    const std::uint64_t secondSentAt = pf::MonotonicClock::nowNanos();
    ASSERT_TRUE(results.waitFor(2));
    std::lock_guard lock(results.mutex);
    EXPECT_EQ(results.done[0].second.error().description(), "silent timed out");
    EXPECT_TRUE(results.done[1].second.has_value());
    // Never earlier than the pause (a lower bound only: timers never fire early).
    EXPECT_GE(secondSentAt - timedOutAt.load(), std::uint64_t(30'000'000) - 1'000'000);
    onIOThread([&] {
        link->close();
        return 0;
    });
}

TEST(HIDPPLinkThreads, HotplugNotificationsArriveOnTheIOThread) {
    auto bus = pf::SimulatedHIDBus::make();
    std::mutex mutex;
    std::condition_variable changed;
    int matched = 0;
    std::vector<std::uint64_t> terminated;
    bool allOnIOThread = true;
    auto monitor = HIDPPHotplugMonitor::make(
        HIDPPDeviceMatch::g502X,
        [&] {
            std::lock_guard lock(mutex);
            allOnIOThread = allOnIOThread && HIDPPRunLoop::shared().runLoop()->isCurrent();
            ++matched;
            changed.notify_all();
        },
        [&](std::uint64_t id) {
            std::lock_guard lock(mutex);
            allOnIOThread = allOnIOThread && HIDPPRunLoop::shared().runLoop()->isCurrent();
            terminated.push_back(id);
            changed.notify_all();
        },
        realThreads(bus));
    onIOThread([&] {
        monitor->start();
        return 0;
    });
    auto mouse = bus->attach({mouseInterface(false), mouseInterface(true)});
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, generous, [&] { return matched == 1; }));
    }
    bus->detach(mouse);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, generous, [&] { return terminated.size() == 2; }));
        EXPECT_EQ(terminated, (std::vector<std::uint64_t>{mouse[0]->registryID(), mouse[1]->registryID()}));
        EXPECT_TRUE(allOnIOThread);
    }
    onIOThread([&] {
        monitor->stop();
        monitor.reset();
        return 0;
    });
}

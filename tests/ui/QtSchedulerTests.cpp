#include <gtest/gtest.h>

#include <QEventLoop>

#include <thread>
#include <vector>

#include "RavoletApp/UI/QtScheduler.hpp"

namespace ravolet {
namespace {

using namespace std::chrono_literals;

TEST(QtScheduler, RunsOnTheLoopInDeadlineOrderNeverEarlyFromAnyThreadAndNotWhenCancelled) {
    auto scheduler = std::make_shared<QtScheduler>();
    std::vector<int> order;
    bool allOnTheLoopAndOnTime = true;
    const auto at = [&](std::chrono::milliseconds delay, int tag) {
        const std::uint64_t deadline = platform::Scheduler::deadlineAfter(scheduler->nowNanos(), delay);
        return scheduler->postAt(deadline, [&, deadline, tag] {
            allOnTheLoopAndOnTime = allOnTheLoopAndOnTime && scheduler->isCurrent() && scheduler->nowNanos() >= deadline;
            order.push_back(tag);
        });
    };
    at(300ms, 4);
    at(200ms, 2);
    at(200ms, 3); // equal deadlines keep their order
    at(250ms, 99).cancel();
    scheduler->post([&] {
        order.push_back(1);
        scheduler->post([&] { order.push_back(11); });
    });
    std::thread([&] { at(100ms, 5); }).join();

    QEventLoop loop;
    scheduler->postAfter(400ms, [&] { loop.quit(); });
    loop.exec();
    // The timed ones follow their deadlines.
    EXPECT_EQ(std::erase(order, 11), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 5, 2, 3, 4}));
    EXPECT_TRUE(allOnTheLoopAndOnTime);

    bool threadSeesOtherExecutor = true;
    std::thread([&] { threadSeesOtherExecutor = !scheduler->isCurrent(); }).join();
    EXPECT_TRUE(threadSeesOtherExecutor);
}

TEST(QtScheduler, TasksLeftWhenTheLoopEndsAreDroppedWithWhatTheyHold) {
    auto scheduler = std::make_shared<QtScheduler>();
    const std::weak_ptr<QtScheduler> watched = scheduler;
    // A task that holds the scheduler, and one that posts again when let go.
    scheduler->postAt(scheduler->nowNanos() + 3'600'000'000'000, [held = scheduler] {});
    struct PostsWhenDropped {
        std::shared_ptr<QtScheduler> scheduler;
        ~PostsWhenDropped() {
            if (scheduler) scheduler->post([held = scheduler] {});
        }
    };
    scheduler->post([last = std::make_shared<PostsWhenDropped>(PostsWhenDropped{scheduler})] {});
    scheduler->discardPending();
    scheduler.reset();
    EXPECT_TRUE(watched.expired());
}

} // namespace
} // namespace ravolet

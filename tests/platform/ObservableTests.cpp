#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Support/Observable.hpp"

using namespace ravolet;

TEST(ObservableTest, NotifiesChangesOnlyUntilTheConnectionEnds) {
    Observable<int> value(1);
    std::vector<int> seen;
    {
        auto connection = value.observe([&](int v) { seen.push_back(v); });
        EXPECT_FALSE(value.set(1)); // equal: nothing
        EXPECT_TRUE(value.set(2));
        auto moved = std::move(connection);
        value.set(3);
    }
    value.set(4);
    EXPECT_EQ(seen, (std::vector{2, 3}));
    EXPECT_EQ(value.value(), 4);
    EXPECT_EQ(value.observerCount(), 0u);

    ObserverConnection outlives;
    {
        Observable<int> shortLived;
        outlives = shortLived.observe([](int) {});
    }
    outlives.disconnect(); // the Observable is gone: nothing to do
    EXPECT_FALSE(outlives.isConnected());
}

TEST(ObservableTest, ASetDuringNotificationReachesEveryoneInOrderAndLast) {
    Observable<int> value(0);
    std::vector<std::string> log;
    auto first = value.observe([&](int v) {
        log.push_back("a" + std::to_string(v));
        if (v == 1) value.set(2);
    });
    auto second = value.observe([&](int v) { log.push_back("b" + std::to_string(v)); });
    value.set(1);
    // b never sees the outdated 1, and nobody sees a value twice.
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "a2", "b2"}));
}

TEST(ObservableTest, ObserversMayDisconnectAnyoneOrDestroyTheObservableWhileNotified) {
    auto value = std::make_unique<Observable<int>>(0);
    std::vector<std::string> log;
    ObserverConnection second, third;
    auto first = value->observe([&](int v) {
        log.push_back("a" + std::to_string(v));
        second.disconnect();
    });
    second = value->observe([&](int v) { log.push_back("b" + std::to_string(v)); });
    third = value->observe([&](int v) {
        log.push_back("c" + std::to_string(v));
        third.disconnect(); // itself
        ObserverConnection late = value->observe([&](int w) { log.push_back("late" + std::to_string(w)); });
        late.disconnect();
    });
    value->set(1);
    value->set(2);
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "c1", "a2"}));

    auto destroyer = value->observe([&](int) { value.reset(); });
    first.disconnect();
    value->set(3); // the destroying observer runs last; nothing touches the dead Observable
    EXPECT_EQ(value, nullptr);
    destroyer.disconnect();
}

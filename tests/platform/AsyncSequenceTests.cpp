#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AsyncSequence.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"

namespace ravolet::platform {
namespace {

using Result = std::expected<int, std::string>;
using Next = std::move_only_function<void(Result)>;

// The owner of a sequence: logs what ran and holds the continuation of the
// step in progress until the test answers it, as a device would.
struct Owner {
    std::shared_ptr<ManualScheduler> queue = std::make_shared<ManualScheduler>();
    std::vector<std::string> log;
    std::optional<Next> waiting;
};

// Two steps that wait for the test's answer (the second adds its answer to
// the first's), then one that doubles at once.
void start(const std::shared_ptr<Owner>& owner, TaskHandle cancellation) {
    makeSequence<std::string>(owner->queue, std::weak_ptr<Owner>(owner), std::move(cancellation))
        .then<int>([](Owner& self, Next next) {
            self.log.push_back("first");
            self.waiting = std::move(next);
        })
        .then<int>([](Owner& self, int previous, Next next) {
            self.log.push_back("second after " + std::to_string(previous));
            self.waiting = [previous, next = std::move(next)](Result r) mutable { next(r ? Result(previous + *r) : r); };
        })
        .then<int>([](Owner& self, int previous, Next next) {
            EXPECT_TRUE(self.queue->isCurrent());
            next(previous * 2);
        })
        .run([](Owner& self, Result r) { self.log.push_back(r ? "finished " + std::to_string(*r) : "failed " + r.error()); },
             [](Owner& self) { self.log.push_back("stopped"); });
}

TEST(AsyncSequence, StepsRunInOrderOnTheExecutorUntilTheFirstErrorACancellationOrTheOwnersEnd) {
    enum class Interruption { none, cancelAfterFirstStep, releaseOwnerAfterFirstStep };
    struct Case {
        const char* name;
        std::vector<Result> answers;
        Interruption interruption;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"both succeed", {1, 10}, Interruption::none, {"first", "second after 1", "finished 22"}},
        {"first fails", {std::unexpected("no device")}, Interruption::none, {"first", "failed no device"}},
        {"second fails", {1, std::unexpected("timeout")}, Interruption::none, {"first", "second after 1", "failed timeout"}},
        {"cancelled", {1}, Interruption::cancelAfterFirstStep, {"first", "stopped"}},
        {"owner released", {1}, Interruption::releaseOwnerAfterFirstStep, {"first"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = std::make_shared<Owner>();
        std::shared_ptr<ManualScheduler> queue = owner->queue;
        TaskHandle cancellation = TaskHandle::make();
        start(owner, cancellation);
        EXPECT_TRUE(owner->log.empty()) << "the first step is posted, never run inside run()";
        queue->runUntilIdle();
        const std::vector<std::string> log = owner->log;
        std::weak_ptr<Owner> weak = owner;
        for (const Result& answer : c.answers) {
            Next next = std::move(*std::exchange(owner->waiting, std::nullopt));
            if (c.interruption == Interruption::cancelAfterFirstStep) cancellation.cancel();
            if (c.interruption == Interruption::releaseOwnerAfterFirstStep) owner.reset();
            EXPECT_EQ(weak.expired(), !owner) << "a waiting sequence holds its owner weakly";
            const std::size_t before = owner ? owner->log.size() : 0;
            next(answer);
            if (owner) {
                EXPECT_EQ(owner->log.size(), before) << "a continuation hops back to the executor first";
            }
            queue->runUntilIdle();
        }
        EXPECT_EQ(owner ? owner->log : log, c.log);
        EXPECT_EQ(queue->pendingCount(), 0u);
    }
}

} // namespace
} // namespace ravolet::platform

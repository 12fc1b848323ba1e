#include <gtest/gtest.h>

#include <chrono>

#include "HIDPPLinkTestSupport.hpp"

using namespace ravolet;
using namespace ravolet::testing;
using namespace std::chrono_literals;
namespace pf = ravolet::platform;

namespace {

class HIDPPLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        mouse = sim.bus->attachOne(mouseInterface(true));
        link = makeLink();
        ASSERT_TRUE(link->open().has_value());
    }
    void TearDown() override {
        if (link) link->close();
    }

    std::shared_ptr<HIDPPLink> makeLink() {
        auto device = sim.bus->createDevice(mouse);
        return HIDPPLink::make(device, sim.environment());
    }

    // Request `tag`: feature index `feature`, function 1, short, 1 s.
    void submit(int tag, std::uint8_t feature = 0x05, Bytes params = {}, double timeout = 1.0) {
        link->submit(0xFF, feature, 0x1, std::move(params), false, timeout, "request" + std::to_string(tag), results(tag));
    }
    // The answer the mouse gives to output report `n`: same header, a long report.
    Bytes replyTo(std::size_t n, Bytes payload = {0xAB}) const {
        const Bytes out = mouse->outputReports().at(n);
        Bytes reply(20, 0);
        reply[0] = 0x11, reply[1] = out[1], reply[2] = out[2], reply[3] = out[3];
        std::copy(payload.begin(), payload.end(), reply.begin() + 4);
        return reply;
    }
    void deliver(Bytes report) {
        mouse->inject(std::move(report));
        sim.loop->runUntilIdle();
    }

    SimulatedHIDPP sim;
    std::shared_ptr<pf::SimulatedHIDDevice> mouse;
    std::shared_ptr<HIDPPLink> link;
    Results results;
};

} // namespace

TEST_F(HIDPPLinkTest, SendsOneRequestAtATimeInOrder) {
    submit(1, 0x05, {0x01, 0x02});
    link->submit(0xFF, 0x09, 0x3, {0x10}, true, 1.0, "second", results(2));
    sim.loop->runUntilIdle();
    ASSERT_EQ(mouse->outputReports().size(), 1u);
    EXPECT_EQ(mouse->outputReports()[0], (Bytes{0x10, 0xFF, 0x05, 0x11, 0x01, 0x02, 0x00}));
    EXPECT_EQ(link->statistics().peakQueueDepth, 2);

    deliver(replyTo(0, {0x42, 0x43}));
    ASSERT_TRUE(results.has(1));
    const Bytes expectedPayload = [] {
        Bytes p{0x42, 0x43};
        p.resize(16, 0);
        return p;
    }();
    EXPECT_EQ(*results.of(1), expectedPayload);  // a short request answered with a long report
    ASSERT_EQ(mouse->outputReports().size(), 2u);
    Bytes second(20, 0);
    second[0] = 0x11, second[1] = 0xFF, second[2] = 0x09, second[3] = 0x32, second[4] = 0x10;
    EXPECT_EQ(mouse->outputReports()[1], second);
    EXPECT_FALSE(results.has(2));

    deliver(replyTo(1));
    EXPECT_TRUE(results.of(2).has_value());
    EXPECT_EQ(link->statistics().description(), "sent=2 matched=2 staleDropped=0 unmatchedDropped=0 events=0 peakQueue=2");
}

TEST_F(HIDPPLinkTest, ErrorRepliesFailTheirRequest) {
    submit(1, 0x05);
    sim.loop->runUntilIdle();
    const Bytes out = mouse->outputReports().at(0);
    deliver(Bytes{0x11, 0xFF, 0xFF, out[2], out[3], 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_FALSE(results.of(1).has_value());
    EXPECT_EQ(results.of(1).error().description(), "HID++ 2.0 error 0x02 (invalidArgument)");

    submit(2, 0x06);
    sim.loop->runUntilIdle();
    const Bytes out2 = mouse->outputReports().at(1);
    deliver(Bytes{0x10, 0xFF, 0x8F, out2[2], out2[3], 0x09, 0x00});
    EXPECT_EQ(results.of(2).error(), HIDPPError::protocol10(0x09));
    EXPECT_EQ(results.of(2).error().description(), "HID++ 1.0 error 0x09");

    // Five bytes with 0xFF in byte 2: a plain report keyed (byte 1, 0xFF, byte 3).
    submit(3, 0x07);
    sim.loop->runUntilIdle();
    const Bytes out3 = mouse->outputReports().at(2);
    deliver(Bytes{0x10, 0xFF, 0xFF, out3[2], out3[3]});
    EXPECT_FALSE(results.has(3));
    EXPECT_EQ(link->statistics().unmatchedReportsDropped, 1);
    EXPECT_EQ(link->statistics().repliesMatched, 2);
}

TEST_F(HIDPPLinkTest, TimeOutThenCooldownThenStaleLateReply) {
    submit(1, 0x05, {}, 1.0);
    submit(2, 0x06);
    sim.loop->runUntilIdle();
    const Bytes lateReply = replyTo(0);

    sim.loop->advance(999ms);
    EXPECT_FALSE(results.has(1));
    sim.loop->advance(1ms);
    ASSERT_TRUE(results.has(1));
    EXPECT_EQ(results.of(1).error(), HIDPPError::timeout("request1"));
    EXPECT_EQ(results.of(1).error().description(), "request1 timed out");

    sim.loop->advance(29ms);
    EXPECT_EQ(mouse->outputReports().size(), 1u);  // still cooling down
    sim.loop->advance(1ms);
    EXPECT_EQ(mouse->outputReports().size(), 2u);

    deliver(lateReply);
    EXPECT_EQ(link->statistics().staleRepliesDropped, 1);
    EXPECT_FALSE(results.has(2));
    deliver(replyTo(1));
    EXPECT_TRUE(results.of(2).has_value());
}

// Each request times out at its own time from its send, whatever requests
// answered before it left scheduled.
TEST_F(HIDPPLinkTest, EachRequestTimesOutAtItsOwnDeadline) {
    struct Row {
        double firstTimeout;
        std::chrono::milliseconds answeredAfter;
        double secondTimeout;
    };
    for (const Row row : {Row{1.0, 400ms, 1.0}, Row{1.0, 400ms, 0.2}, Row{0.2, 100ms, 2.0}}) {
        SCOPED_TRACE(::testing::Message() << row.firstTimeout << " s, answered after " << row.answeredAfter.count()
                                        << " ms, then " << row.secondTimeout << " s");
        Results local;
        link->submit(0xFF, 0x05, 0x1, {}, false, row.firstTimeout, "first", local(1));
        sim.loop->runUntilIdle();
        sim.loop->advance(row.answeredAfter);
        deliver(replyTo(mouse->outputReports().size() - 1));
        ASSERT_TRUE(local.of(1).has_value());
        link->submit(0xFF, 0x06, 0x1, {}, false, row.secondTimeout, "second", local(2));
        sim.loop->runUntilIdle();
        const auto deadline = std::chrono::milliseconds(static_cast<int>(row.secondTimeout * 1000));
        sim.loop->advance(deadline - 1ms);
        EXPECT_FALSE(local.has(2));
        sim.loop->advance(1ms);
        ASSERT_TRUE(local.has(2));
        EXPECT_EQ(local.of(2).error(), HIDPPError::timeout("second"));
        sim.loop->advance(1s); // past the cooldown and any check still due
    }
}

TEST_F(HIDPPLinkTest, ARequestSubmittedByATimedOutCompletionWaitsForTheCooldown) {
    link->submit(0xFF, 0x05, 0x1, {}, false, 0.5, "first", [this](HIDPPLink::Result) { submit(2, 0x06); });
    sim.loop->runUntilIdle();
    sim.loop->advance(500ms);
    EXPECT_EQ(mouse->outputReports().size(), 1u);
    sim.loop->advance(29ms);
    EXPECT_EQ(mouse->outputReports().size(), 1u);
    sim.loop->advance(1ms);
    EXPECT_EQ(mouse->outputReports().size(), 2u);
}

TEST_F(HIDPPLinkTest, DuplicateForeignAndUnsolicitedReportsAreCounted) {
    std::vector<std::tuple<std::uint8_t, std::uint8_t, Bytes>> notifications;
    submit(1, 0x05);
    sim.loop->runUntilIdle();
    const Bytes reply = replyTo(0);
    Bytes otherSoftwareID = reply;
    otherSoftwareID[3] = static_cast<std::uint8_t>((reply[3] & 0xF0) | 0x07);
    deliver(otherSoftwareID);
    EXPECT_EQ(link->statistics().unmatchedReportsDropped, 1);
    EXPECT_FALSE(results.has(1));
    deliver(reply);
    deliver(reply);
    EXPECT_EQ(results.done.size(), 1u);
    EXPECT_EQ(link->statistics().staleRepliesDropped, 1);

    deliver(Bytes{0x11, 0xFF, 0x08, 0x00, 0x01, 0x02});  // no handler yet: still counted
    EXPECT_EQ(link->statistics().notificationsDelivered, 1);
    link->setNotificationHandler([&](std::uint8_t feature, std::uint8_t function, Bytes payload) {
        notifications.emplace_back(feature, function, std::move(payload));
    });
    deliver(Bytes{0x11, 0xFF, 0x08, 0x10, 0x05, 0x06, 0x07});
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications[0], std::make_tuple(std::uint8_t(0x08), std::uint8_t(0x10), Bytes{0x05, 0x06, 0x07}));

    // Not HID++, or too short to be anything: ignored without a trace.
    const auto before = link->statistics();
    deliver(Bytes{});
    deliver(Bytes{0x11, 0xFF, 0x08});
    deliver(Bytes{0x20, 0xFF, 0x08, 0x10, 0x00});
    deliver(Bytes(200, 0x11));  // longer than the input buffer: cut, then a report to no one
    EXPECT_EQ(link->statistics().notificationsDelivered, before.notificationsDelivered);
    EXPECT_EQ(link->statistics().unmatchedReportsDropped, before.unmatchedReportsDropped + 1);
}

TEST_F(HIDPPLinkTest, RetiredKeysForgetTheOldestAfterFifteen) {
    std::vector<Bytes> replies;
    for (int i = 0; i < 16; ++i) {
        submit(i, static_cast<std::uint8_t>(0x10 + i));
        sim.loop->runUntilIdle();
        replies.push_back(replyTo(static_cast<std::size_t>(i)));
        deliver(replies.back());
    }
    EXPECT_EQ(mouse->outputReports()[0][3] & 0x0F, 1);
    EXPECT_EQ(mouse->outputReports()[14][3] & 0x0F, 15);
    EXPECT_EQ(mouse->outputReports()[15][3] & 0x0F, 1);  // the sixteenth reuses 1
    deliver(replies[0]);
    EXPECT_EQ(link->statistics().unmatchedReportsDropped, 1);
    deliver(replies[1]);
    EXPECT_EQ(link->statistics().staleRepliesDropped, 1);
}

TEST_F(HIDPPLinkTest, CloseFailsEveryQueuedRequestInOrder) {
    submit(1);
    submit(2);
    submit(3);
    sim.loop->runUntilIdle();
    link->close();
    ASSERT_EQ(results.done.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(results.done[static_cast<std::size_t>(i)].first, i + 1);
        EXPECT_EQ(results.done[static_cast<std::size_t>(i)].second.error().description(), "not connected");
    }
    EXPECT_FALSE(link->isOpen());
    EXPECT_EQ(mouse->openHandleCount(), 0);
    deliver(replyTo(0));  // never reaches a closed device
    EXPECT_EQ(link->statistics().staleRepliesDropped + link->statistics().unmatchedReportsDropped, 0);

    submit(4);
    EXPECT_EQ(results.of(4).error(), HIDPPError::notOpen());
    link->close();  // closing a closed link does nothing more
    EXPECT_EQ(results.done.size(), 4u);
}

TEST_F(HIDPPLinkTest, RemovalFailsEveryQueuedRequestWithDeviceRemoved) {
    submit(1);
    submit(2);
    sim.loop->runUntilIdle();
    sim.bus->detach({mouse});
    link->invalidate();
    ASSERT_EQ(results.done.size(), 2u);
    EXPECT_EQ(results.of(1).error().description(), "device was removed");
    EXPECT_EQ(results.of(2).error(), HIDPPError::deviceRemoved());
    sim.loop->advance(2s);  // the dead request's timer never fires
    EXPECT_EQ(results.done.size(), 2u);
}

TEST_F(HIDPPLinkTest, WriteFailureFailsTheHeadAndSendsTheNextAtOnce) {
    mouse->setWriteResult(pf::kIOReturnError);
    submit(1);
    submit(2);
    sim.loop->runUntilIdle();
    ASSERT_TRUE(results.has(1));
    EXPECT_EQ(results.of(1).error().description(), "IOHIDDeviceSetReport failed: 0xE00002BC (kIOReturnError)");
    mouse->setWriteResult(pf::kIOReturnSuccess);
    ASSERT_TRUE(results.has(2));  // the second write failed too, before the result changed
    submit(3);
    sim.loop->runUntilIdle();
    EXPECT_EQ(mouse->outputReports().size(), 1u);
    EXPECT_EQ(link->statistics().requestsSent, 3);

    mouse->setWriteResult(pf::kIOReturnNotAttached);
    submit(4);
    sim.loop->runUntilIdle();
    EXPECT_FALSE(results.has(4));  // request 3 is still on the wire
    deliver(replyTo(0));
    sim.loop->runUntilIdle();
    EXPECT_EQ(results.of(4).error(), HIDPPError::deviceRemoved());
}

TEST_F(HIDPPLinkTest, ParametersThatDoNotFitAreRefusedWithoutUsingASoftwareID) {
    submit(1, 0x05, Bytes(4, 1));
    EXPECT_EQ(results.of(1).error().description(), "invalid argument: 4 parameter bytes do not fit in a short report");
    link->submit(0xFF, 0x05, 0x1, Bytes(17, 1), true, 1.0, "long", results(2));
    EXPECT_EQ(results.of(2).error(), HIDPPError::invalidArgument("17 parameter bytes do not fit in a long report"));
    EXPECT_EQ(link->statistics().peakQueueDepth, 0);
    submit(3);
    sim.loop->runUntilIdle();
    EXPECT_EQ(mouse->outputReports().at(0)[3], 0x11);  // software identifier 1: the first used
}

TEST_F(HIDPPLinkTest, OpenIsIdempotentAndOpenFailuresAreTyped) {
    EXPECT_TRUE(link->open().has_value());
    EXPECT_EQ(mouse->scheduleCount(), 1);
    EXPECT_EQ(mouse->openHandleCount(), 1);

    auto other = makeLink();
    mouse->setOpenResult(pf::kIOReturnExclusiveAccess);
    auto refused = other->open();
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().description(), "IOHIDDeviceOpen failed: 0xE00002C5 (kIOReturnExclusiveAccess)");
    EXPECT_FALSE(other->isOpen());
    mouse->setOpenResult(pf::kIOReturnSuccess);
    sim.bus->setListenAccess(pf::HIDAccess::denied);
    EXPECT_EQ(other->open().error(), HIDPPError::notPermitted());
}

TEST_F(HIDPPLinkTest, AnOpenLinkKeepsItselfAliveUntilClosed) {
    std::weak_ptr<HIDPPLink> weak = link;
    link.reset();
    EXPECT_FALSE(weak.expired());
    deliver(Bytes{0x11, 0xFF, 0x08, 0x00});
    EXPECT_EQ(weak.lock()->statistics().notificationsDelivered, 1);
    weak.lock()->close();
    EXPECT_TRUE(weak.expired());
}

TEST(HIDPPLinkIdentity, ReadsPropertiesWithFallbacks) {
    SimulatedHIDPP sim;
    auto mouse = sim.bus->attachOne(mouseInterface(true));
    auto link = HIDPPLink::make(sim.bus->createDevice(mouse), sim.environment());
    EXPECT_EQ(link->registryID(), mouse->registryID());
    EXPECT_EQ(link->identity().description(), "046D:C099 G502 X usage=FF00:01 maxIn=20 maxOut=20 pairs=[FF00:01,FF00:02]");
    EXPECT_EQ(link->identity().manufacturer, "Logitech");
    EXPECT_EQ(link->identity().serialNumber, std::nullopt);
    EXPECT_TRUE(link->identity().carriesHIDPP());

    pf::HIDProperties odd;
    odd.emplace(pf::hidkey::vendorID, std::string("046D"));  // mistyped
    odd.emplace(pf::hidkey::product, std::int64_t{5});
    odd.emplace(pf::hidkey::locationID, std::int64_t{0x14200000});
    odd.emplace(pf::hidkey::deviceUsagePairs,
                std::vector<pf::HIDDictionary>{{{"DeviceUsagePage", std::int64_t{0xFF00}}}, {{"DeviceUsage", std::string("x")}}});
    auto oddMouse = sim.bus->attachOne(std::move(odd));
    const auto identity = HIDPPLink::readIdentity(*sim.bus->createDevice(oddMouse));
    EXPECT_EQ(identity.vendorID, 0);
    EXPECT_EQ(identity.product, std::nullopt);
    EXPECT_EQ(identity.locationID, 0x14200000);
    EXPECT_TRUE(identity.usagePairs.empty());

    pf::HIDProperties partial;
    partial.emplace(pf::hidkey::deviceUsagePairs, std::vector<pf::HIDDictionary>{{{"DeviceUsagePage", std::int64_t{0xFF00}}}});
    const auto partialIdentity = HIDPPLink::readIdentity(*sim.bus->createDevice(sim.bus->attachOne(std::move(partial))));
    EXPECT_EQ(partialIdentity.usagePairs, (std::vector<HIDUsagePair>{{0xFF00, 0}}));
}

#include <gtest/gtest.h>

#include <vector>

#include "HIDPlusPlus/HIDPPWire.hpp"

using namespace ravolet;
using Bytes = std::vector<std::uint8_t>;

TEST(HIDPPWire, EncodesShortAndLongRequestsByteForByte) {
    const Bytes params{0xAA, 0xBB};
    auto shortReport = HIDPPWire::encodeRequest(0xFF, 0x05, 0x2, params, false, 3);
    ASSERT_TRUE(shortReport.has_value());
    EXPECT_EQ(*shortReport, (Bytes{0x10, 0xFF, 0x05, 0x23, 0xAA, 0xBB, 0x00}));

    auto longReport = HIDPPWire::encodeRequest(0x01, 0x09, 0x3, params, true, 0x0F);
    ASSERT_TRUE(longReport.has_value());
    Bytes expected(20, 0);
    expected[0] = 0x11, expected[1] = 0x01, expected[2] = 0x09, expected[3] = 0x3F, expected[4] = 0xAA, expected[5] = 0xBB;
    EXPECT_EQ(*longReport, expected);

    EXPECT_EQ(*HIDPPWire::encodeRequest(0xFF, 0, 1, {}, false, 1), (Bytes{0x10, 0xFF, 0x00, 0x11, 0, 0, 0}));
    Bytes emptyLong(20, 0);
    emptyLong[0] = 0x11, emptyLong[1] = 0xFF, emptyLong[3] = 0x11;
    EXPECT_EQ(*HIDPPWire::encodeRequest(0xFF, 0, 1, {}, true, 1), emptyLong);
}

TEST(HIDPPWire, ParameterLimitsAreThreeShortAndSixteenLong) {
    const Bytes three(3, 7), four(4, 7), sixteen(16, 7), seventeen(17, 7);
    EXPECT_EQ(HIDPPWire::encodeRequest(0xFF, 1, 0, three, false, 1)->size(), 7u);
    EXPECT_EQ(HIDPPWire::encodeRequest(0xFF, 1, 0, sixteen, true, 1)->size(), 20u);
    EXPECT_EQ(HIDPPWire::encodeRequest(0xFF, 1, 0, sixteen, true, 1)->back(), 7);

    auto tooMany = HIDPPWire::encodeRequest(0xFF, 1, 0, four, false, 1);
    ASSERT_FALSE(tooMany.has_value());
    EXPECT_EQ(tooMany.error(), HIDPPError::invalidArgument("4 parameter bytes do not fit in a short report"));
    EXPECT_EQ(tooMany.error().description(), "invalid argument: 4 parameter bytes do not fit in a short report");
    EXPECT_EQ(HIDPPWire::encodeRequest(0xFF, 1, 0, seventeen, true, 1).error().description(),
              "invalid argument: 17 parameter bytes do not fit in a long report");
}

TEST(HIDPPWire, SoftwareIdentifiersRotateThroughOneToFifteen) {
    EXPECT_EQ(HIDPPWire::softwareIDAfter(0), 1);
    EXPECT_EQ(HIDPPWire::softwareIDAfter(14), 15);
    EXPECT_EQ(HIDPPWire::softwareIDAfter(15), 1);
    EXPECT_EQ(HIDPPWire::softwareIDAfter(0x1F), 1);
    EXPECT_EQ(HIDPPWire::softwareIDAfter(0x23), 4);
    std::uint8_t id = 0;
    for (int i = 0; i < 40; ++i) {
        id = HIDPPWire::softwareIDAfter(id);
        EXPECT_TRUE(HIDPPWire::softwareIDs.contains(id));
    }

    EXPECT_EQ(HIDPPWire::functionByte(1, 0), 0x18);
    EXPECT_EQ(HIDPPWire::functionByte(2, 0x13), 0x23);
    EXPECT_EQ(HIDPPWire::functionByte(0x12, 1), 0x21);
}

TEST(HIDPPWire, ClassifiesRepliesErrorsAndForeignReports) {
    using Kind = HIDPPWire::InputReport::Kind;
    const Bytes reply{0x11, 0xFF, 0x03, 0x25, 0x01, 0x02};
    auto r = HIDPPWire::classify(reply);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->kind, Kind::reply);
    EXPECT_EQ(r->key, (HIDPPWire::TransactionKey{0xFF, 0x03, 0x25}));
    EXPECT_EQ(Bytes(r->payload.begin(), r->payload.end()), (Bytes{0x01, 0x02}));
    EXPECT_FALSE(r->isNotificationForm());

    const Bytes error20{0x11, 0xFF, 0xFF, 0x05, 0x1A, 0x02, 0x00};
    auto e20 = HIDPPWire::classify(error20);
    EXPECT_EQ(e20->kind, Kind::error20);
    EXPECT_EQ(e20->key, (HIDPPWire::TransactionKey{0xFF, 0x05, 0x1A}));
    EXPECT_EQ(e20->errorCode, 0x02);

    const Bytes error10{0x10, 0x01, 0x8F, 0x00, 0x11, 0x09};
    auto e10 = HIDPPWire::classify(error10);
    EXPECT_EQ(e10->kind, Kind::error10);
    EXPECT_EQ(e10->key, (HIDPPWire::TransactionKey{0x01, 0x00, 0x11}));
    EXPECT_EQ(e10->errorCode, 0x09);

    // Too short for the error form: a plain report keyed by the 0xFF byte.
    const Bytes shortError{0x10, 0x02, 0xFF, 0x17, 0x03};
    auto plain = HIDPPWire::classify(shortError);
    EXPECT_EQ(plain->kind, Kind::reply);
    EXPECT_EQ(plain->key, (HIDPPWire::TransactionKey{0x02, 0xFF, 0x17}));

    const Bytes notification{0x11, 0xFF, 0x06, 0x00, 0x42};
    EXPECT_TRUE(HIDPPWire::classify(notification)->isNotificationForm());
    const Bytes headerOnly{0x10, 0xFF, 0x06, 0x10};
    EXPECT_TRUE(HIDPPWire::classify(headerOnly)->payload.empty());

    EXPECT_FALSE(HIDPPWire::classify(Bytes{}).has_value());
    EXPECT_FALSE(HIDPPWire::classify(Bytes{0x11, 0xFF, 0x00}).has_value());
    EXPECT_FALSE(HIDPPWire::classify(Bytes{0x12, 0xFF, 0x00, 0x10, 0x00}).has_value());
    EXPECT_FALSE(HIDPPWire::classify(Bytes{0x01, 0x00, 0x00, 0x00}).has_value());
}

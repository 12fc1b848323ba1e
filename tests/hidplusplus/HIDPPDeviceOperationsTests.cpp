// Raw requests, the feature table and the typed operations of the device
// actor, against the simulated mouse: values, wire bytes and exact errors.

#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>

#include "HIDPPDeviceTestSupport.hpp"
#include "HIDPlusPlus/HIDPPDeviceDecoding.hpp"
#include "HIDPlusPlus/HIDPPRunLoop.hpp"

using namespace ravolet;
using namespace ravolet::testing;
using platform::SimulatedMouse;

namespace {

class HIDPPDeviceOperationsTests : public ::testing::TestWithParam<RigMode> {
protected:
    void connect() {
        auto r = rig.await<void>([&](HIDPPCompletion<void> done) { device->connect(nullptr, std::move(done)); });
        ASSERT_TRUE(r.has_value()) << r.error();
        mouse->clearReceivedRequests();
    }

    HIDPPResult<HIDPPBytes> raw(std::uint8_t featureIndex, std::uint8_t function, HIDPPBytes parameters, bool isLong,
                                std::optional<double> timeout = std::nullopt) {
        return rig.await<HIDPPBytes>([&](auto done) {
            device->rawRequest(featureIndex, function, parameters, isLong, timeout, nullptr, std::move(done));
        });
    }

    // The last request the mouse received for a feature and function.
    SimulatedMouse::ReceivedRequest lastRequest(std::uint16_t featureID, std::uint8_t function) const {
        auto requests = mouse->receivedRequests();
        for (auto it = requests.rbegin(); it != requests.rend(); ++it)
            if (it->featureID == featureID && it->function == function) return *it;
        ADD_FAILURE() << "no such request";
        return {};
    }

    std::uint8_t indexOf(std::uint16_t featureID) const { return mouse->featureIndex(featureID).value(); }

    DeviceRig rig{GetParam()};
    std::shared_ptr<SimulatedMouse>& mouse = rig.mouse;
    std::shared_ptr<HIDPPDevice>& device = rig.device;
};

#define AWAIT(T, call) rig.await<T>([&](auto done) { device->call; })

HIDPPError malformed(const char* text) { return HIDPPError::malformedResponse(text); }

} // namespace

// ---- Raw requests and ping ----

TEST_P(HIDPPDeviceOperationsTests, RawRequestsAreFramedAsAskedAndFailAsTheLinkSays) {
    EXPECT_EQ(raw(0, 1, {0, 0, 0x5A}, false), std::unexpected(HIDPPError::notConnected()));
    connect();

    auto reply = raw(0, 1, {0x00, 0x00, 0x5A}, false);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(HIDPPBytes(reply->begin(), reply->begin() + 3), (HIDPPBytes{4, 2, 0x5A}));
    const auto sent = lastRequest(0x0000, 1).report;
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[0], 0x10);
    EXPECT_EQ(sent[1], 0xFF);
    EXPECT_EQ(sent[3] >> 4, 1);
    EXPECT_NE(sent[3] & 0x0F, 0);
    EXPECT_EQ(HIDPPBytes(sent.begin() + 4, sent.end()), (HIDPPBytes{0x00, 0x00, 0x5A}));

    EXPECT_TRUE(raw(indexOf(0x2121), 1, {}, true).has_value());
    EXPECT_EQ(lastRequest(0x2121, 1).report.size(), 20u);

    EXPECT_EQ(raw(0, 1, {1, 2, 3, 4}, false), std::unexpected(HIDPPError::invalidArgument("4 parameter bytes do not fit in a short report")));
    EXPECT_EQ(raw(0, 1, HIDPPBytes(17, 0), true), std::unexpected(HIDPPError::invalidArgument("17 parameter bytes do not fit in a long report")));

    // An unsupported DPI sent raw gets the device's own error.
    const std::uint8_t dpi = indexOf(0x2201);
    EXPECT_EQ(raw(dpi, 3, {0, 0x00, 0x33}, true), std::unexpected(HIDPPError::protocol20(HIDPP20ErrorCode::invalidArgument)));
    EXPECT_EQ(raw(dpi, 3, {0, 0x00, 0x33}, true).error().description(), "HID++ 2.0 error 0x02 (invalidArgument)");

    // A device index the mouse does not answer to: an HID++ 1.0 error.
    device->setDeviceIndex(0x01);
    EXPECT_EQ(raw(0, 1, {0, 0, 0x5A}, false), std::unexpected(HIDPPError::protocol10(0x08)));
    device->setDeviceIndex(0xFF);

    // No answer: the label names the feature index and function.
    mouse->dropNext({.featureID = 0x0003, .function = 1});
    const auto timedOut = raw(indexOf(0x0003), 1, {}, false, 0.05);
    EXPECT_EQ(timedOut, std::unexpected(HIDPPError::timeout("feature 0x02 fn 0x01")));
    EXPECT_EQ(timedOut.error().description(), "feature 0x02 fn 0x01 timed out");
}

TEST_P(HIDPPDeviceOperationsTests, PingCachesTheProtocolVersionAndChecksItsReply) {
    connect();
    EXPECT_EQ(AWAIT(HIDPPProtocolVersion, ping(nullptr, std::move(done))), (HIDPPProtocolVersion{4, 2}));
    mouse->setProtocolVersion(4, 5);
    EXPECT_EQ(AWAIT(HIDPPProtocolVersion, protocolVersion(nullptr, std::move(done))), (HIDPPProtocolVersion{4, 2}));
    EXPECT_EQ(mouse->requestCount(0x0000, 1), 1u);

    mouse->replyNextWith({.featureID = 0x0000, .function = 1}, {4, 2, 0x00});
    EXPECT_EQ(AWAIT(HIDPPProtocolVersion, ping(nullptr, std::move(done))), std::unexpected(malformed("ping token mismatch")));
    mouse->replyNextWith({.featureID = 0x0000, .function = 1}, {4, 2});
    EXPECT_EQ(AWAIT(HIDPPProtocolVersion, ping(nullptr, std::move(done))), std::unexpected(malformed("ping reply too short")));
    // A failed ping leaves the cached version alone.
    EXPECT_EQ(AWAIT(HIDPPProtocolVersion, protocolVersion(nullptr, std::move(done))), (HIDPPProtocolVersion{4, 2}));
    EXPECT_EQ(AWAIT(HIDPPProtocolVersion, ping(nullptr, std::move(done))), (HIDPPProtocolVersion{4, 5}));
}

// ---- Feature table ----

TEST_P(HIDPPDeviceOperationsTests, TheTableIsDiscoveredOnConnectAndAnswersLookUps) {
    connect();
    const auto features = device->features();
    const auto table = mouse->featureTable();
    ASSERT_EQ(features.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(features[i].index, i);
        EXPECT_EQ(features[i].id, table[i].id);
        EXPECT_EQ(features[i].version, table[i].version);
        EXPECT_EQ(features[i].type.rawValue, table[i].type);
    }
    EXPECT_EQ(features[0x12].description(), "idx 0x12 -> 0x2201 AdjustableDPI v2 [-]");
    EXPECT_EQ(features[7].description(), "idx 0x07 -> 0x1802 DeviceReset v0 [hidden,engineering]");

    // Known and missing features are answered without asking the mouse.
    EXPECT_EQ(AWAIT(std::uint8_t, featureIndex(HIDPPFeature::reportRate, nullptr, std::move(done))), 0x13);
    EXPECT_EQ(AWAIT(std::uint8_t, featureIndex(HIDPPFeature::smartShift, nullptr, std::move(done))),
              std::unexpected(HIDPPError::featureUnsupported(HIDPPFeature::smartShift)));
    auto supported = rig.await<bool>([&](auto done) {
        device->supports(HIDPPFeature::unifiedBattery, nullptr, [done = std::move(done)](bool b) mutable { done(b); });
    });
    EXPECT_EQ(supported, false);
    EXPECT_TRUE(mouse->receivedRequests().empty());
}

TEST_P(HIDPPDeviceOperationsTests, DiscoveryCopesWithAFullTableAndUnknownIdentifiers) {
    std::vector<SimulatedMouse::FeatureEntry> table = SimulatedMouse::defaultFeatureTable();
    while (table.size() < 256) table.push_back({static_cast<std::uint16_t>(0x4000 + table.size()), 0x20, 1});
    mouse->setFeatureTable(table);
    connect();
    const auto features = device->features();
    ASSERT_EQ(features.size(), 256u);
    EXPECT_EQ(features.back().index, 255);
    EXPECT_EQ(features.back().id, 0x40FF);
    EXPECT_FALSE(features.back().feature.has_value());
    EXPECT_EQ(features.back().name(), "unknown");

    auto again = AWAIT(std::vector<HIDPPFeatureRecord>, discoverFeatures(nullptr, std::move(done)));
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->size(), 256u);
    EXPECT_EQ(mouse->requestCount(0x0001, 1), 256u);
    EXPECT_EQ(mouse->requestCount(0x0001, 0), 1u);
}

TEST_P(HIDPPDeviceOperationsTests, AFailedDiscoveryKeepsWhatItReadAndLooksUpTheRest) {
    connect();
    mouse->replyNextWith({.featureID = 0x0001, .function = 0}, {0});
    auto rootOnly = AWAIT(std::vector<HIDPPFeatureRecord>, discoverFeatures(nullptr, std::move(done)));
    ASSERT_TRUE(rootOnly.has_value());
    ASSERT_EQ(rootOnly->size(), 1u);
    EXPECT_EQ(rootOnly->front().id, 0x0000);

    mouse->replyNextWith({.featureID = 0x0001, .function = 0}, {});
    EXPECT_EQ(AWAIT(std::vector<HIDPPFeatureRecord>, discoverFeatures(nullptr, std::move(done))),
              std::unexpected(malformed("getCount reply empty")));
    mouse->replyNextWith({.featureID = 0x0001, .function = 1}, {0x00, 0x00, 0x00});
    EXPECT_EQ(AWAIT(std::vector<HIDPPFeatureRecord>, discoverFeatures(nullptr, std::move(done))),
              std::unexpected(malformed("getFeatureID reply too short")));
}

TEST_P(HIDPPDeviceOperationsTests, DiscoveryFindsTheFeatureSetThroughTheRoot) {
    const SimulatedMouse::RequestMatch getFeature{.featureID = 0x0000, .function = 0};
    auto connectOnce = [&] {
        return rig.await<void>([&](HIDPPCompletion<void> done) { device->connect(nullptr, std::move(done)); });
    };
    mouse->replyNextWith(getFeature, {0, 0, 0});
    EXPECT_EQ(connectOnce(), std::unexpected(HIDPPError::featureUnsupported(HIDPPFeature::featureSet)));
    mouse->replyNextWith(getFeature, {1, 0});
    EXPECT_EQ(connectOnce(), std::unexpected(malformed("getFeature reply too short")));
    mouse->replyNextWith({.featureID = 0x0001, .function = 1}, {0x00});
    EXPECT_EQ(connectOnce(), std::unexpected(malformed("getFeatureID reply too short")));
    EXPECT_FALSE(device->identity().has_value());
    EXPECT_FALSE(device->isConnected());

    // A good connection: ping, one root look-up, the count, then each entry in order.
    mouse->clearReceivedRequests();
    ASSERT_TRUE(connectOnce().has_value());
    const auto requests = mouse->receivedRequests();
    const std::size_t entries = mouse->featureTable().size();
    ASSERT_EQ(requests.size(), 3 + entries);
    EXPECT_EQ(requests[0].function, 1);
    EXPECT_EQ(requests[1].featureID, 0x0000);
    EXPECT_EQ(HIDPPBytes(requests[1].parameters.begin(), requests[1].parameters.begin() + 3), (HIDPPBytes{0x00, 0x01, 0x00}));
    EXPECT_EQ(requests[2].featureID, 0x0001);
    EXPECT_EQ(requests[2].function, 0);
    for (std::size_t i = 0; i < entries; ++i) {
        EXPECT_EQ(requests[3 + i].function, 1);
        EXPECT_EQ(requests[3 + i].parameters[0], i);
        EXPECT_FALSE(requests[3 + i].isLong);
    }
}

// ---- Typed operations ----

TEST_P(HIDPPDeviceOperationsTests, DeviceInformationAndName) {
    connect();
    auto info = AWAIT(HIDPPDeviceInformation, deviceInformation(nullptr, std::move(done)));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->description(), "entities=3 unitID=1A2B3C4D transports=[USB] modelIDs=C09900000000");
    EXPECT_TRUE(lastRequest(0x0003, 0).isLong);
    mouse->replyNextWith({.featureID = 0x0003, .function = 0}, HIDPPBytes(12, 1));
    EXPECT_EQ(AWAIT(HIDPPDeviceInformation, deviceInformation(nullptr, std::move(done))),
              std::unexpected(malformed("getDeviceInfo reply too short")));

    EXPECT_EQ(AWAIT(std::string, deviceName(nullptr, std::move(done))), "G502 X");

    // 20 characters: chunks at 0 and 16, 20 of the 32 bytes kept, cut at a zero.
    mouse->clearReceivedRequests();
    mouse->setName("G502 X LIGHTSPEED AB");
    EXPECT_EQ(AWAIT(std::string, deviceName(nullptr, std::move(done))), "G502 X LIGHTSPEED AB");
    std::vector<std::uint8_t> offsets;
    for (const auto& r : mouse->receivedRequests())
        if (r.featureID == 0x0005 && r.function == 1) offsets.push_back(r.parameters[0]);
    EXPECT_EQ(offsets, (std::vector<std::uint8_t>{0, 16}));
    mouse->replyNextWith({.featureID = 0x0005, .function = 1}, {'G', '5', 0, 'X', 'Y'});
    EXPECT_EQ(AWAIT(std::string, deviceName(nullptr, std::move(done))), "G5");
    mouse->replyNextWith({.featureID = 0x0005, .function = 1}, {'M', 0xC3, 0x28, 'x', 0xE2, 0x82});
    mouse->replyNextWith({.featureID = 0x0005, .function = 1}, {});
    EXPECT_EQ(AWAIT(std::string, deviceName(nullptr, std::move(done))), "M\xEF\xBF\xBD(x\xEF\xBF\xBD");
    mouse->replyNextWith({.featureID = 0x0005, .function = 0}, {0});
    EXPECT_EQ(AWAIT(std::string, deviceName(nullptr, std::move(done))), std::unexpected(malformed("getDeviceNameCount reply empty")));
}

TEST_P(HIDPPDeviceOperationsTests, SensorsAndDPI) {
    connect();
    EXPECT_EQ(AWAIT(std::int64_t, sensorCount(nullptr, std::move(done))), 1);
    EXPECT_EQ(AWAIT(HIDPPDPIRange, dpiRange(0, nullptr, std::move(done))), HIDPPDPIRange::range(100, 25600, 50));
    EXPECT_EQ(AWAIT(HIDPPDPIState, dpi(0, nullptr, std::move(done))), (HIDPPDPIState{0, 1600, 1600}));

    // Set, then read back: the value the device runs at.
    EXPECT_EQ(AWAIT(std::int64_t, setDPI(3200, 0, nullptr, std::move(done))), 3200);
    EXPECT_EQ(mouse->currentDPI(), 3200);
    const auto write = lastRequest(0x2201, 3);
    EXPECT_TRUE(write.isLong);
    EXPECT_EQ(HIDPPBytes(write.parameters.begin(), write.parameters.begin() + 3), (HIDPPBytes{0, 0x0C, 0x80}));
    // Normalised before writing: 0 becomes the minimum, 1024 the nearest step.
    EXPECT_EQ(AWAIT(std::int64_t, setDPI(0, 0, nullptr, std::move(done))), 100);
    EXPECT_EQ(AWAIT(std::int64_t, setDPI(1024, 0, nullptr, std::move(done))), 1000);
    EXPECT_EQ(AWAIT(std::int64_t, setDPI(90000, 0, nullptr, std::move(done))), 25600);

    // The device refuses: its error, and nothing changes.
    mouse->failNext({.featureID = 0x2201, .function = 3}, 0x02);
    EXPECT_EQ(AWAIT(std::int64_t, setDPI(800, 0, nullptr, std::move(done))),
              std::unexpected(HIDPPError::protocol20(HIDPP20ErrorCode::invalidArgument)));
    EXPECT_EQ(mouse->currentDPI(), 25600);
    // A sensor the mouse does not have.
    EXPECT_EQ(AWAIT(HIDPPDPIState, dpi(3, nullptr, std::move(done))),
              std::unexpected(HIDPPError::protocol20(HIDPP20ErrorCode::invalidArgument)));

    mouse->replyNextWith({.featureID = 0x2201, .function = 2}, {0, 1, 2, 3});
    EXPECT_EQ(AWAIT(HIDPPDPIState, dpi(0, nullptr, std::move(done))), std::unexpected(malformed("getSensorDpi reply too short")));
    mouse->replyNextWith({.featureID = 0x2201, .function = 0}, {});
    EXPECT_EQ(AWAIT(std::int64_t, sensorCount(nullptr, std::move(done))), std::unexpected(malformed("getSensorCount reply empty")));

    // A list-type sensor.
    mouse->setDPIList({400, 800, 1600});
    EXPECT_EQ(AWAIT(HIDPPDPIRange, dpiRange(0, nullptr, std::move(done))), HIDPPDPIRange::list({400, 800, 1600}));
    EXPECT_EQ(AWAIT(std::int64_t, setDPI(601, 0, nullptr, std::move(done))), 800);
}

TEST(HIDPPDPIListDecoding, RangesListsAndMarkersAtTheEdges) {
    auto payload = [](HIDPPBytes words) {
        words.insert(words.begin(), 0);
        words.resize(16, 0);
        return words;
    };
    EXPECT_EQ(decodeDPIList(payload({0x00, 0xC8, 0xE0, 0x32, 0x61, 0xA8})), HIDPPDPIRange::range(200, 25000, 50));
    EXPECT_EQ(decodeDPIList(payload({0x01, 0x90, 0x03, 0x20, 0x06, 0x40})), HIDPPDPIRange::list({400, 800, 1600}));
    EXPECT_EQ(decodeDPIList(payload({0xE0, 0x32, 0x01, 0x90})), HIDPPDPIRange::list({0xE032, 0x0190}));
    EXPECT_EQ(decodeDPIList(payload({0x01, 0x90, 0xE0, 0x32})), HIDPPDPIRange::list({0x0190, 0xE032}));
    EXPECT_EQ(decodeDPIList(payload({0x00, 0x00, 0x01, 0x90})), std::unexpected(malformed("empty DPI list")));
    EXPECT_EQ(decodeDPIList({0, 1}), std::unexpected(malformed("getSensorDpiList reply too short")));
    // Seven words at most in a long reply; a pair cut by the end is not read.
    HIDPPBytes full(16, 0x01);
    EXPECT_EQ(std::get<HIDPPDPIRange::List>(decodeDPIList(full)->value).values.size(), 7u);
}

TEST_P(HIDPPDeviceOperationsTests, ReportRate) {
    connect();
    auto info = AWAIT(HIDPPReportRateInfo, reportRate(nullptr, std::move(done)));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->description(), "current=1000 Hz (1 ms) supported=[1000Hz/500Hz/250Hz/125Hz] bitmap=0x8B");

    EXPECT_TRUE(AWAIT(void, setReportRate(HIDPPReportRate(8), nullptr, std::move(done))).has_value());
    EXPECT_EQ(mouse->reportIntervalMilliseconds(), 8);
    EXPECT_TRUE(lastRequest(0x8060, 2).isLong);

    const auto refused = AWAIT(void, setReportRate(HIDPPReportRate(3), nullptr, std::move(done)));
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().description(), "invalid argument: report rate 333 Hz (3 ms) is not supported (bitmap 0x8B)");
    mouse->setReportRateBitmap(0x0B);
    EXPECT_EQ(AWAIT(void, setReportRate(HIDPPReportRate(8), nullptr, std::move(done))).error(),
              HIDPPError::invalidArgument("report rate 125 Hz (8 ms) is not supported (bitmap 0x0B)"));
    EXPECT_EQ(mouse->requestCount(0x8060, 2), 1u); // only the accepted write

    mouse->replyNextWith({.featureID = 0x8060, .function = 1}, {});
    EXPECT_EQ(AWAIT(HIDPPReportRateInfo, reportRate(nullptr, std::move(done))), std::unexpected(malformed("getReportRate reply empty")));
    mouse->replyNextWith({.featureID = 0x8060, .function = 0}, {});
    EXPECT_EQ(AWAIT(HIDPPReportRateInfo, reportRate(nullptr, std::move(done))), std::unexpected(malformed("getReportRateList reply empty")));
}

TEST_P(HIDPPDeviceOperationsTests, WheelModeCapabilityAndRatchet) {
    connect();
    auto capability = AWAIT(HIDPPWheelCapability, wheelCapability(nullptr, std::move(done)));
    ASSERT_TRUE(capability.has_value());
    EXPECT_EQ(capability->description(), "multiplier=8 hasInvert=true hasRatchetSwitch=true flags=0x0C");
    EXPECT_EQ(AWAIT(HIDPPWheelMode, wheelMode(nullptr, std::move(done))), HIDPPWheelMode(false, false, false));

    EXPECT_TRUE(AWAIT(void, setWheelMode(HIDPPWheelMode(true, false, true), nullptr, std::move(done))).has_value());
    EXPECT_EQ(mouse->wheelMode(), 0x05);
    EXPECT_EQ(AWAIT(HIDPPWheelMode, setWheelHighResolution(true, nullptr, std::move(done))), HIDPPWheelMode(true, true, true));
    EXPECT_EQ(mouse->wheelMode(), 0x07);

    // Already on: one read, no write.
    mouse->clearReceivedRequests();
    EXPECT_EQ(AWAIT(HIDPPWheelMode, setWheelHighResolution(true, nullptr, std::move(done))), HIDPPWheelMode(true, true, true));
    EXPECT_EQ(mouse->receivedRequests().size(), 1u);

    EXPECT_EQ(AWAIT(HIDPPRatchetState, ratchetState(nullptr, std::move(done))), HIDPPRatchetState::ratchet);
    mouse->replyNextWith({.featureID = 0x2121, .function = 3}, {2});
    EXPECT_EQ(AWAIT(HIDPPRatchetState, ratchetState(nullptr, std::move(done))), HIDPPRatchetState::freeSpin);
    mouse->replyNextWith({.featureID = 0x2121, .function = 0}, {8});
    EXPECT_EQ(AWAIT(HIDPPWheelCapability, wheelCapability(nullptr, std::move(done))),
              std::unexpected(malformed("getWheelCapability reply too short")));
    mouse->replyNextWith({.featureID = 0x2121, .function = 1}, {});
    EXPECT_EQ(AWAIT(HIDPPWheelMode, wheelMode(nullptr, std::move(done))), std::unexpected(malformed("getWheelMode reply empty")));
    mouse->replyNextWith({.featureID = 0x2121, .function = 3}, {});
    EXPECT_EQ(AWAIT(HIDPPRatchetState, ratchetState(nullptr, std::move(done))),
              std::unexpected(malformed("getRatchetSwitchState reply empty")));
}

TEST_P(HIDPPDeviceOperationsTests, OnboardProfiles) {
    connect();
    auto descriptor = AWAIT(HIDPPOnboardProfilesDescriptor, onboardProfilesDescriptor(nullptr, std::move(done)));
    ASSERT_TRUE(descriptor.has_value());
    EXPECT_EQ(descriptor->description(),
              "memModel=1 profileFmt=4 macroFmt=1 profiles=5 oob=1 buttons=13 sectors=16 sectorSize=256 mechLayout=0x02 various=0x01");

    EXPECT_EQ(AWAIT(HIDPPOnboardMode, onboardMode(nullptr, std::move(done))), HIDPPOnboardMode::onboard);
    EXPECT_TRUE(AWAIT(void, setOnboardMode(HIDPPOnboardMode::host, nullptr, std::move(done))).has_value());
    EXPECT_EQ(mouse->onboardMode(), 2);
    EXPECT_EQ(AWAIT(HIDPPOnboardMode, onboardMode(nullptr, std::move(done))), HIDPPOnboardMode::host);
    EXPECT_EQ(AWAIT(HIDPPCurrentProfile, currentProfile(nullptr, std::move(done))), (HIDPPCurrentProfile{0, 1}));

    auto memory = AWAIT(HIDPPBytes, readOnboardMemory(0x0002, 0x0010, nullptr, std::move(done)));
    ASSERT_TRUE(memory.has_value());
    ASSERT_EQ(memory->size(), 16u);
    EXPECT_EQ(memory->front(), mouse->memoryByte(2, 0x10));
    const auto read = lastRequest(0x8100, 5);
    EXPECT_TRUE(read.isLong);
    EXPECT_EQ(HIDPPBytes(read.parameters.begin(), read.parameters.begin() + 4), (HIDPPBytes{0x00, 0x02, 0x00, 0x10}));
    EXPECT_EQ(AWAIT(HIDPPBytes, readOnboardMemory(0x0102, 0x0010, nullptr, std::move(done))),
              std::unexpected(HIDPPError::protocol20(HIDPP20ErrorCode::invalidArgument)));
    const auto farRead = lastRequest(0x8100, 5);
    EXPECT_EQ(HIDPPBytes(farRead.parameters.begin(), farRead.parameters.begin() + 4), (HIDPPBytes{0x01, 0x02, 0x00, 0x10}));

    mouse->replyNextWith({.featureID = 0x8100, .function = 2}, {3});
    EXPECT_EQ(AWAIT(HIDPPOnboardMode, onboardMode(nullptr, std::move(done))),
              std::unexpected(malformed("getOnboardMode returned an unknown mode")));
    mouse->replyNextWith({.featureID = 0x8100, .function = 2}, {});
    EXPECT_EQ(AWAIT(HIDPPOnboardMode, onboardMode(nullptr, std::move(done))),
              std::unexpected(malformed("getOnboardMode returned an unknown mode")));
    mouse->replyNextWith({.featureID = 0x8100, .function = 0}, HIDPPBytes(10, 0));
    EXPECT_EQ(AWAIT(HIDPPOnboardProfilesDescriptor, onboardProfilesDescriptor(nullptr, std::move(done))),
              std::unexpected(malformed("getOnboardProfilesDesc reply too short")));
    mouse->replyNextWith({.featureID = 0x8100, .function = 4}, {0});
    EXPECT_EQ(AWAIT(HIDPPCurrentProfile, currentProfile(nullptr, std::move(done))),
              std::unexpected(malformed("getCurrentProfile reply too short")));
    mouse->replyNextWith({.featureID = 0x8100, .function = 5}, HIDPPBytes(15, 0));
    EXPECT_EQ(AWAIT(HIDPPBytes, readOnboardMemory(0, 0, nullptr, std::move(done))),
              std::unexpected(malformed("memoryRead reply too short")));
}

TEST_P(HIDPPDeviceOperationsTests, CompletionsRunOnTheCallersExecutor) {
    connect();
    auto caller = rig.makeExecutor("test.caller");
    auto onCaller = rig.await<bool>([&](auto done) {
        device->dpi(0, caller, [caller, done = std::move(done)](HIDPPResult<HIDPPDPIState> r) mutable {
            done(r.has_value() && caller->isCurrent());
        });
    });
    EXPECT_EQ(onCaller, true);
}

// A USB transfer the mouse does not take holds its writer for seconds: the
// process's first thread, the window's, asks but never writes itself, even
// when the device's queue and the HID thread are idle and lend it their turn.
TEST(HIDPPDeviceThreads, TheProcesssFirstThreadNeverWritesToTheMouse) {
    ASSERT_EQ(::gettid(), ::getpid()) << "the test runs on the process's first thread";
    DeviceRig rig(RigMode::threads);
    // As the program makes it: the HID thread writes the reports itself, with no send queue.
    rig.device = HIDPPDevice::create(HIDPPDeviceMatch::g502X, HIDPPEnvironment{rig.bus, HIDPPRunLoop::shared().runLoop(), nullptr},
                                     makeSerialQueue("ai.ravolet.hidpp.device"));
    ASSERT_TRUE(rig.await<void>([&](auto done) { rig.device->connect(nullptr, std::move(done)); }).has_value());
    rig.mouse->clearReceivedRequests();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(rig.await<HIDPPProtocolVersion>([&](auto done) { rig.device->ping(nullptr, std::move(done)); }));
    }
    const auto requests = rig.mouse->receivedRequests();
    ASSERT_EQ(requests.size(), 20u);
    for (const auto& request : requests) EXPECT_NE(request.writer, std::this_thread::get_id());
}

INSTANTIATE_TEST_SUITE_P(, HIDPPDeviceOperationsTests, ::testing::Values(RigMode::virtualTime, RigMode::threads), rigModeName);

#include <gtest/gtest.h>

#include <unordered_set>

#include "HIDPlusPlus/HIDPPValueTypes.hpp"

using namespace ravolet;

TEST(HIDPPDeviceMatch, DescriptionEqualityAndHash) {
    EXPECT_EQ(HIDPPDeviceMatch::g502X.description(), "046D:C099");
    EXPECT_EQ((HIDPPDeviceMatch{0x12, 0x3}).description(), "0012:0003");
    EXPECT_EQ((HIDPPDeviceMatch{0x12345, 0xABCDEF}).description(), "12345:ABCDEF");
    HIDPPDeviceMatch built;
    built.vendorID = 0x046D;
    built.productID = 0xC099;
    EXPECT_EQ(built, HIDPPDeviceMatch::g502X);
    EXPECT_EQ(std::hash<HIDPPDeviceMatch>{}(built), std::hash<HIDPPDeviceMatch>{}(HIDPPDeviceMatch::g502X));
    EXPECT_NE((HIDPPDeviceMatch{0xC099, 0x046D}), HIDPPDeviceMatch::g502X);
}

TEST(HIDPPDeviceIdentity, CarriesHIDPPAndDescription) {
    HIDPPDeviceIdentity identity;
    identity.vendorID = 0x046D;
    identity.productID = 0xC099;
    identity.primaryUsagePage = 1;
    identity.primaryUsage = 2;
    identity.maxInputReportSize = 20;
    identity.maxOutputReportSize = 20;
    identity.usagePairs = {{1, 2}, {0xFF00, 1}};
    EXPECT_TRUE(identity.carriesHIDPP());
    EXPECT_EQ(identity.description(), "046D:C099 ? usage=01:02 maxIn=20 maxOut=20 pairs=[01:02,FF00:01]");
    EXPECT_EQ(HIDPPConnectionState::connected(identity).description(), "connected(?)");

    identity.product = "G502 X";
    EXPECT_EQ(HIDPPConnectionState::connected(identity).description(), "connected(G502 X)");
    identity.maxOutputReportSize = 19;
    EXPECT_FALSE(identity.carriesHIDPP());
    identity.maxOutputReportSize = 64;
    identity.usagePairs = {{1, 2}};
    identity.primaryUsagePage = 0xFF00;  // the primary usage plays no part
    EXPECT_FALSE(identity.carriesHIDPP());
}

TEST(HIDPPValueTypes, ProtocolTransportsAndInformation) {
    EXPECT_EQ((HIDPPProtocolVersion{4, 2}).description(), "HID++ 4.2");
    EXPECT_LT((HIDPPProtocolVersion{2, 9}), (HIDPPProtocolVersion{4, 0}));
    EXPECT_LT((HIDPPProtocolVersion{4, 0}), (HIDPPProtocolVersion{4, 2}));
    EXPECT_EQ(HIDPPTransports(0x0009).description(), "Bluetooth,USB");
    EXPECT_EQ(HIDPPTransports(0x000F).description(), "Bluetooth,BLE,eQuad,USB");
    EXPECT_EQ(HIDPPTransports(0x0010).description(), "-");

    HIDPPDeviceInformation info{3, {0x0A, 0x1B, 0xC2, 0x03}, HIDPPTransports::usb, {0xC0, 0x99, 0x00}};
    EXPECT_EQ(info.unitIDHex(), "0A1BC203");
    EXPECT_EQ(info.description(), "entities=3 unitID=0A1BC203 transports=[USB] modelIDs=C09900");
    EXPECT_EQ((HIDPPDeviceInformation{}).description(), "entities=0 unitID= transports=[-] modelIDs=");
}

TEST(HIDPPDPIRange, RangeNormalizationSnapsHalvesUpAndHonoursTheMaximum) {
    const auto r = HIDPPDPIRange::range(100, 8000, 50);
    EXPECT_EQ(r.normalize(1024), 1000);
    EXPECT_EQ(r.normalize(1025), 1050);
    EXPECT_EQ(r.normalize(50), 100);
    EXPECT_EQ(r.normalize(9000), 8000);
    EXPECT_TRUE(r.contains(1600));
    EXPECT_FALSE(r.contains(1610));
    EXPECT_EQ(r.description(), "100\u20268000 step 50");

    const auto offGrid = HIDPPDPIRange::range(100, 1060, 100);
    EXPECT_EQ(offGrid.normalize(1055), 1060);
    EXPECT_EQ(offGrid.normalize(1049), 1000);
    const auto unreachable = HIDPPDPIRange::range(100, 1010, 100);
    EXPECT_EQ(unreachable.normalize(2000), 1000);
    EXPECT_FALSE(unreachable.contains(1010));

    EXPECT_EQ(HIDPPDPIRange::range(100, 200, 0).normalize(157), 157);
    EXPECT_EQ(HIDPPDPIRange::range(100, 200, 1).normalize(250), 200);
    EXPECT_EQ(HIDPPDPIRange::range(100, 200, 50).normalize(INT64_MIN), 100);
    EXPECT_EQ(HIDPPDPIRange::range(INT64_MIN, INT64_MAX, INT64_MAX).normalize(0), -1);
}

// Ranges as wide as 64 bits allow: half a step added to the distance from the
// minimum, or the grid point above it, lies past 64 bits.
TEST(HIDPPDPIRange, RangeNormalizationIsExactAtTheEdgesOf64Bits) {
    struct Case {
        std::int64_t minimum, maximum, step, dpi, expected;
    };
    const Case cases[] = {
        {INT64_MIN, INT64_MAX, 1000, INT64_MAX, INT64_MAX},
        {INT64_MIN, INT64_MAX, 1000, INT64_MAX - 600, INT64_MAX - 615},
        {INT64_MIN, INT64_MAX, 1000, INT64_MIN, INT64_MIN},
        {INT64_MIN, INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX - 1},
        {INT64_MIN, INT64_MAX, 2, INT64_MAX, INT64_MAX},
        {-5, INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX - 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HIDPPDPIRange::range(c.minimum, c.maximum, c.step).normalize(c.dpi), c.expected)
            << c.minimum << "..." << c.maximum << " step " << c.step << ", dpi " << c.dpi;
    }
}

TEST(HIDPPDPIRange, ListNormalizationPrefersTheFirstOfEquallyNear) {
    const auto l = HIDPPDPIRange::list({400, 800, 1600});
    EXPECT_EQ(l.normalize(600), 400);
    EXPECT_EQ(l.normalize(601), 800);
    EXPECT_EQ(l.minimum(), 400);
    EXPECT_EQ(l.maximum(), 1600);
    EXPECT_EQ(l.description(), "400, 800, 1600");
    const auto empty = HIDPPDPIRange::list({});
    EXPECT_EQ(empty.normalize(1234), 1234);
    EXPECT_TRUE(empty.contains(-5));
    EXPECT_EQ(empty.minimum(), 0);
    EXPECT_EQ(empty.maximum(), 0);
    EXPECT_EQ(HIDPPDPIRange::list({900}).normalize(1), 900);
    EXPECT_NE(HIDPPDPIRange::list({100, 200}), HIDPPDPIRange::range(100, 200, 100));
    EXPECT_EQ((HIDPPDPIState{1, 1600, 1000}).description(), "current=1600 default=1000 sensor=1");
}

TEST(HIDPPValueTypes, ReportRates) {
    for (int hz : {1000, 500, 250, 200, 125}) EXPECT_EQ(HIDPPReportRate::fromHertz(hz)->hertz(), hz);
    EXPECT_EQ(HIDPPReportRate::fromHertz(333), std::nullopt);
    EXPECT_EQ(HIDPPReportRate::fromHertz(3), std::nullopt);
    EXPECT_EQ(HIDPPReportRate::fromHertz(0), std::nullopt);
    EXPECT_EQ(HIDPPReportRate::fromHertz(-5), std::nullopt);
    EXPECT_EQ(HIDPPReportRate(0).hertz(), 0);
    EXPECT_EQ(HIDPPReportRate(3).hertz(), 333);
    EXPECT_EQ(HIDPPReportRate(1).description(), "1000 Hz (1 ms)");

    const HIDPPReportRateInfo info{0x8B, HIDPPReportRate(1)};
    EXPECT_EQ(info.description(), "current=1000 Hz (1 ms) supported=[1000Hz/500Hz/250Hz/125Hz] bitmap=0x8B");
    EXPECT_EQ(info.supported().front(), HIDPPReportRate(1));
    EXPECT_EQ((HIDPPReportRateInfo{0, HIDPPReportRate(8)}).description(), "current=125 Hz (8 ms) supported=[] bitmap=0x00");
}

TEST(HIDPPValueTypes, WheelAndOnboardProfiles) {
    const HIDPPWheelCapability cap(8, 0x0C);
    EXPECT_TRUE(cap.hasInvert);
    EXPECT_TRUE(cap.hasRatchetSwitch);
    EXPECT_EQ(cap.description(), "multiplier=8 hasInvert=true hasRatchetSwitch=true flags=0x0C");
    EXPECT_EQ(HIDPPWheelCapability(1, 0x08).description(), "multiplier=1 hasInvert=true hasRatchetSwitch=false flags=0x08");

    const auto all = HIDPPWheelMode::fromRawValue(0x07);
    EXPECT_TRUE(all.target && all.highResolution && all.inverted);
    EXPECT_EQ(all.rawValue(), 0x07);
    EXPECT_EQ(HIDPPWheelMode::fromRawValue(0xF8).rawValue(), 0);
    EXPECT_EQ(all.description(), "target=HID++ events hiRes=true inverted=true");
    EXPECT_EQ(HIDPPWheelMode(false, true, false).description(), "target=plain HID wheel hiRes=true inverted=false");

    EXPECT_EQ(hidppRatchetState(2), std::nullopt);
    EXPECT_EQ(description(*hidppRatchetState(0)), "free-spin");
    EXPECT_EQ(description(*hidppRatchetState(1)), "ratchet (engaged)");
    EXPECT_EQ(hidppOnboardMode(0), std::nullopt);
    EXPECT_EQ(hidppOnboardMode(3), std::nullopt);
    EXPECT_EQ(description(*hidppOnboardMode(1)), "ONBOARD (device-driven)");
    EXPECT_EQ(description(*hidppOnboardMode(2)), "HOST (software-driven)");

    const HIDPPOnboardProfilesDescriptor d{1, 4, 1, 5, 0, 13, 16, 255, 0x02, 0x1F};
    EXPECT_EQ(d.description(),
              "memModel=1 profileFmt=4 macroFmt=1 profiles=5 oob=0 buttons=13 sectors=16 sectorSize=255 mechLayout=0x02 various=0x1F");
    EXPECT_EQ((HIDPPCurrentProfile{0, 1}).description(), "page=0 index=1");
}

TEST(HIDPPValueTypes, StatisticsStatesEventsAndAccess) {
    const HIDPPTransportStatistics s{3, 2, 1, 4, 5, 2};
    EXPECT_EQ(s.description(), "sent=3 matched=2 staleDropped=1 unmatchedDropped=4 events=5 peakQueue=2");
    EXPECT_EQ(HIDPPConnectionState::disconnected().description(), "disconnected");
    EXPECT_EQ(HIDPPConnectionState::notPermitted().description(), "notPermitted");
    EXPECT_FALSE(HIDPPConnectionState::notPermitted().isConnected());
    EXPECT_TRUE(HIDPPConnectionState::connected({}).isConnected());

    HIDPPDeviceIdentity named;
    named.product = "G502 X";
    EXPECT_EQ(HIDPPEvent::deviceAttached(named).description(), "deviceAttached(G502 X)");
    EXPECT_EQ(HIDPPEvent::deviceReady({}).description(), "deviceReady(?)");
    EXPECT_EQ(HIDPPEvent::stateChanged(HIDPPConnectionState::disconnected()).description(), "stateChanged(disconnected)");
    EXPECT_EQ(HIDPPEvent::notification(0x05, 0x00, {0x01, 0xAB, 0xFF}).description(), "notification(feature 0x05 fn 0x00 01 AB FF)");
    EXPECT_EQ(HIDPPEvent::deviceRemoved().description(), "deviceRemoved");

    EXPECT_EQ(description(HIDPPInputMonitoringAccess::granted), "granted");
    EXPECT_EQ(description(HIDPPInputMonitoringAccess::denied), "denied");
    EXPECT_EQ(description(HIDPPInputMonitoringAccess::unknown), "unknown (never requested)");

    std::unordered_set<HIDPPEvent> events{HIDPPEvent::deviceRemoved(), HIDPPEvent::deviceRemoved(), HIDPPEvent::deviceReady(named),
                                          HIDPPEvent::deviceAttached(named), HIDPPEvent::notification(1, 2, {3})};
    EXPECT_EQ(events.size(), 4u);
    std::unordered_set<HIDPPConnectionState> states{HIDPPConnectionState::connected(named), HIDPPConnectionState::connected({}),
                                                    HIDPPConnectionState::connected(named)};
    EXPECT_EQ(states.size(), 2u);
}

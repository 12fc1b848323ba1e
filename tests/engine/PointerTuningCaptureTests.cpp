#include <gtest/gtest.h>

#include "RavoletEngine/Coordination/PointerServiceIdentity.hpp"
#include "RavoletEngine/Coordination/PointerTuningCapture.hpp"
#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"

using namespace ravolet;
using namespace std::chrono;

namespace {

constexpr sys_seconds march1 = sys_days{year{2025} / 3 / 1} + hours{9} + minutes{30};

PointerTuningCapture fullCapture() {
    return PointerTuningCapture{1, PointerServiceIdentity{4096, 1133, 49305, "USB Receiver", 1, 2}, "HIDMouseAcceleration",
                                26214400, 45056, march1};
}

} // namespace

TEST(PointerServiceIdentityTest, LabelCollectionAndMatch) {
    using Identity = PointerServiceIdentity;
    const std::vector<std::tuple<Identity, std::string, bool, bool>> cases{
        {Identity{4096, 1133, 49305, "USB Receiver", 1, 2}, "USB Receiver [0x046D:0xC099] usage 1/2 registry 0x1000", true,
         true},
        {Identity{0xFFFFFFFFFFFFFFFF}, "(unnamed) [?:?] usage -1/-1 registry 0xFFFFFFFFFFFFFFFF", false, false},
        {Identity{7, 0x1D, 0x12345, std::nullopt, 1}, "(unnamed) [0x001D:0x12345] usage 1/-1 registry 0x7", false, false},
        {Identity{8, std::nullopt, 0xC099, "M", std::nullopt, 2}, "M [?:0xC099] usage -1/2 registry 0x8", false, false},
        {Identity{9, 0x046D, 0xC099, "G502 X", 1, 6}, "G502 X [0x046D:0xC099] usage 1/6 registry 0x9", false, true},
    };
    for (const auto& [identity, label, pointerCollection, matchesG502X] : cases) {
        EXPECT_EQ(identity.label(), label);
        EXPECT_EQ(identity.isPointerCollection(), pointerCollection) << label;
        EXPECT_EQ(identity.matches(HIDPPDeviceMatch::g502X), matchesG502X) << label;
    }
}

TEST(PointerTuningCaptureTest, TheFileHasSortedKeysAndLeavesAbsentValuesOut) {
    EXPECT_EQ(*fullCapture().encoded(), R"({
  "acceleration": 45056,
  "accelerationKey": "HIDMouseAcceleration",
  "capturedAt": "2025-03-01T09:30:00Z",
  "resolution": 26214400,
  "schema": 1,
  "service": {
    "primaryUsage": 2,
    "primaryUsagePage": 1,
    "product": "USB Receiver",
    "productID": 49305,
    "registryID": 4096,
    "vendorID": 1133
  }
})");
    const PointerTuningCapture bare{1, PointerServiceIdentity{18446744073709551615u}, "HIDMouseAcceleration",
                                    std::nullopt, std::nullopt, march1};
    EXPECT_EQ(*bare.encoded(), R"({
  "accelerationKey": "HIDMouseAcceleration",
  "capturedAt": "2025-03-01T09:30:00Z",
  "schema": 1,
  "service": {
    "registryID": 18446744073709551615
  }
})");
    for (const auto& capture : {fullCapture(), bare}) EXPECT_EQ(PointerTuningCapture::decoded(*capture.encoded()), capture);
    EXPECT_EQ(fullCapture().resolutionCPI(), 400.0);
    EXPECT_EQ(bare.accelerationValue(), std::nullopt);
}

TEST(PointerTuningCaptureTest, TamperedFilesAreUnreadable) {
    const auto good = fullCapture().toJson().value();
    const std::vector<std::pair<std::string, std::function<void(Json&)>>> tamperings{
        {"registryID float", [](Json& j) { j["service"]["registryID"] = 4096.0; }},
        {"registryID negative", [](Json& j) { j["service"]["registryID"] = -1; }},
        {"registryID string", [](Json& j) { j["service"]["registryID"] = "4096"; }},
        {"registryID missing", [](Json& j) { j["service"].erase("registryID"); }},
        {"vendorID float", [](Json& j) { j["service"]["vendorID"] = 1133.0; }},
        {"product number", [](Json& j) { j["service"]["product"] = 5; }},
        {"service array", [](Json& j) { j["service"] = Json::array(); }},
        {"resolution float", [](Json& j) { j["resolution"] = 26214400.5; }},
        {"acceleration string", [](Json& j) { j["acceleration"] = "45056"; }},
        {"schema missing", [](Json& j) { j.erase("schema"); }},
        {"accelerationKey missing", [](Json& j) { j.erase("accelerationKey"); }},
        {"date missing", [](Json& j) { j.erase("capturedAt"); }},
        {"date number", [](Json& j) { j["capturedAt"] = 1740821400; }},
    };
    for (const auto& [name, tamper] : tamperings) {
        Json json = good;
        tamper(json);
        EXPECT_FALSE(PointerTuningCapture::decoded(json.dump())) << name;
    }
    EXPECT_FALSE(PointerTuningCapture::decoded(R"({"service": {"registryID": 18446744073709551616}})"));
    Json extra = good;
    extra["comment"] = "ignored";
    EXPECT_EQ(PointerTuningCapture::decoded(extra.dump()), fullCapture());
}

TEST(PointerTuningCaptureTest, OnlyWholeSecondUTCDatesAreRead) {
    for (const char* bad : {"2025-03-01T09:30:00.5Z", "2025-03-01T09:30:00+01:00", "2025-03-01T09:30:00", "2025-02-29T00:00:00Z",
                            "2025-13-01T00:00:00Z", "2025-03-01T24:00:00Z", "2025-03-01T09:60:00Z", "2025-03-01t09:30:00z",
                            "2025-3-01T09:30:00Z", "+025-03-01T09:30:00Z", ""}) {
        EXPECT_EQ(parseInternetDateTime(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(parseInternetDateTime("2024-02-29T23:59:59Z"), sys_days{year{2024} / 2 / 29} + hours{23} + minutes{59} + seconds{59});
    EXPECT_EQ(parseInternetDateTime("1969-12-31T23:59:59Z"), sys_seconds{seconds{-1}});
    EXPECT_EQ(internetDateTime(sys_seconds{seconds{-1}}), "1969-12-31T23:59:59Z");
    EXPECT_EQ(internetDateTime(sys_days{year{10000} / 1 / 1}), std::nullopt);
    auto farFuture = fullCapture();
    farFuture.capturedAt = sys_days{year{10000} / 1 / 1};
    EXPECT_FALSE(farFuture.encoded()); // refused rather than written unreadable
}

TEST(PointerTuningStatusTest, DerivedValues) {
    PointerTuningStatus status;
    EXPECT_EQ(status.overestimateFactor(), std::nullopt);
    status.capture = fullCapture();
    status.appliedResolution = 1600 * 65536;
    EXPECT_EQ(status.appliedResolutionCPI(), 1600.0);
    EXPECT_EQ(status.overestimateFactor(), 4.0);
    status.capture->resolution = 0;
    EXPECT_EQ(status.overestimateFactor(), std::nullopt);

    status.lastReadBackAcceleration = -65536;
    EXPECT_FALSE(status.accelerationIsLinearised()); // not applied
    status.isApplied = true;
    EXPECT_TRUE(status.accelerationIsLinearised());
    status.lastReadBackAcceleration = 0;
    EXPECT_FALSE(status.accelerationIsLinearised());
    auto other = status;
    EXPECT_EQ(std::hash<PointerTuningStatus>{}(other), std::hash<PointerTuningStatus>{}(status));
    other.restoreFailedKeys.push_back("HIDPointerResolution");
    EXPECT_NE(other, status);

    for (auto reason : {PointerTuningRestoreReason::engineStopped, PointerTuningRestoreReason::strandedCaptureRecovered})
        EXPECT_EQ(pointerTuningRestoreReasonFromString(toString(reason)), reason);
    EXPECT_EQ(pointerPropertyWriteFromString("registryEntry"), PointerPropertyWrite::registryEntry);
    EXPECT_EQ(pointerPropertyWriteFromString("Refused"), std::nullopt);
}

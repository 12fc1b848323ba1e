#include <gtest/gtest.h>

#include <unordered_set>

#include "HIDPlusPlus/HIDPPError.hpp"
#include "HIDPlusPlus/HIDPPFeatureRecord.hpp"
#include "Platform/IOReturn.hpp"

using namespace ravolet;
namespace pf = ravolet::platform;

TEST(HIDPPError, FixedTexts) {
    EXPECT_EQ(HIDPPError::deviceNotFound().description(), "no HID++ collection found for the requested device");
    EXPECT_EQ(HIDPPError::notPermitted().description(), "not permitted: Mouse Access is denied for this process");
    EXPECT_EQ(HIDPPError::notOpen().description(), "device is not open");
    EXPECT_EQ(HIDPPError::notConnected().description(), "not connected");
    EXPECT_EQ(HIDPPError::deviceRemoved().description(), "device was removed");
}

TEST(HIDPPError, TextsBuiltFromPayload) {
    EXPECT_EQ(HIDPPError::ioKit("IOHIDDeviceOpen", pf::kIOReturnExclusiveAccess).description(),
              "IOHIDDeviceOpen failed: 0xE00002C5 (kIOReturnExclusiveAccess)");
    EXPECT_EQ(HIDPPError::timeout("getFeature").description(), "getFeature timed out");
    EXPECT_EQ(HIDPPError::featureUnsupported(HIDPPFeature::adjustableDPI).description(),
              "feature 0x2201 AdjustableDPI is not supported by this device");
    EXPECT_EQ(HIDPPError::protocol20(HIDPP20ErrorCode(2)).description(), "HID++ 2.0 error 0x02 (invalidArgument)");
    EXPECT_EQ(HIDPPError::protocol10(9).description(), "HID++ 1.0 error 0x09");
    EXPECT_EQ(HIDPPError::malformedResponse("getDPI reply too short").description(), "malformed response: getDPI reply too short");
    EXPECT_EQ(HIDPPError::invalidArgument("dpi 0").description(), "invalid argument: dpi 0");
}

TEST(HIDPPError, ErrorCodeNames) {
    EXPECT_EQ(HIDPP20ErrorCode(5).description(), "0x05 (logitechInternal)");
    EXPECT_EQ(HIDPP20ErrorCode(42).description(), "0x2A (vendor/unassigned)");
    EXPECT_EQ(HIDPP20ErrorCode(7).name(), "invalidFunctionId");
    EXPECT_EQ(HIDPP20ErrorCode(10).name(), "invalidDeviceIndex");
    EXPECT_EQ(HIDPP20ErrorCode(11).name(), "vendor/unassigned");
    EXPECT_EQ(HIDPP20ErrorCode(0).name(), "noError");
}

TEST(HIDPPError, MapsIOReturnCodes) {
    EXPECT_EQ(HIDPPError::from(pf::kIOReturnNotPermitted, "op"), HIDPPError::notPermitted());
    EXPECT_EQ(HIDPPError::from(pf::kIOReturnNotPrivileged, "op"), HIDPPError::notPermitted());
    EXPECT_EQ(HIDPPError::from(pf::kIOReturnNotOpen, "op"), HIDPPError::notOpen());
    EXPECT_EQ(HIDPPError::from(pf::kIOReturnNoDevice, "op"), HIDPPError::deviceRemoved());
    EXPECT_EQ(HIDPPError::from(pf::kIOReturnNotAttached, "op"), HIDPPError::deviceRemoved());
    EXPECT_EQ(HIDPPError::from(pf::kIOReturnOffline, "op"), HIDPPError::deviceRemoved());
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnOffline), "0xE00002D7 (unknown)");
    const HIDPPError exclusive = HIDPPError::from(pf::kIOReturnExclusiveAccess, "IOHIDDeviceOpen");
    EXPECT_EQ(exclusive.kind(), HIDPPError::Kind::ioKit);
    EXPECT_EQ(exclusive.description(), "IOHIDDeviceOpen failed: 0xE00002C5 (kIOReturnExclusiveAccess)");

    EXPECT_EQ(HIDPPError::ioReturnDescription(0), "0x00000000 (kIOReturnSuccess)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnError), "0xE00002BC (kIOReturnError)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnTimeout), "0xE00002D6 (kIOReturnTimeout)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnBusy), "0xE00002D5 (kIOReturnBusy)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnBadArgument), "0xE00002C2 (kIOReturnBadArgument)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnUnsupported), "0xE00002C7 (kIOReturnUnsupported)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnNotAttached), "0xE00002D9 (kIOReturnNotAttached)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnNotPermitted), "0xE00002E2 (kIOReturnNotPermitted)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnNotPrivileged), "0xE00002C1 (kIOReturnNotPrivileged)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnNotOpen), "0xE00002CD (kIOReturnNotOpen)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnNoDevice), "0xE00002C0 (kIOReturnNoDevice)");
    // Named by the platform but not in user-facing texts.
    EXPECT_EQ(HIDPPError::ioReturnDescription(pf::kIOReturnNoMemory), "0xE00002BD (unknown)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(0x1234), "0x00001234 (unknown)");
    EXPECT_EQ(HIDPPError::ioReturnDescription(-1), "0xFFFFFFFF (unknown)");
}

TEST(HIDPPError, EqualityAndHashingCoverCaseAndPayload) {
    EXPECT_EQ(HIDPPError::notOpen(), HIDPPError::notOpen());
    EXPECT_NE(HIDPPError::timeout("a"), HIDPPError::timeout("b"));
    EXPECT_NE(HIDPPError::ioKit("op", 1), HIDPPError::ioKit("op", 2));
    EXPECT_NE(HIDPPError::malformedResponse("x"), HIDPPError::invalidArgument("x"));
    std::unordered_set<HIDPPError> set{HIDPPError::notOpen(), HIDPPError::notOpen(), HIDPPError::protocol10(1),
                                       HIDPPError::protocol20(HIDPP20ErrorCode(1))};
    EXPECT_EQ(set.size(), 3u);
}

TEST(HIDPPFeature, CatalogueOrderIdentifiersAndNames) {
    ASSERT_EQ(allHIDPPFeatures.size(), 28u);
    EXPECT_EQ(allHIDPPFeatures[6], HIDPPFeature::unifiedBattery);
    EXPECT_EQ(allHIDPPFeatures[7], HIDPPFeature::batteryStatus);
    EXPECT_EQ(allHIDPPFeatures[18], HIDPPFeature::reprogControlsV4);
    EXPECT_EQ(allHIDPPFeatures[27], HIDPPFeature::mouseButtonSpy);
    for (HIDPPFeature f : allHIDPPFeatures) EXPECT_EQ(hidppFeature(rawValue(f)), f);
    EXPECT_EQ(hidppFeature(0x1D4B), std::nullopt);
    EXPECT_EQ(name(HIDPPFeature::configurableProperties), "ConfigurableDeviceProperties");
    EXPECT_EQ(name(HIDPPFeature::reprogControlsV4), "ReprogrammableControlsV4");
    EXPECT_EQ(name(HIDPPFeature::dfuControl), "DFUControl");
    EXPECT_EQ(description(HIDPPFeature::root), "0x0000 Root");
    EXPECT_EQ(description(HIDPPFeature::adjustableDPI), "0x2201 AdjustableDPI");
    EXPECT_EQ(description(HIDPPFeature::onboardProfiles), "0x8100 OnboardProfiles");
}

TEST(HIDPPFeature, TypeFlagsAndRecords) {
    EXPECT_EQ(HIDPPFeatureType(0x07).description(), "-");
    EXPECT_EQ(HIDPPFeatureType(0xF8).description(), "obsolete,hidden,engineering,manufDeactivatable,compliDeactivatable");
    EXPECT_EQ((HIDPPFeatureType::hidden | HIDPPFeatureType::engineering).rawValue, 0x60);

    const HIDPPFeatureRecord unknown(7, 0x1D4B, HIDPPFeatureType(), 0);
    EXPECT_EQ(unknown.feature, std::nullopt);
    EXPECT_EQ(unknown.name(), "unknown");
    EXPECT_EQ(unknown.description(), "idx 0x07 -> 0x1D4B unknown v0 [-]");

    const HIDPPFeatureRecord dpi(9, 0x2201, HIDPPFeatureType(0x60), 2);
    EXPECT_EQ(dpi.feature, HIDPPFeature::adjustableDPI);
    EXPECT_EQ(dpi.description(), "idx 0x09 -> 0x2201 AdjustableDPI v2 [hidden,engineering]");
    EXPECT_NE(dpi, HIDPPFeatureRecord(9, 0x2201, HIDPPFeatureType(0x60), 3));
    EXPECT_EQ(std::hash<HIDPPFeatureRecord>{}(dpi), std::hash<HIDPPFeatureRecord>{}(HIDPPFeatureRecord(9, 0x2201, HIDPPFeatureType(0x60), 2)));
}

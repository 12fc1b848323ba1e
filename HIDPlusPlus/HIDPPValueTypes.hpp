#pragma once

// Every plain value the HID++ client hands to the rest of the program.
#include "HIDPlusPlus/HIDPPConnectionState.hpp"
#include "HIDPlusPlus/HIDPPDPIRange.hpp"
#include "HIDPlusPlus/HIDPPDeviceIdentity.hpp"
#include "HIDPlusPlus/HIDPPDeviceInformation.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "HIDPlusPlus/HIDPPOnboardProfiles.hpp"
#include "HIDPlusPlus/HIDPPReportRate.hpp"
#include "HIDPlusPlus/HIDPPTransportStatistics.hpp"
#include "HIDPlusPlus/HIDPPWheelMode.hpp"

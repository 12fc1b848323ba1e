#pragma once

#include <cstdint>
#include <span>

#include "FakeMouse/FakeUSBMouse.hpp"

namespace ravolet::testing {

// A plain three-button wheel mouse of another vendor, to sit beside the fake
// G502 X: vendor 0x093A, product 0x2510, bus USB, name "PixArt USB Optical
// Mouse", physical path "usb-0000:00:14.0-3/input0"; one interface with 8-bit
// relative X and Y and a wheel (one report a detent), no report ids, no
// horizontal wheel, no output reports. The kernel makes one hidraw node and
// one event node for it. Inside the kernel test VM only.
class FakeOrdinaryMouse : public FakeUSBMouse {
public:
    static constexpr std::uint16_t vendorID = 0x093A;
    static constexpr std::uint16_t productID = 0x2510;
    static constexpr const char* name = "PixArt USB Optical Mouse";
    static constexpr const char* usbPort = "usb-0000:00:14.0-3";

    static std::span<const std::uint8_t> reportDescriptor();

    FakeOrdinaryMouse();
};

} // namespace ravolet::testing

#pragma once

// Decoding of the replies of HIDPPDevice whose layout is more than fixed bytes.

#include <cstdint>
#include <span>
#include <string>

#include "HIDPlusPlus/HIDPPDPIRange.hpp"
#include "HIDPlusPlus/HIDPPDevice.hpp"

namespace ravolet {

// A getSensorDpiList payload: big-endian words from byte 1 on, ending at a 0
// word or the payload's end. A word with its top three bits set, with a word
// before and after it, makes a range: minimum, step (low 13 bits), maximum.
// Anything else is a list of the words as read.
HIDPPResult<HIDPPDPIRange> decodeDPIList(const HIDPPBytes& payload);

// UTF-8 text from device bytes; every invalid sequence becomes U+FFFD.
std::string decodeUTF8Lossy(std::span<const std::uint8_t> bytes);

} // namespace ravolet

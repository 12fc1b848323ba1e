#include "HIDPlusPlus/HIDPPDeviceDecoding.hpp"

#include <algorithm>
#include <vector>

namespace ravolet {

HIDPPResult<HIDPPDPIRange> decodeDPIList(const HIDPPBytes& p) {
    if (p.size() < 3) return std::unexpected(HIDPPError::malformedResponse("getSensorDpiList reply too short"));
    std::vector<std::int64_t> words;
    for (std::size_t at = 1; at + 1 < p.size(); at += 2) {
        const auto w = static_cast<std::int64_t>(p[at] << 8 | p[at + 1]);
        if (w == 0) break;
        words.push_back(w);
    }
    if (words.empty()) return std::unexpected(HIDPPError::malformedResponse("empty DPI list"));
    const auto marker = std::find_if(words.begin(), words.end(), [](std::int64_t w) { return (w & 0xE000) == 0xE000; });
    if (marker != words.end() && marker != words.begin() && marker + 1 != words.end())
        return HIDPPDPIRange::range(*(marker - 1), *(marker + 1), *marker & 0x1FFF);
    return HIDPPDPIRange::list(std::move(words));
}

std::string decodeUTF8Lossy(std::span<const std::uint8_t> bytes) {
    static constexpr char replacement[] = "\xEF\xBF\xBD";
    std::string text;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            text.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        // Length of the sequence and the allowed range of its second byte.
        std::size_t length = 0;
        std::uint8_t low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        if (length == 0) {
            text += replacement;
            ++i;
            continue;
        }
        // The longest valid prefix is replaced as one; decoding resumes at the byte that broke it.
        std::size_t n = 1;
        while (n < length && i + n < bytes.size()) {
            const std::uint8_t b = bytes[i + n];
            const bool ok = n == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
            if (!ok) break;
            ++n;
        }
        if (n == length) text.append(reinterpret_cast<const char*>(bytes.data() + i), length);
        else text += replacement;
        i += n;
    }
    return text;
}

} // namespace ravolet

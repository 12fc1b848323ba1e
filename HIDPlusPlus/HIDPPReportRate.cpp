#include "HIDPlusPlus/HIDPPReportRate.hpp"

#include <fmt/format.h>

namespace ravolet {

std::optional<HIDPPReportRate> HIDPPReportRate::fromHertz(std::int64_t hertz) {
    if (hertz < 1) return std::nullopt;
    const std::int64_t interval = 1000 / hertz;
    if (interval * hertz != 1000) return std::nullopt;
    return HIDPPReportRate(interval);
}

std::string HIDPPReportRate::description() const { return fmt::format("{} Hz ({} ms)", hertz(), milliseconds); }

std::vector<HIDPPReportRate> HIDPPReportRateInfo::supported() const {
    std::vector<HIDPPReportRate> rates;
    for (int bit = 0; bit < 8; ++bit) {
        if (bitmap & (1u << bit)) rates.emplace_back(bit + 1);
    }
    return rates;
}

std::string HIDPPReportRateInfo::description() const {
    std::string rates;
    for (const HIDPPReportRate& r : supported()) {
        if (!rates.empty()) rates += '/';
        rates += fmt::format("{}Hz", r.hertz());
    }
    return fmt::format("current={} supported=[{}] bitmap=0x{:02X}", current.description(), rates, bitmap);
}

} // namespace ravolet

#include "HIDPlusPlus/HIDPPWire.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace ravolet::HIDPPWire {

std::expected<std::vector<std::uint8_t>, HIDPPError> encodeRequest(std::uint8_t deviceIndex, std::uint8_t featureIndex,
                                                                   std::uint8_t function,
                                                                   std::span<const std::uint8_t> parameters, bool isLong,
                                                                   std::uint8_t softwareIdentifier) {
    const std::size_t payloadLength = static_cast<std::size_t>(isLong ? longPayloadLength : shortPayloadLength);
    if (parameters.size() > payloadLength - 3) {
        return std::unexpected(HIDPPError::invalidArgument(
            fmt::format("{} parameter bytes do not fit in a {} report", parameters.size(), isLong ? "long" : "short")));
    }
    std::vector<std::uint8_t> report(payloadLength + 1, 0);
    report[0] = isLong ? longReportID : shortReportID;
    report[1] = deviceIndex;
    report[2] = featureIndex;
    report[3] = functionByte(function, softwareIdentifier);
    std::ranges::copy(parameters, report.begin() + 4);
    return report;
}

std::optional<InputReport> classify(std::span<const std::uint8_t> report) {
    if (report.size() < 4 || (report[0] != shortReportID && report[0] != longReportID)) return std::nullopt;
    InputReport result;
    const bool errorForm = report.size() >= 6;
    if (errorForm && (report[2] == errorFeatureIndex20 || report[2] == errorFeatureIndex10)) {
        result.kind = report[2] == errorFeatureIndex20 ? InputReport::Kind::error20 : InputReport::Kind::error10;
        result.key = {report[1], report[3], report[4]};
        result.errorCode = report[5];
        return result;
    }
    result.kind = InputReport::Kind::reply;
    result.key = {report[1], report[2], report[3]};
    result.payload = report.subspan(4);
    return result;
}

} // namespace ravolet::HIDPPWire

#include "Platform/Linux/HID/HIDReportDescriptor.hpp"

#include <algorithm>
#include <array>

#include <fmt/format.h>

namespace ravolet::platform {

namespace {

// Item tags (HID 1.11, section 6.2.2), by item type.
enum : std::uint8_t {
    mainInput = 0x8,
    mainOutput = 0x9,
    mainCollection = 0xA,
    mainFeature = 0xB,
    mainEndCollection = 0xC,
};
enum : std::uint8_t {
    globalUsagePage = 0x0,
    globalReportSize = 0x7,
    globalReportID = 0x8,
    globalReportCount = 0x9,
    globalPush = 0xA,
    globalPop = 0xB,
};
constexpr std::uint8_t localUsage = 0x0;
constexpr std::uint8_t collectionApplication = 0x01;
constexpr std::uint8_t longItemPrefix = 0xFE;

// The kernel's own limits (HID_MAX_USAGES, the largest report size it takes,
// HID_GLOBAL_STACK_SIZE): a device beyond them never gets a hidraw node.
constexpr std::uint32_t maxReportCount = 12288;
constexpr std::uint32_t maxReportSize = 256;
constexpr std::size_t globalStackLimit = 4;

struct Globals {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportID = 0;
};

enum ReportKind { input, output, feature, kindCount };

std::unexpected<std::string> failure(std::size_t offset, std::string_view what) {
    return std::unexpected(fmt::format("The report descriptor is malformed at byte {}: {}.", offset, what));
}

} // namespace

std::expected<HIDReportDescriptor, std::string> HIDReportDescriptor::parse(std::span<const std::uint8_t> bytes) {
    HIDReportDescriptor result;
    Globals globals;
    std::array<Globals, globalStackLimit> stack{};
    std::size_t stackDepth = 0;
    // The first usage given since the last main item: it names a collection.
    Usage firstUsage;
    bool haveUsage = false;
    int depth = 0;
    // Bits of each report, by kind and report id (0 while reports are unnumbered).
    std::array<std::array<std::uint64_t, 256>, kindCount> bits{};

    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::size_t at = offset;
        const std::uint8_t prefix = bytes[offset++];
        if (prefix == longItemPrefix) {
            // A long item: its size, its tag, then its data; none is defined.
            if (bytes.size() - offset < 2) return failure(at, "a long item is cut short");
            const std::size_t size = bytes[offset];
            offset += 2;
            if (bytes.size() - offset < size) return failure(at, "a long item is cut short");
            offset += size;
            continue;
        }
        const std::size_t size = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        if (bytes.size() - offset < size) return failure(at, "an item is cut short");
        std::uint32_t data = 0;
        for (std::size_t i = 0; i < size; ++i) data |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
        offset += size;
        const std::uint8_t type = (prefix >> 2) & 0x3;
        const std::uint8_t tag = prefix >> 4;

        if (type == 1) { // global
            switch (tag) {
            case globalUsagePage: globals.usagePage = data; break;
            case globalReportSize:
                if (data > maxReportSize) return failure(at, fmt::format("report size {} is too large", data));
                globals.reportSize = data;
                break;
            case globalReportCount:
                if (data > maxReportCount) return failure(at, fmt::format("report count {} is too large", data));
                globals.reportCount = data;
                break;
            case globalReportID:
                if (data == 0 || data > 0xFF) return failure(at, fmt::format("report id {} is not allowed", data));
                globals.reportID = static_cast<std::uint8_t>(data);
                result.numberedReports = true;
                break;
            case globalPush:
                if (stackDepth == globalStackLimit) return failure(at, "too many pushes");
                stack[stackDepth++] = globals;
                break;
            case globalPop:
                if (stackDepth == 0) return failure(at, "a pop without a push");
                globals = stack[--stackDepth];
                break;
            default: break;
            }
        } else if (type == 2) { // local
            if (tag == localUsage && !haveUsage) {
                // A four-byte usage carries its own page in its upper half.
                firstUsage = size == 4 ? Usage{data >> 16, data & 0xFFFF} : Usage{globals.usagePage, data};
                haveUsage = true;
            }
        } else if (type == 0) { // main
            switch (tag) {
            case mainInput:
            case mainOutput:
            case mainFeature: {
                const ReportKind kind = tag == mainInput ? input : tag == mainOutput ? output : feature;
                bits[kind][globals.reportID] += std::uint64_t{globals.reportSize} * globals.reportCount;
                break;
            }
            case mainCollection:
                if (depth == 0 && (data & 0xFF) == collectionApplication) {
                    result.applications.push_back(haveUsage ? firstUsage : Usage{globals.usagePage, 0});
                }
                ++depth;
                break;
            case mainEndCollection:
                if (depth == 0) return failure(at, "a collection ends that was never begun");
                --depth;
                break;
            default: break; // reserved: the kernel passes over these too
            }
            // Every main item, a reserved one too, ends what the local items said.
            haveUsage = false;
        }
        // Type 3 is reserved; such items are skipped.
    }
    if (depth != 0) return failure(bytes.size(), "a collection is never ended");

    const auto longest = [&](ReportKind kind) -> std::int64_t {
        std::uint64_t most = 0;
        for (const std::uint64_t b : bits[kind]) most = std::max(most, b);
        if (most == 0) return 0;
        return static_cast<std::int64_t>((most + 7) / 8) + (result.numberedReports ? 1 : 0);
    };
    result.maxInputReportSize = longest(input);
    result.maxOutputReportSize = longest(output);
    result.maxFeatureReportSize = longest(feature);
    return result;
}

} // namespace ravolet::platform

#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

namespace ravolet::platform {

// What our HID layer needs to know of a device's report descriptor (the bytes
// of sysfs's report_descriptor): its top-level application collections, which
// the host lists as the device's usage pairs (the first one is its primary
// usage), whether its reports are numbered, and its longest input, output and
// feature reports in bytes, the report id counted where reports are numbered,
// as the host's registry gives them. The HID++ client finds the mouse's HID++
// interface by these: a vendor-page collection and room for a 20-byte output
// report.
struct HIDReportDescriptor {
    struct Usage {
        std::int64_t page = 0;
        std::int64_t usage = 0;
        friend bool operator==(const Usage&, const Usage&) = default;
    };

    std::vector<Usage> applications;
    bool numberedReports = false;
    std::int64_t maxInputReportSize = 0;
    std::int64_t maxOutputReportSize = 0;
    std::int64_t maxFeatureReportSize = 0;

    friend bool operator==(const HIDReportDescriptor&, const HIDReportDescriptor&) = default;

    // Reads a descriptor by the rules of USB HID's item format,
    // as strictly as the kernel does where a mistake would give wrong sizes:
    // an item cut short, a collection ended that was never begun or never
    // ended, report id 0, report sizes and counts beyond the kernel's limits,
    // a push beyond its stack or a pop of an empty one fail with a sentence
    // saying what and where. Items it has no use for are skipped, and so are
    // reserved ones (main items of an unknown tag included), as the kernel
    // skips them when it makes the device's nodes.
    static std::expected<HIDReportDescriptor, std::string> parse(std::span<const std::uint8_t> bytes);
};

} // namespace ravolet::platform

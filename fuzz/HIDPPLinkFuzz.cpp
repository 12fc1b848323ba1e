// Feeds arbitrary input reports to an open HID++ link with requests in
// flight, on a simulated bus with virtual time. The input is a little
// program: each step takes an operation byte and its operands, so that
// requests, replies, time-outs, closes and raw reports interleave freely.
//
// Checked on every input: no crash or sanitizer report, every completion is
// called exactly once, and the statistics never go backwards.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "HIDPlusPlus/HIDPPLink.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"

using namespace ravolet;
namespace pf = ravolet::platform;

namespace {

struct Reader {
    std::span<const std::uint8_t> data;
    bool empty() const { return data.empty(); }
    std::uint8_t byte() {
        if (data.empty()) return 0;
        const std::uint8_t b = data.front();
        data = data.subspan(1);
        return b;
    }
    std::vector<std::uint8_t> bytes(std::size_t n) {
        n = std::min(n, data.size());
        std::vector<std::uint8_t> out(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        data = data.subspan(n);
        return out;
    }
};

void check(bool condition) {
    if (!condition) std::abort();
}

bool notLess(const HIDPPTransportStatistics& now, const HIDPPTransportStatistics& before) {
    return now.requestsSent >= before.requestsSent && now.repliesMatched >= before.repliesMatched &&
           now.staleRepliesDropped >= before.staleRepliesDropped && now.unmatchedReportsDropped >= before.unmatchedReportsDropped &&
           now.notificationsDelivered >= before.notificationsDelivered && now.peakQueueDepth >= before.peakQueueDepth;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bus = pf::SimulatedHIDBus::make();
    auto loop = std::make_shared<pf::ManualScheduler>();
    const HIDPPEnvironment environment{bus, loop, [loop] { return std::shared_ptr<pf::Executor>(loop); }};

    pf::SimulatedHIDInterface vendor;
    vendor.vendorID = 0x046D;
    vendor.productID = 0xC099;
    vendor.usagePairs = {{0xFF00, 1}};
    vendor.maxInputReportSize = 20;
    vendor.maxOutputReportSize = 20;
    auto mouse = bus->attachOne(vendor.properties());

    Reader in{std::span(data, size)};
    // The device answers each request with whatever the input says next:
    // nothing, an echo of the header with a payload, or an error report.
    std::vector<std::vector<std::uint8_t>> scripted;
    mouse->setResponder([&scripted](std::span<const std::uint8_t> out) {
        std::vector<pf::SimulatedHIDReply> replies;
        if (scripted.empty()) return replies;
        std::vector<std::uint8_t> reply = std::move(scripted.back());
        scripted.pop_back();
        if (reply.size() >= 4 && out.size() >= 4 && (reply[0] & 1)) {
            reply[1] = out[1], reply[2] = out[2], reply[3] = out[3];
        }
        // Read before the reply is moved into place: its last byte says how late it comes.
        const auto delay = std::chrono::milliseconds(reply.empty() ? 0 : reply.back() % 8);
        replies.push_back({std::move(reply), delay});
        return replies;
    });

    auto link = HIDPPLink::make(bus->createDevice(mouse), environment);
    check(link->open().has_value());
    link->setNotificationHandler([](std::uint8_t, std::uint8_t, std::vector<std::uint8_t>) {});

    std::size_t submitted = 0;
    auto completions = std::make_shared<std::vector<int>>();
    HIDPPTransportStatistics last;

    for (int steps = 0; !in.empty() && steps < 256; ++steps) {
        switch (in.byte() % 8) {
        case 0: {  // a request
            const std::uint8_t feature = in.byte();
            const std::uint8_t function = in.byte();
            const std::uint8_t flags = in.byte();
            auto params = in.bytes(flags % 20);
            const std::size_t index = submitted++;
            completions->push_back(0);
            link->submit(0xFF, feature, function, std::move(params), (flags & 0x80) != 0, (flags % 5) * 0.01, "fuzz",
                         [completions, index](HIDPPLink::Result) { ++(*completions)[index]; });
            break;
        }
        case 1:  // a raw report straight into the link, any length
            link->handleInputReport(in.bytes(in.byte()));
            break;
        case 2:  // a raw report through the bus (cut to the input buffer)
            mouse->inject(in.bytes(in.byte()), std::chrono::milliseconds(in.byte() % 4));
            break;
        case 3:  // the next answer
            scripted.push_back(in.bytes(in.byte() % 40));
            break;
        case 4:
            loop->advance(std::chrono::milliseconds(in.byte()));
            break;
        case 5:
            loop->runUntilIdle();
            break;
        case 6:
            if (in.byte() & 1) {
                link->close();
                check(link->open().has_value());
            } else {
                mouse->setWriteResult(in.byte() & 1 ? pf::kIOReturnSuccess : pf::kIOReturnError);
            }
            break;
        case 7:
            link->setNotificationHandler(in.byte() & 1 ? HIDPPLink::NotificationHandler{} : [](std::uint8_t, std::uint8_t, std::vector<std::uint8_t>) {});
            break;
        }
        check(notLess(link->statistics(), last));
        last = link->statistics();
        for (int count : *completions) check(count <= 1);
    }

    loop->runAll();
    link->close();
    loop->runAll();
    for (int count : *completions) check(count == 1);
    return 0;
}

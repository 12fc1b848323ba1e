#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// The six counters of a link.
struct HIDPPTransportStatistics {
    std::int64_t requestsSent = 0;             // requests put on the wire
    std::int64_t repliesMatched = 0;           // replies and error replies matched to the request in flight
    std::int64_t staleRepliesDropped = 0;      // reports whose key belonged to a recently finished request
    std::int64_t unmatchedReportsDropped = 0;  // HID++ reports that matched nothing and were no notifications
    std::int64_t notificationsDelivered = 0;   // notifications received
    std::int64_t peakQueueDepth = 0;           // the most requests waiting at once

    // "sent=3 matched=2 staleDropped=0 unmatchedDropped=1 events=4 peakQueue=2".
    std::string description() const;

    friend bool operator==(const HIDPPTransportStatistics&, const HIDPPTransportStatistics&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPTransportStatistics& s) { return os << s.description(); }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPTransportStatistics> {
    std::size_t operator()(const ravolet::HIDPPTransportStatistics& s) const noexcept {
        return ravolet::hashFields(s.requestsSent, s.repliesMatched, s.staleRepliesDropped, s.unmatchedReportsDropped,
                                  s.notificationsDelivered, s.peakQueueDepth);
    }
};

#include "HIDPlusPlus/HIDPPTransportStatistics.hpp"

#include <fmt/format.h>

namespace ravolet {

std::string HIDPPTransportStatistics::description() const {
    return fmt::format("sent={} matched={} staleDropped={} unmatchedDropped={} events={} peakQueue={}", requestsSent, repliesMatched,
                       staleRepliesDropped, unmatchedReportsDropped, notificationsDelivered, peakQueueDepth);
}

} // namespace ravolet

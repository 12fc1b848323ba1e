#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>

#include "Platform/Thread.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// Timing and health counters of the event tap; all start at 0.
struct TapMetrics {
    std::int64_t events = 0;              // handler calls timed
    double maxCallbackNanos = 0;          // longest handler call
    double totalCallbackNanos = 0;        // sum of all handler call times
    std::int64_t budgetOverruns = 0;      // handler calls longer than the budget
    double worstOverrunNanos = 0;         // longest call among those over budget (the whole call)
    std::int64_t disabledByTimeout = 0;   // times the system disabled the tap by time-out
    std::int64_t disabledByUserInput = 0; // times the system disabled the tap by user input
    std::int64_t reEnables = 0;           // times the tap was switched back on
    // The tap thread's nice value: what it asks for, what it got and who
    // gave it (itself, or the desktop's RealtimeKit where an ordinary user
    // may not raise it).
    platform::ThreadNice threadNice;

    double maxCallbackMillis() const { return maxCallbackNanos / 1e6; }
    double meanCallbackMicros() const {
        return events == 0 ? 0.0 : totalCallbackNanos / static_cast<double>(events) / 1000.0;
    }
    // How many of the longest calls fit into one second.
    double watchdogHeadroomFactor() const {
        return maxCallbackNanos == 0 ? std::numeric_limits<double>::infinity() : 1e9 / maxCallbackNanos;
    }

    friend bool operator==(const TapMetrics&, const TapMetrics&) = default;
    friend std::ostream& operator<<(std::ostream& os, const TapMetrics& m) {
        return os << "TapMetrics(events " << m.events << ", max " << m.maxCallbackNanos << "ns, total "
                  << m.totalCallbackNanos << "ns, overruns " << m.budgetOverruns << ", worst " << m.worstOverrunNanos
                  << "ns, timeout " << m.disabledByTimeout << ", userInput " << m.disabledByUserInput
                  << ", reEnables " << m.reEnables << ", nice " << m.threadNice.actual << " of "
                  << m.threadNice.wanted << " by " << platform::toString(m.threadNice.setBy) << ')';
    }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::TapMetrics> {
    std::size_t operator()(const ravolet::TapMetrics& m) const noexcept {
        return ravolet::hashFields(m.events, m.maxCallbackNanos, m.totalCallbackNanos, m.budgetOverruns,
                                   m.worstOverrunNanos, m.disabledByTimeout, m.disabledByUserInput, m.reEnables,
                                   m.threadNice.wanted, m.threadNice.actual, m.threadNice.setBy);
    }
};

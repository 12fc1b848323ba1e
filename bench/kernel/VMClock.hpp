#pragma once

// Which clock the VM's kernel keeps time by, in the run's context: under
// emulation without --tsc it is the HPET, whose every read is a trapped
// device access, and the figures are then not a real machine's.

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

namespace ravolet::bench {

inline void reportClockSource() {
    std::ifstream file("/sys/devices/system/clocksource/clocksource0/current_clocksource");
    std::string source;
    std::getline(file, source);
    benchmark::AddCustomContext("clocksource", source.empty() ? "unknown" : source);
}

} // namespace ravolet::bench

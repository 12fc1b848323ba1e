#pragma once

#include <fstream>
#include <string>

namespace ravolet::testing {

// Whether this process runs inside the kernel test VM: scripts/kernel-test.sh
// puts its mark on the kernel's command line. Programs that need the VM's
// kernel (the kernel tests, the kernel benchmarks) refuse to run elsewhere.
inline bool insideKernelTestVM() {
    std::ifstream file("/proc/cmdline");
    std::string word;
    while (file >> word) {
        if (word == "ravolet.kerneltest=1") return true;
    }
    return false;
}

} // namespace ravolet::testing

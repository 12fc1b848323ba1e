// main() of every kernel test: GoogleTest's, but only inside the kernel test
// VM, whose kernel command line carries scripts/kernel-test.sh's mark. On any
// other machine a kernel test fails at once instead of passing on whatever
// kernel it finds.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool insideKernelTestVM() {
    std::ifstream file("/proc/cmdline");
    std::string word;
    while (file >> word) {
        if (word == "ravolet.kerneltest=1") return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (!insideKernelTestVM()) {
        std::fprintf(stderr,
                     "%s runs only inside the kernel test VM: scripts/kernel-test.sh <build-dir> %s "
                     "(or ctest -L kernel in the build folder)\n",
                     argv[0], argv[0]);
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

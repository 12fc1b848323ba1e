// main() of every kernel test: GoogleTest's, but only inside the kernel test
// VM, whose kernel command line carries scripts/kernel-test.sh's mark. On any
// other machine a kernel test fails at once instead of passing on whatever
// kernel it finds.
#include <gtest/gtest.h>

#include <cstdio>

#include "KernelTestVM.hpp"

int main(int argc, char** argv) {
    if (!ravolet::testing::insideKernelTestVM()) {
        std::fprintf(stderr,
                     "%s runs only inside the kernel test VM: scripts/kernel-test.sh <build-dir> %s "
                     "(or ctest -L kernel in the build folder)\n",
                     argv[0], argv[0]);
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

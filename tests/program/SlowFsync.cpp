// A slow disk for the process it is preloaded into (LD_PRELOAD): every fsync
// and fdatasync waits half a second before it does its work, as on a busy
// spinning disk or a network file system.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

using Sync = int (*)(int);

// The real call, once half a second has gone by.
int slowly(const Sync real, int fd) {
    const int saved = errno;
    timespec left{0, 500'000'000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    errno = saved;
    return real(fd);
}

Sync next(const char* name) { return reinterpret_cast<Sync>(::dlsym(RTLD_NEXT, name)); }

} // namespace

extern "C" int fsync(int fd) {
    static const Sync real = next("fsync");
    return slowly(real, fd);
}

extern "C" int fdatasync(int fd) {
    static const Sync real = next("fdatasync");
    return slowly(real, fd);
}

#include "tools/common/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

void OpenClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free descriptor is fd itself: those below it are open.
        const int null = open("/dev/null", O_RDWR);
        if (null != fd) {
            _exit(1);
        }
    }
}

namespace {

// The same step from .preinit_array, before any shared library is
// initialised: gRPC, which libpelk.so loads, opens an eventfd as it is
// loaded, and would take a closed 0, 1 or 2 for it.
void OpenBeforeLibraries(int, char**, char**) {
    OpenClosedStandardDescriptors();
}

using Preinit = void (*)(int, char**, char**);
__attribute__((section(".preinit_array"), used)) const Preinit kOpenBeforeLibraries =
    OpenBeforeLibraries;

}  // namespace

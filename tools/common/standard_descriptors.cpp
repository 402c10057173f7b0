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

#include "services/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int KeepOffStandardDescriptors(int fd) {
    if (fd < 0 || fd > 2) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

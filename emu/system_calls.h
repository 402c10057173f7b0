// The system calls of the emulator backend on its FIFOs, reached through
// one table so that tests can stand between the library and the runtime
// (delay an open, fail a read). Bound to the C library's own functions; not
// exported from libpelk.so.
#ifndef PELK_EMU_SYSTEM_CALLS_H
#define PELK_EMU_SYSTEM_CALLS_H

#include <poll.h>
#include <sys/types.h>
#include <sys/uio.h>

struct EmuSystemCalls {
    int (*open)(const char* path, int flags, ...);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t length);
    ssize_t (*write)(int fd, const void* buffer, size_t length);
    ssize_t (*readv)(int fd, const struct iovec* parts, int count);
    ssize_t (*writev)(int fd, const struct iovec* parts, int count);
    ssize_t (*pwritev2)(int fd, const struct iovec* parts, int count, off_t offset, int flags);
    int (*poll)(struct pollfd* fds, nfds_t count, int timeoutMs);
    int (*fcntl)(int fd, int cmd, ...);
};

extern EmuSystemCalls g_emuSystemCalls;

#endif

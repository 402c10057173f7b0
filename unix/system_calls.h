// The five system calls of the kernel-driver backend, reached through one
// table so that tests can put a simulated driver in place of the real one.
// Bound to the C library's own functions; not exported from libpelk.so.
#ifndef PELK_UNIX_SYSTEM_CALLS_H
#define PELK_UNIX_SYSTEM_CALLS_H

#include <poll.h>

struct UnixSystemCalls {
    int (*open)(const char* path, int flags, ...);
    int (*fcntl)(int fd, int cmd, ...);
    int (*close)(int fd);
    int (*ioctl)(int fd, unsigned long request, ...);
    int (*poll)(struct pollfd* fds, nfds_t count, int timeoutMs);
};

extern UnixSystemCalls g_unixSystemCalls;

#endif

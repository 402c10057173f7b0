#include "tools/zbhost/instance.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "services/shared_access.h"
#include "tools/zbhost/fifo.h"
#include "wire/emulator_paths.h"

namespace {

// Libraries see whether zbhost lives by taking its lock shared for an
// instant; such a look is no other zbhost, so a refused lock is tried again
// for a little while.
bool LockExclusively(int fd) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK) return false;
        usleep(1000);
    }
    return false;
}

// Holds the host-wide lock of the one running zbhost; -1 when another has it.
int TakeInstanceLock(std::string* reason) {
    const EmulatorPath lockPath = EmulatorFile(ZBHOST_LOCK_NAME);
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = open(lockPath.text, O_RDWR | O_CREAT | O_CLOEXEC, SharedByGroup() ? 0600 : 0644);
        if (fd != -1 && SharedByGroup() && (errno = ShareDescriptor(fd)) != 0) {
            close(fd);
            fd = -1;
        }
        if (fd == -1) {
            *reason = std::string("cannot create ") + EmulatorDir() + "/" + ZBHOST_LOCK_NAME +
                      ": " + std::strerror(errno) + " (is the directory writable?)";
            return -1;
        }
        if (!LockExclusively(fd)) {
            *reason = "another zbhost already serves this host";
            close(fd);
            return -1;
        }
        // The lock counts only if the file was not removed by a leaving
        // zbhost between our open and flock.
        struct stat held, named;
        if (fstat(fd, &held) == 0 && stat(lockPath.text, &named) == 0 &&
            held.st_ino == named.st_ino) {
            return fd;
        }
        close(fd);
    }
    *reason = std::string("cannot hold ") + lockPath.text;
    return -1;
}

// A runtime of another kind may serve without our lock: a reader on the
// manager's request pipe shows it.
bool OtherRuntimeServes() {
    int fd = open(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) {
        return false;
    }
    close(fd);
    return true;
}

}  // namespace

int TakeInstance(bool verbose, std::string* problem) {
    if (EmulatorFile(ZBHOST_LOCK_NAME).text[0] == '\0') {
        *problem = std::string(kEmulatorDirVariable) + " is longer than " +
                   std::to_string(ZBHOST_DIR_MAX) + " bytes";
        return -1;
    }
    const int lock = TakeInstanceLock(problem);
    if (lock == -1) {
        return -1;
    }
    if (OtherRuntimeServes()) {
        *problem = std::string("another runtime already serves ") +
                   EmulatorFile(ZBHOST_MANAGER_IN_NAME).text;
        close(lock);
        return -1;
    }
    const int left = RemoveLeftPairs();
    if (left > 0 && verbose) {
        std::fprintf(stderr, "zbhost: removed %d pipes left by an earlier runtime\n", left);
    }
    return lock;
}

void LeaveInstance(int lock) {
    unlink(EmulatorFile(ZBHOST_LOCK_NAME).text);
    close(lock);
}

int StopSignals() {
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGHUP);
    sigaddset(&stopping, SIGQUIT);
    sigprocmask(SIG_BLOCK, &stopping, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &stopping, SFD_CLOEXEC);
}

void PrepareForManyPairs() {
    // Every pair takes two descriptors.
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // A fixed threshold (instead of one that grows with the largest block
    // freed) keeps every large answer in a mapping of its own.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

// The host-wide System V semaphore that makes the emulator's manager
// handshake a critical section for every process on the host. The marker
// file names the key. Whoever creates the set gives it its initial value:
// a set removed and made anew (the marker still there) starts at 1 again
// instead of 0, which would block every handshake on the host for good.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include <pelklib.h>

#include "emu/dprint.h"
#include "emu/pipe_frame.h"
#include "services/shared_access.h"

namespace {

// Guards the three below, so that objects opened on several threads at
// once obtain the set once; never held while waiting on the semaphore.
std::mutex s_stateLock;
int zbsema = -1;
key_t sema_key = -1;
bool sema_created = false;

int ChangeSemaphore(short change, const char* name) {
    bool created;
    int set;
    {
        std::lock_guard<std::mutex> hold(s_stateLock);
        created = sema_created;
        set = zbsema;
    }
    if (!created) {
        dprint("%s called with sema_created = false\n", name);
        return PKERR_UNKNOWN;
    }
    // Any identifier semget gives is valid, 0 included; -1 means none.
    if (set < 0) {
        dprint("%s called with invalid semaphore \n", name);
        return PKSTATUS_INVALID_HANDLE;
    }
    struct sembuf operation;
    operation.sem_num = 0;
    operation.sem_op = change;
    operation.sem_flg = SEM_UNDO;
    int result = semop(set, &operation, 1);
    if (result != 0) {
        int error = errno;
        dprint("%s, semop returned %d, errno %d: %s\n", name, result, error, strerror(error));
        if (error == EIDRM || error == EINVAL) {
            // The set is gone: the next GetSemaphore obtains it anew.
            std::lock_guard<std::mutex> hold(s_stateLock);
            if (zbsema == set) {
                zbsema = -1;
                sema_created = false;
            }
        }
        return PKERR_UNKNOWN;
    }
    return 0;
}

}  // namespace

int GetSemaphore() {
    std::lock_guard<std::mutex> hold(s_stateLock);
    if (sema_created) {
        return 0;
    }
    int fd = open(ZBHOST_SEMAPHORE_PATH, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, SharedCreateMode());
    if (fd == -1) {
        errno = 0;
    } else {
        // Every sharing process must find it, whatever our umask.
        ShareDescriptor(fd);
        close(fd);
    }

    sema_key = ftok(ZBHOST_SEMAPHORE_PATH, 0);
    if (sema_key == -1) {
        int error = errno;
        dprint("DeterminePipe: error, ftok errno %d: %s\n", error, strerror(error));
        return PKERR_UNKNOWN;
    }
    bool creator = true;
    int set = semget(sema_key, 1, IPC_CREAT | IPC_EXCL | static_cast<int>(SharedCreateMode()));
    if (set == -1 && errno == EEXIST) {
        creator = false;
        set = semget(sema_key, 1, IPC_CREAT | static_cast<int>(SharedCreateMode()));
    }
    if (set == -1) {
        int error = errno;
        dprint("semget failed errno %d: %s\n", error, strerror(error));
        return PKERR_UNKNOWN;
    }
    zbsema = set;
    if (creator && ShareSemaphoreSet(zbsema) != 0) {
        int error = errno;
        dprint("DeterminePipe: semctl failed, errno %d: %s\n", error, strerror(error));
        return PKERR_UNKNOWN;
    }
    if (creator && semctl(zbsema, 0, SETVAL, 1) == -1) {
        int error = errno;
        dprint("DeterminePipe: semctl failed, errno %d: %s\n", error, strerror(error));
        return PKERR_UNKNOWN;
    }
    sema_created = true;
    return 0;
}

int LockSemaphore() {
    return ChangeSemaphore(-1, "LockSemaphore");
}

int UnlockSemaphore() {
    return ChangeSemaphore(1, "UnlockSemaphore");
}

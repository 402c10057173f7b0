// The host-wide System V semaphore that makes the emulator's manager
// handshake a critical section for every process on the host. The marker
// file names the key. A set that nobody has ever taken (sem_otime 0) and
// whose value is 0 has not been given its value yet: its creator gives it
// 1, and so does a waiter that finds it so after a second, in case the
// creator died in between. A set removed and made anew (the marker still
// there) thus starts at 1 again instead of 0, which would block every
// handshake on the host for good. Waiting for a turn is bounded too.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <mutex>

#include <pelklib.h>

#include "emu/dprint.h"
#include "emu/emulator_files.h"
#include "services/shared_access.h"
#include "services/standard_descriptors.h"
#include "wire/emulator_paths.h"

namespace {

// A wait for a turn in the handshake ends when nobody has taken or given
// back a turn for this long: the holder has stopped or hangs. While turns
// change hands the wait goes on, so any number of clients opening at once
// get their turns (4096 take about 13 s).
constexpr int kTurnWaitLimitS = 60;
// How long a waiter waits before it checks whether the set has its value.
constexpr int kTurnWaitSliceS = 1;

// Guards the four below, so that objects opened on several threads at
// once obtain the set once; never held while waiting on the semaphore.
std::mutex s_stateLock;
int zbsema = -1;
key_t sema_key = -1;
bool sema_created = false;
char sema_marker[sizeof(EmulatorPath::text)] = "";  // the marker sema_key was made from

// The set's owner, mode and times; false when they cannot be read.
bool ReadSetState(int set, struct semid_ds* state) {
    union semun {
        int val;
        struct semid_ds* buf;
    } argument;
    argument.buf = state;
    return semctl(set, 0, IPC_STAT, argument) == 0;
}

// The time of the set's last semop (0: never, -1: unknown).
time_t LastTurnChange(int set) {
    struct semid_ds state;
    return ReadSetState(set, &state) ? state.sem_otime : -1;
}

// Gives the set the value 1 if nobody has ever taken it and its value is
// 0. Under the marker file's lock, so no two processes do it at once; only
// this raises the value of a set never taken, so nothing changes it between
// the check and the setting. Someone else checking already is enough.
void GiveValueIfNeverSet(int set) {
    // Off 0 to 2: a failure below is logged while it is open.
    const int marker = KeepOffStandardDescriptors(open(
        EmulatorFile(ZBHOST_SEMAPHORE_NAME).text, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (marker == -1) {
        return;
    }
    if (flock(marker, LOCK_EX | LOCK_NB) == 0) {
        if (LastTurnChange(set) == 0 && semctl(set, 0, GETVAL) == 0) {
            if (semctl(set, 0, SETVAL, 1) == -1) {
                int error = errno;
                dprint("DeterminePipe: semctl failed, errno %d: %s\n", error, strerror(error));
            }
        }
    }
    close(marker);
}

time_t MonotonicSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec;
}

// The set is made with the marker's owner, group and mode: those explain
// a set that refuses us.
void ExplainClosedSet() {
    dprint("Open: the handshake's semaphore set is not open to us; it was made with its marker: "
           "%s\n",
           DescribeOpenFailure(EmulatorFile(ZBHOST_SEMAPHORE_NAME).text, EACCES).c_str());
}

// Takes a turn, waiting until nobody has taken or given back one for
// kTurnWaitLimitS. A signal does not end the wait.
int TakeTurn(int set, const struct sembuf& operation) {
    struct sembuf take = operation;
    time_t lastChange = LastTurnChange(set);
    time_t deadline = MonotonicSeconds() + kTurnWaitLimitS;
    for (;;) {
        const struct timespec slice = {kTurnWaitSliceS, 0};
        if (semtimedop(set, &take, 1, &slice) == 0) {
            return 0;
        }
        if (errno == EAGAIN) {
            const time_t change = LastTurnChange(set);
            if (change != lastChange) {
                lastChange = change;
                deadline = MonotonicSeconds() + kTurnWaitLimitS;
            } else if (MonotonicSeconds() >= deadline) {
                dprint("LockSemaphore: no turn in the handshake changed hands for %d s\n",
                       kTurnWaitLimitS);
                return PKERR_NOT_OPEN;
            }
            GiveValueIfNeverSet(set);
        } else if (errno != EINTR) {
            return -1;
        }
    }
}

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
    int result = change < 0 ? TakeTurn(set, operation) : semop(set, &operation, 1);
    if (result == PKERR_NOT_OPEN) {
        return result;
    }
    if (result != 0) {
        int error = errno;
        dprint("%s, semop returned %d, errno %d: %s\n", name, result, error, strerror(error));
        if (error == EACCES) {
            ExplainClosedSet();
        }
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

// A marker or set that another user made could lead the handshake astray
// (a key of that user's choosing) or hold it up: both are checked like
// every shared object. 0, or -1 with an "Open: " text.
int CheckMarker(const char* marker) {
    std::string refusal;
    const int fd = OpenEmulatorObject(marker, O_RDONLY | O_NONBLOCK, SharedKind::File, &refusal);
    if (fd != -1) {
        close(fd);
    } else if (!refusal.empty()) {
        dprint("Open: the semaphore's marker is refused: %s\n", refusal.c_str());
        return PKERR_UNKNOWN;
    }
    return 0;
}

int CheckSet(int set, const char* marker) {
    struct semid_ds state;
    if (!ReadSetState(set, &state)) {
        return 0;  // not ours to read: the turns themselves fail and say so
    }
    char name[sizeof(EmulatorPath::text) + 64];
    std::snprintf(name, sizeof name, "the handshake's semaphore set %d (key of %s)", set, marker);
    char removal[32];
    std::snprintf(removal, sizeof removal, "ipcrm -s %d", set);
    std::string refusal;
    if (CheckSharedIpc(state.sem_perm, name, removal, &refusal) != 0) {
        dprint("Open: refused: %s\n", refusal.c_str());
        return PKERR_UNKNOWN;
    }
    return 0;
}

}  // namespace

int GetSemaphore() {
    const EmulatorPath marker = EmulatorFile(ZBHOST_SEMAPHORE_NAME);
    std::lock_guard<std::mutex> hold(s_stateLock);
    // The set follows the emulator directory, should it change between opens.
    if (sema_created && std::strcmp(sema_marker, marker.text) == 0) {
        return 0;
    }
    sema_created = false;
    int fd = open(marker.text, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, SharedCreateMode());
    const int createError = fd == -1 ? errno : 0;
    if (fd == -1) {
        if (CheckMarker(marker.text) != 0) {
            return PKERR_UNKNOWN;
        }
        errno = 0;
    } else {
        // Every sharing process must find it, whatever our umask.
        ShareDescriptor(fd);
        close(fd);
    }

    sema_key = ftok(marker.text, 0);
    if (sema_key == -1) {
        int error = errno;
        dprint("DeterminePipe: error, ftok errno %d: %s\n", error, strerror(error));
        if (error == ENOENT && createError != 0) {
            dprint("Open: %s does not exist and cannot be made: %s\n", marker.text,
                   DescribeOpenFailure(marker.text, createError).c_str());
        }
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
        if (error == EACCES) {
            ExplainClosedSet();
        }
        return PKERR_UNKNOWN;
    }
    if (!creator && CheckSet(set, marker.text) != 0) {
        return PKERR_UNKNOWN;
    }
    zbsema = set;
    if (creator && ShareSemaphoreSet(zbsema) != 0) {
        int error = errno;
        dprint("DeterminePipe: semctl failed, errno %d: %s\n", error, strerror(error));
        return PKERR_UNKNOWN;
    }
    if (creator) {
        GiveValueIfNeverSet(zbsema);
    }
    std::memcpy(sema_marker, marker.text, sizeof sema_marker);
    sema_created = true;
    return 0;
}

int LockSemaphore() {
    return ChangeSemaphore(-1, "LockSemaphore");
}

int UnlockSemaphore() {
    return ChangeSemaphore(1, "UnlockSemaphore");
}
